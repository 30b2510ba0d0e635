#include "sim/camera_picture.h"

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

namespace sim {
namespace {

// The scene in its own units: 1600 x 1200, twice a view's width and height at zoom 1.
constexpr double kSceneWidth = 1600;
constexpr double kSceneHeight = 1200;

QColor Hue(std::uint32_t seed, int shift, int saturation, int value) {
    return QColor::fromHsv(static_cast<int>((seed + static_cast<std::uint32_t>(shift)) % 360), saturation, value);
}

QFont TextFont(int pixelSize) {
    QFont font;
    font.setFamilies({"WenQuanYi Zen Hei", "Noto Sans CJK SC", "sans-serif"});
    font.setPixelSize(std::max(8, pixelSize));
    return font;
}

void DrawScene(QPainter& painter, std::uint32_t seed, bool withText) {
    const int hue = static_cast<int>(seed % 360);
    QLinearGradient sky(0, 0, 0, kSceneHeight * 0.55);
    sky.setColorAt(0, QColor::fromHsv(hue, 90, 235));
    sky.setColorAt(1, QColor::fromHsv(hue, 40, 200));
    painter.fillRect(QRectF(0, 0, kSceneWidth, kSceneHeight * 0.55), sky);
    painter.fillRect(QRectF(0, kSceneHeight * 0.55, kSceneWidth, kSceneHeight * 0.45), Hue(seed, 150, 70, 110));

    // The ground's pattern is one of four, so that neighbouring cameras differ even in
    // a similar hue.
    painter.setPen(Qt::NoPen);
    const int pattern = static_cast<int>((seed >> 9) % 4);
    const QColor mark = Hue(seed, 180, 90, 160);
    for (int row = 0; row < 6; ++row)
        for (int column = 0; column < 16; ++column) {
            const QRectF cell(column * 100.0, kSceneHeight * 0.55 + row * 90.0, 100, 90);
            switch (pattern) {
                case 0:
                    if ((row + column) % 2 == 0) painter.fillRect(cell, mark);
                    break;
                case 1:
                    if (column % 2 == 0) painter.fillRect(cell.adjusted(0, 0, -50, 0), mark);
                    break;
                case 2:
                    painter.setBrush(mark);
                    painter.drawEllipse(cell.center(), 30, 25);
                    break;
                default:
                    painter.setBrush(mark);
                    painter.drawPolygon(QPolygonF({cell.bottomLeft(), cell.topLeft() + QPointF(40, 0),
                                                   cell.topRight(), cell.bottomRight() - QPointF(40, 0)}));
                    break;
            }
        }

    // Buildings along the horizon, numbered so that panning is easy to follow.
    std::uint32_t state = seed | 1u;
    for (int b = 0; b < 12; ++b) {
        state = state * 1664525u + 1013904223u;
        const double height = 180 + (state >> 8) % 320;
        const QRectF building(30 + b * 132.0, kSceneHeight * 0.55 - height, 100, height);
        painter.fillRect(building, Hue(seed, 20 * b, 60, 80 + (b % 4) * 35));
        for (double y = building.top() + 20; y < building.bottom() - 30; y += 45)
            for (double x = building.left() + 14; x < building.right() - 20; x += 30)
                painter.fillRect(QRectF(x, y, 14, 20), QColor(250, 240, 180));
        if (withText) {
            painter.setPen(Qt::white);
            painter.setFont(TextFont(34));
            painter.drawText(building.adjusted(0, -50, 0, 0).topLeft() + QPointF(20, 40),
                             QString(QChar('A' + b % 26)) + QString::number(b + 1));
            painter.setPen(Qt::NoPen);
        }
    }
    // The sun: its place too comes from the id.
    painter.setBrush(QColor(255, 230, 120));
    painter.drawEllipse(QPointF(200 + (seed >> 3) % 1200, 120 + (seed >> 13) % 200), 60, 60);
}

}  // namespace

void SceneView::Clamp() {
    zoom = std::clamp(zoom, 1.0, 4.0);
    iris = std::clamp(iris, -5, 5);
    // The view covers 1 / (2 zoom) of the scene in each direction.
    const double half = 0.25 / zoom;
    centerX = std::clamp(centerX, half, 1.0 - half);
    centerY = std::clamp(centerY, half, 1.0 - half);
}

std::uint32_t CameraSeed(const std::string& cameraId) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : cameraId) hash = (hash ^ c) * 16777619u;
    return hash;
}

bool CameraPictureHasText() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

void DrawCameraPicture(QImage& image, const PictureText& text, const SceneView& requested) {
    SceneView view = requested;
    view.Clamp();
    const double width = image.width(), height = image.height();
    const bool withText = CameraPictureHasText();
    const std::uint32_t seed = CameraSeed(text.cameraId);

    QPainter painter(&image);
    // Scene units to picture pixels: the view's part of the scene fills the picture.
    const double viewWidth = kSceneWidth / (2 * view.zoom), viewHeight = kSceneHeight / (2 * view.zoom);
    painter.save();
    painter.scale(width / viewWidth, height / viewHeight);
    painter.translate(-(view.centerX * kSceneWidth - viewWidth / 2), -(view.centerY * kSceneHeight - viewHeight / 2));
    DrawScene(painter, seed, withText);
    painter.restore();

    if (view.iris != 0)
        painter.fillRect(image.rect(), view.iris > 0 ? QColor(255, 255, 255, 20 * view.iris) : QColor(0, 0, 0, -20 * view.iris));

    // The sweeping marker: one pass per loop of the clip, so the loop has no jump.
    const int frames = std::max(1, text.frameCount);
    const double x = width * (text.frameIndex % frames) / frames;
    painter.fillRect(QRectF(0, height - height / 40 - 2, width, height / 40 + 2), QColor(0, 0, 0, 160));
    painter.fillRect(QRectF(x, height - height / 40 - 2, std::max(4.0, width / 30), height / 40 + 2), QColor(255, 60, 60));

    if (!withText) return;
    const int textSize = static_cast<int>(height / 16);
    painter.setFont(TextFont(textSize));
    const QRectF band(0, 0, width, textSize * 1.6);
    painter.fillRect(band, QColor(0, 0, 0, 130));
    painter.setPen(Qt::white);
    QString title = QString::fromStdString(text.name) + "  " + QString::fromStdString(text.cameraId);
    if (!text.label.empty()) title += "  " + QString::fromStdString(text.label);
    painter.drawText(band.adjusted(textSize / 2, 0, -textSize / 2, 0), Qt::AlignVCenter | Qt::AlignLeft, title);
    const QRectF clock(0, height - height / 40 - 2 - textSize * 1.6, width, textSize * 1.6);
    painter.fillRect(clock.adjusted(width / 2, 0, 0, 0), QColor(0, 0, 0, 130));
    painter.drawText(clock.adjusted(0, 0, -textSize / 2, 0), Qt::AlignVCenter | Qt::AlignRight,
                     QString::fromStdString(text.clock));
}

}  // namespace sim
