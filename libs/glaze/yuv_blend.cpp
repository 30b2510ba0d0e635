#include "libs/glaze/yuv_blend.h"

#include <algorithm>

namespace glaze {
namespace {

constexpr int kOutlineOpacity = 200;  // of 255: dark enough to read, light enough to see through
const YuvColour kOutline{16, 128, 128};

inline std::uint8_t Mix(std::uint8_t base, std::uint8_t over, int alpha) {
    return static_cast<std::uint8_t>((base * (255 - alpha) + over * alpha + 127) / 255);
}

}  // namespace

YuvColour ToYuv(int r, int g, int b) {
    const int y = ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16;
    const int u = ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128;
    const int v = ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128;
    return {static_cast<std::uint8_t>(std::clamp(y, 0, 255)), static_cast<std::uint8_t>(std::clamp(u, 0, 255)),
            static_cast<std::uint8_t>(std::clamp(v, 0, 255))};
}

void BlendMask(std::uint8_t* picture, int width, int height, const TextMask& mask, int x, int y,
               const YuvColour& colour) {
    if (picture == nullptr || width <= 0 || height <= 0 || mask.width <= 0 || mask.height <= 0) return;
    // Keep the text whole when it fits; cut it when the picture is smaller.
    x = std::clamp(x, 0, std::max(0, width - mask.width));
    y = std::clamp(y, 0, std::max(0, height - mask.height));
    const int w = std::min(mask.width, width - x);
    const int h = std::min(mask.height, height - y);

    for (int row = 0; row < h; ++row) {
        std::uint8_t* luma = picture + static_cast<std::size_t>(y + row) * width + x;
        const std::uint8_t* fill = mask.fill.data() + static_cast<std::size_t>(row) * mask.width;
        const std::uint8_t* outline = mask.outline.data() + static_cast<std::size_t>(row) * mask.width;
        for (int col = 0; col < w; ++col) {
            if ((fill[col] | outline[col]) == 0) continue;
            luma[col] = Mix(Mix(luma[col], kOutline.y, outline[col] * kOutlineOpacity / 255), colour.y, fill[col]);
        }
    }

    const int chromaWidth = width / 2;
    const int chromaHeight = height / 2;
    if (chromaWidth == 0 || chromaHeight == 0) return;
    std::uint8_t* vPlane = picture + static_cast<std::size_t>(width) * height;
    std::uint8_t* uPlane = picture + static_cast<std::size_t>(width) * height * 5 / 4;
    for (int cy = (y / 2); cy <= (y + h - 1) / 2 && cy < chromaHeight; ++cy) {
        for (int cx = (x / 2); cx <= (x + w - 1) / 2 && cx < chromaWidth; ++cx) {
            int fillSum = 0;
            int outlineSum = 0;
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    const int mx = cx * 2 + dx - x;
                    const int my = cy * 2 + dy - y;
                    if (mx < 0 || my < 0 || mx >= w || my >= h) continue;
                    const std::size_t at = static_cast<std::size_t>(my) * mask.width + mx;
                    fillSum += mask.fill[at];
                    outlineSum += mask.outline[at];
                }
            }
            if ((fillSum | outlineSum) == 0) continue;
            const int fillAlpha = fillSum / 4;
            const int outlineAlpha = outlineSum / 4 * kOutlineOpacity / 255;
            const std::size_t at = static_cast<std::size_t>(cy) * chromaWidth + cx;
            vPlane[at] = Mix(Mix(vPlane[at], kOutline.v, outlineAlpha), colour.v, fillAlpha);
            uPlane[at] = Mix(Mix(uPlane[at], kOutline.u, outlineAlpha), colour.u, fillAlpha);
        }
    }
}

}  // namespace glaze
