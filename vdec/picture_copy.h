#pragma once
// Packing of a decoded picture into the caller's buffer: Y, then V (Cr), then U (Cb),
// rows back to back without padding. Chroma planes are W/2 x H/2 (integer division)
// and the U plane starts at W*H*5/4, so odd sizes keep the documented offsets.

#include <cstddef>
#include <cstdint>

namespace vdec {

// How the source's chroma planes are sampled relative to luma.
enum class ChromaLayout { k420, k422, k444 };

// A picture as the decoder holds it: planes Y, Cb, Cr with their own row strides
// (in bytes, possibly larger than the row or negative).
struct SourcePicture {
    int width = 0;
    int height = 0;
    ChromaLayout chroma = ChromaLayout::k420;
    const std::uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    std::ptrdiff_t strides[3] = {0, 0, 0};
};

// W*H*3/2 in integer arithmetic; 0 for sizes that are not positive.
std::size_t PackedPictureSize(int width, int height);

// Writes the packed picture into `out`, which holds at least PackedPictureSize bytes.
// 4:2:2 and 4:4:4 chroma is reduced to 4:2:0 by averaging (rounded) the two vertical
// or four neighbouring samples; 4:2:0 is copied as it is. Each output byte is
// written once, straight from the source planes.
void PackYv12(const SourcePicture& source, std::uint8_t* out);

}  // namespace vdec
