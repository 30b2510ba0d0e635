#pragma once
// Whether a picture shows a given camera of the simulated service: the service draws
// each camera's scene from its id, so the picture is compared block by block with the
// service's own drawing of that camera. Another camera's stream, the waiting picture
// and an empty cell all fail; the camera's title band, clock, marker and a cell
// caption are left out of the comparison.

#include <QColor>
#include <QImage>
#include <QSize>
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "media/video_target.h"
#include "sim/camera_picture.h"

namespace testing_support {

// Average colour of each block of a grid laid over the picture's middle.
inline std::vector<QColor> PictureBlocks(const QImage& picture) {
    constexpr int kColumns = 16, kRows = 9;
    const int top = picture.height() * 14 / 100, bottom = picture.height() * 84 / 100;
    std::vector<QColor> blocks;
    for (int row = 0; row < kRows; ++row)
        for (int column = 0; column < kColumns; ++column) {
            const int x0 = picture.width() * column / kColumns, x1 = picture.width() * (column + 1) / kColumns;
            const int y0 = top + (bottom - top) * row / kRows, y1 = top + (bottom - top) * (row + 1) / kRows;
            long r = 0, g = 0, b = 0, n = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x, ++n) {
                    const QRgb pixel = picture.pixel(x, y);
                    r += qRed(pixel), g += qGreen(pixel), b += qBlue(pixel);
                }
            blocks.emplace_back(n ? r / n : 0, n ? g / n : 0, n ? b / n : 0);
        }
    return blocks;
}

// The share of blocks whose colour is within a small distance of the same block of
// the service's picture of `cameraId` (looking straight ahead) drawn at the same size.
inline double CameraLikeness(const QImage& shown, const std::string& cameraId) {
    if (shown.isNull()) return 0;
    QImage reference(shown.size(), QImage::Format_RGB32);
    sim::PictureText text;
    text.cameraId = cameraId;
    sim::DrawCameraPicture(reference, text, sim::SceneView{});
    const std::vector<QColor> a = PictureBlocks(shown), b = PictureBlocks(reference);
    int alike = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        alike += std::abs(a[i].red() - b[i].red()) + std::abs(a[i].green() - b[i].green()) +
                     std::abs(a[i].blue() - b[i].blue()) <=
                 45;
    return static_cast<double>(alike) / static_cast<double>(a.size());
}

// Whether `picture` shows `cameraId`: most of its blocks are that camera's.
inline bool ShowsCamera(const QImage& picture, const std::string& cameraId) { return CameraLikeness(picture, cameraId) > 0.75; }

// A copy of a display surface of the software path; null for a GPU surface or none.
inline QImage SurfacePicture(const media::VideoTarget& target) {
    auto surface = target.Current();
    if (!surface || !surface->Bits() || surface->Type() != media::kSurfacePlain) return {};
    std::lock_guard lock(surface->Mutex());
    return QImage(surface->Bits(), surface->Width(), surface->Height(), surface->Pitch(), QImage::Format_RGB32).copy();
}

// Whether a cell shows the pictures of `cameraId`: its display surface has the
// stream's size (a software surface the cell's size when the cell is smaller) and,
// on the software path, shows that camera. A GPU surface counts by its size alone.
inline bool ShowsCameraPicture(const media::VideoTarget& target, QSize cell, int streamWidth, int streamHeight,
                               const std::string& cameraId) {
    auto surface = target.Current();
    if (!surface || !surface->Bits()) return false;
    const bool plain = surface->Type() == media::kSurfacePlain;
    const int width = plain ? std::min(streamWidth, cell.width()) : streamWidth;
    const int height = plain ? std::min(streamHeight, cell.height()) : streamHeight;
    if (surface->Width() != width || surface->Height() != height) return false;
    return !plain || ShowsCamera(SurfacePicture(target), cameraId);
}

}  // namespace testing_support
