#include "sim/alarm_picture.h"

#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

namespace sim {

bool AlarmPictureHasText() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

std::string RenderAlarmPicture(const AlarmPictureText& text, int width, int height) {
    if (width < 16 || height < 16 || width > 4096 || height > 4096) return {};
    QImage image(width, height, QImage::Format_RGB32);
    // Each camera gets its own colours; each alarm its own figure position.
    const std::size_t seed = std::hash<std::string>()(text.cameraName + text.nodeName);
    const int hue = static_cast<int>(seed % 360);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor::fromHsv(hue, 80, 230));
    sky.setColorAt(1, QColor::fromHsv(hue, 140, 120));
    painter.fillRect(image.rect(), sky);
    painter.fillRect(QRect(0, height * 2 / 3, width, height / 3), QColor::fromHsv((hue + 40) % 360, 60, 90));
    for (int b = 0; b < 4; ++b) {
        const int w = width / 8, h = height / 4 + static_cast<int>((seed >> (b * 4)) % 8) * height / 40;
        painter.fillRect(QRect(width / 10 + b * width / 5, height * 2 / 3 - h, w, h), QColor::fromHsv(hue, 30, 60 + b * 25));
    }
    // The intruder: a figure in a red box, as motion detection would mark it.
    const int x = static_cast<int>((text.alarmId * 97) % std::max(1, width - 80)) + 20;
    const int y = height * 2 / 3 - height / 5;
    painter.setBrush(QColor(40, 40, 40));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRect(x + 12, y, 16, 16));
    painter.drawRect(QRect(x + 10, y + 16, 20, height / 5 - 16));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(230, 30, 30), 3));
    painter.drawRect(QRect(x, y - 8, 40, height / 5 + 12));

    if (AlarmPictureHasText()) {
        QFont font;
        font.setFamilies({"WenQuanYi Zen Hei", "Noto Sans CJK SC", "sans-serif"});
        font.setPixelSize(std::max(12, height / 16));
        painter.setFont(font);
        painter.setPen(Qt::white);
        const QRect band(0, 0, width, height / 7);
        painter.fillRect(band, QColor(0, 0, 0, 140));
        painter.drawText(band.adjusted(10, 0, -10, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         QString::fromStdString(text.nodeName + " " + text.cameraName));
        painter.drawText(band.adjusted(10, 0, -10, 0), Qt::AlignVCenter | Qt::AlignRight,
                         QString::fromStdString(text.time));
        const QRect footer(0, height - height / 7, width, height / 7);
        painter.fillRect(footer, QColor(150, 0, 0, 170));
        painter.drawText(footer.adjusted(10, 0, -10, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         QString::fromStdString(text.kindName + "  #" + std::to_string(text.alarmId)));
    }
    painter.end();

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", 80)) return {};
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace sim
