#pragma once
// Pictures of our own windows for the documentation: they go to $LARKVIEW_SCREENSHOTS
// when set, else to the test's own folder. Each test checks that its picture shows the
// controls and texts it is taken for.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QWidget>
#include <cstdlib>
#include <string>

#include "support/rendered_text.h"
#include "ui/toolkit/control.h"

namespace testing_support {

inline std::string ScreenshotPath(const std::string& fallbackFolder, const std::string& name) {
    const char* folder = std::getenv("LARKVIEW_SCREENSHOTS");
    return (folder && *folder ? std::string(folder) : fallbackFolder) + "/" + name;
}

inline void SaveScreenshot(const QImage& image, const std::string& path) {
    ASSERT_FALSE(image.isNull()) << path;
    EXPECT_TRUE(image.save(QString::fromStdString(path))) << path;
}

// That an area of a picture holds drawn marks (text, a frame), not one flat colour.
inline void ExpectDrawn(const QImage& picture, QRect area, const std::string& what) {
    EXPECT_FALSE(area.isEmpty()) << what << " has no place in the picture";
    EXPECT_GT(InkWidth(picture, area), 0) << what << " is not drawn in the picture";
}

// That `picture`, taken of `shown`, shows `control`: the control is visible, its area
// in the picture holds drawn marks, and, when `text` is given, it holds that text.
inline void ExpectShows(const QImage& picture, QWidget* shown, ui::CControlUI* control, const std::string& text = {}) {
    ASSERT_NE(control, nullptr);
    QWidget* widget = control->GetWidget();
    ASSERT_NE(widget, nullptr);
    const std::string name = widget->objectName().toStdString();
    EXPECT_TRUE(widget->isVisibleTo(shown)) << name << " is not shown";
    if (!text.empty()) {
        EXPECT_EQ(control->GetText(), text) << name;
    }
    ExpectDrawn(picture, QRect(widget->mapTo(shown, QPoint()), widget->size()), name);
}

// A dialog box drawn over the middle of the dimmed window behind it.
inline QImage BoxOverWindow(const QImage& back, const QImage& box) {
    QImage out = back.convertToFormat(QImage::Format_ARGB32);
    QPainter painter(&out);
    painter.fillRect(out.rect(), QColor(0, 0, 0, 110));
    painter.drawImage((out.width() - box.width()) / 2, (out.height() - box.height()) / 2, box);
    return out;
}

}  // namespace testing_support
