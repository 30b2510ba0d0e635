#pragma once
// Where the cells of the video wall go, as pure functions of the layout and the
// area, so that the window code only moves widgets and the rules are tested exactly.
// Rectangles are (left, top, right, bottom) with right and bottom exclusive.

#include <optional>

namespace wall {

constexpr int kCellCount = 64;
constexpr int kCellGap = 4;
constexpr int kGridOrigin = 1;
constexpr int kToolbarHeight = 26;
// The toolbar index that stands for the cell last used.
constexpr int kLastToolbarCell = 99;

struct CellBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const CellBox&) const = default;
};

// 1, 4, 6, 8, 9, 16, 25, 36, 49, 64, 81 and 100.
bool IsSupportedLayout(int count);

// The cell's place in the normal layout of `count` cells over a usable area of
// width × height whose grid starts at (1, 1). In layout 1 only `shownCell` has a
// place (the whole area). Nothing for a cell the layout does not show.
std::optional<CellBox> NormalCellBox(int count, int index, int width, int height, int shownCell);

// The cell's place when the whole wall covers a screen of width × height.
std::optional<CellBox> FullScreenCellBox(int count, int index, int screenWidth, int screenHeight, int shownCell);

// One cell alone on the screen.
CellBox SingleCellFullScreenBox(int screenWidth, int screenHeight);

// The square layout after `count` when a new camera needs a cell beyond it.
int NextSquareLayout(int count);

// The toolbar strip over the bottom of a cell.
CellBox ToolbarBox(const CellBox& cell);

// The pixel height of a cell's caption (its status text), from the cell's size: about
// a sixteenth of the width or a seventh of the height, whichever is less, never below
// a readable kMinCaptionPixels nor above kMaxCaptionPixels. A sixteen-cell wall on a
// 1920 x 1080 screen gets about 25 pixels, a 64-cell wall the minimum.
constexpr int kMinCaptionPixels = 12;
constexpr int kMaxCaptionPixels = 36;
int CaptionPixelSize(int cellWidth, int cellHeight);

}  // namespace wall
