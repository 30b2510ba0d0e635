// Arbitrary text as an image attribute of a skin or a window.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/toolkit/image_attr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ui::ImageAttr image = ui::ParseImageAttr(std::string_view(reinterpret_cast<const char*>(data), size));
    // What the painter relies on.
    if (image.source && (image.source->width() < 0 || image.source->height() < 0)) std::abort();
    if (image.dest && (image.dest->width() < 0 || image.dest->height() < 0)) std::abort();
    if (image.fade < 0 || image.fade > 255) std::abort();
    if (image.corner.left() < 0 || image.corner.top() < 0 || image.corner.right() < 0 || image.corner.bottom() < 0)
        std::abort();
    return 0;
}
