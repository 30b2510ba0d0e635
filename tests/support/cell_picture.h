#pragma once
// Whether a cell shows a camera picture: its display surface has the stream's size (a
// software surface the cell's size when the cell is smaller) and is far from one flat
// colour, which the waiting picture and an empty cell are not. A GPU surface counts by
// its size alone.

#include <QSize>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>

#include "media/video_target.h"

namespace testing_support {

inline bool ShowsCameraPicture(const media::VideoTarget& target, QSize cell, int streamWidth, int streamHeight) {
    auto surface = target.Current();
    if (!surface || !surface->Bits()) return false;
    const bool plain = surface->Type() == media::kSurfacePlain;
    const int width = plain ? std::min(streamWidth, cell.width()) : streamWidth;
    const int height = plain ? std::min(streamHeight, cell.height()) : streamHeight;
    if (surface->Width() != width || surface->Height() != height) return false;
    if (!plain) return true;
    std::lock_guard lock(surface->Mutex());
    std::set<std::uint32_t> colours;
    for (int y = 0; y < surface->Height(); y += 9) {
        const auto* row = surface->Bits() + static_cast<std::size_t>(y) * surface->Pitch();
        for (int x = 0; x < surface->Width(); x += 9)
            colours.insert((row[x * 4] >> 3) | (row[x * 4 + 1] >> 3) << 5 | (row[x * 4 + 2] >> 3) << 10);
    }
    return colours.size() > 20;
}

}  // namespace testing_support
