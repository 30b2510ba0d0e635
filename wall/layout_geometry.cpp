#include "wall/layout_geometry.h"

#include <algorithm>
#include <cmath>

namespace wall {
namespace {

// k of a square layout k × k, or 0.
int SquareSide(int count) {
    for (int k = 1; k <= 10; ++k)
        if (k * k == count) return k;
    return 0;
}

CellBox Sized(int left, int top, int width, int height) { return {left, top, left + width, top + height}; }

// Columns minus one of the full-screen grid.
int FullScreenSpan(int count) {
    switch (count) {
        case 1: return 0;
        case 4: return 1;
        case 6:
        case 9: return 2;
        case 8:
        case 16: return 3;
        case 25: return 4;
        case 36: return 5;
        case 49: return 6;
        case 64: return 7;
        case 81: return 8;
        case 100: return 9;
        default: return -1;
    }
}

}  // namespace

bool IsSupportedLayout(int count) { return count == 6 || count == 8 || SquareSide(count) > 0; }

std::optional<CellBox> NormalCellBox(int count, int index, int width, int height, int shownCell) {
    if (!IsSupportedLayout(count) || index < 0 || index >= kCellCount) return std::nullopt;
    const int g = kCellGap, x0 = kGridOrigin, y0 = kGridOrigin;
    if (count == 1) {
        if (index != shownCell) return std::nullopt;
        return Sized(x0, y0, width, height);
    }
    if (index >= count) return std::nullopt;
    if (count == 6) {
        const int w = (width - 2 * g) / 3, h = (height - 2 * g) / 3;
        switch (index) {
            case 0: return CellBox{x0, y0, x0 + 2 * w + g, y0 + 2 * h + g};
            case 1: return Sized(x0 + 2 * w + 2 * g, y0, w, h);
            case 2: return Sized(x0 + 2 * w + 2 * g, y0 + h + g, w, h);
            case 3: return Sized(x0, y0 + 2 * h + 2 * g, w, h);
            case 4: return Sized(x0 + w + g, y0 + 2 * h + 2 * g, w, h);
            default: return Sized(x0 + 2 * w + 2 * g, y0 + 2 * h + 2 * g, w, h);
        }
    }
    if (count == 8) {
        const int w = (width - 3 * g) / 4, h = (height - 3 * g) / 4;
        if (index == 0) return CellBox{x0, y0, x0 + 3 * w + 2 * g, y0 + 3 * h + 2 * g};
        if (index <= 3) return Sized(x0 + 3 * w + 3 * g, y0 + (index - 1) * (h + g), w, h);
        return Sized(x0 + (index - 4) * (w + g), y0 + 3 * h + 3 * g, w, h);
    }
    const int k = SquareSide(count);
    const int cw = (width - (k - 1) * g) / k, ch = (height - (k - 1) * g) / k;
    return Sized((index % k) * (cw + g) + x0, (index / k) * (ch + g) + y0, cw, ch);
}

std::optional<CellBox> FullScreenCellBox(int count, int index, int screenWidth, int screenHeight, int shownCell) {
    const int span = FullScreenSpan(count);
    if (span < 0 || index < 0 || index >= kCellCount) return std::nullopt;
    const int columns = span + 1;
    const int a = (screenWidth - 3 * span - 6) / columns;
    const int b = (screenHeight - 3 * span - 6) / columns;
    auto at = [&](int position, int w, int h) {
        return Sized((position % columns) * (a + 3) + 3, (position / columns) * (b + 3) + 3, w, h);
    };
    if (count == 1) {
        if (index != shownCell) return std::nullopt;
        return at(0, a, b);
    }
    if (index >= count) return std::nullopt;
    if (count == 6) {
        static constexpr int kPositions[] = {0, 2, 5, 6, 7, 8};
        return index == 0 ? at(0, 2 * a + 4, 2 * b + 4) : at(kPositions[index], a, b);
    }
    if (count == 8) {
        static constexpr int kPositions[] = {0, 3, 7, 11, 12, 13, 14, 15};
        return index == 0 ? at(0, 3 * a + 8, 3 * b + 8) : at(kPositions[index], a, b);
    }
    return at(index, a, b);
}

CellBox SingleCellFullScreenBox(int screenWidth, int screenHeight) {
    return Sized(3, 3, screenWidth - 6, screenHeight - 6);
}

int NextSquareLayout(int count) {
    const int root = static_cast<int>(std::floor(std::sqrt(static_cast<double>(count < 0 ? 0 : count))));
    return (root + 1) * (root + 1);
}

CellBox ToolbarBox(const CellBox& cell) {
    return Sized(cell.left, cell.top + cell.Height() - kToolbarHeight, cell.Width(), kToolbarHeight);
}

int CaptionPixelSize(int cellWidth, int cellHeight) {
    const int fitting = std::min(cellWidth / 16, cellHeight / 7);
    return std::clamp(fitting, kMinCaptionPixels, kMaxCaptionPixels);
}

}  // namespace wall
