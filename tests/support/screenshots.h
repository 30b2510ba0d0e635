#pragma once
// Pictures of our own windows for the documentation: they go to $LARKVIEW_SCREENSHOTS
// when set, else to the test's own folder, and each is checked not to be one flat colour.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>
#include <cstdlib>
#include <set>
#include <string>

namespace testing_support {

inline std::string ScreenshotPath(const std::string& fallbackFolder, const std::string& name) {
    const char* folder = std::getenv("LARKVIEW_SCREENSHOTS");
    return (folder && *folder ? std::string(folder) : fallbackFolder) + "/" + name;
}

// Saves the picture and checks it shows something: more than ten colours among the
// pixels sampled every `step` pixels.
inline void SaveScreenshot(const QImage& image, const std::string& path, int step) {
    ASSERT_FALSE(image.isNull()) << path;
    EXPECT_TRUE(image.save(QString::fromStdString(path))) << path;
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += step)
        for (int x = 0; x < image.width(); x += step) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 10u) << path << " looks empty";
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
