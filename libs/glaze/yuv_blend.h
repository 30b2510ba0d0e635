#pragma once
// Blending a text mask into a planar 4:2:0 picture (Y, then V, then U) in place.

#include <cstdint>

#include "libs/glaze/text_raster.h"

namespace glaze {

struct YuvColour {
    std::uint8_t y, u, v;
};

// BT.601 studio-range colour of an RGB triple.
YuvColour ToYuv(int r, int g, int b);

// Places the mask's top-left corner at (x, y), moved left or up as needed to keep it
// inside the picture and cut where the picture is smaller than the mask. The outline
// darkens, then the fill paints `colour`; chroma follows the mean coverage of each
// 2 x 2 block.
void BlendMask(std::uint8_t* picture, int width, int height, const TextMask& mask, int x, int y,
               const YuvColour& colour);

}  // namespace glaze
