#include "vdec/picture_copy.h"

#include <cstring>

namespace vdec {
namespace {

const std::uint8_t* Row(const std::uint8_t* plane, std::ptrdiff_t stride, int row) { return plane + stride * row; }

void CopyPlane(const std::uint8_t* plane, std::ptrdiff_t stride, int columns, int rows, std::uint8_t* out) {
    if (stride == columns) {
        // Rows already back to back (common: 1920 wide pictures have no padding): one
        // large copy lets memcpy pick its fastest way for big blocks.
        std::memcpy(out, plane, static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
        return;
    }
    for (int row = 0; row < rows; ++row, out += columns) std::memcpy(out, Row(plane, stride, row), columns);
}

// One output chroma plane of columns x rows from a source chroma plane whose
// sampling is given by `chroma`.
void PackChroma(const std::uint8_t* plane, std::ptrdiff_t stride, ChromaLayout chroma, int columns, int rows,
                std::uint8_t* out) {
    switch (chroma) {
    case ChromaLayout::k420:
        CopyPlane(plane, stride, columns, rows, out);
        return;
    case ChromaLayout::k422:
        // Full height, half width: average each vertical pair.
        for (int row = 0; row < rows; ++row, out += columns) {
            const std::uint8_t* top = Row(plane, stride, 2 * row);
            const std::uint8_t* bottom = Row(plane, stride, 2 * row + 1);
            for (int x = 0; x < columns; ++x) out[x] = static_cast<std::uint8_t>((top[x] + bottom[x] + 1) >> 1);
        }
        return;
    case ChromaLayout::k444:
        // Full size: average each 2x2 block.
        for (int row = 0; row < rows; ++row, out += columns) {
            const std::uint8_t* top = Row(plane, stride, 2 * row);
            const std::uint8_t* bottom = Row(plane, stride, 2 * row + 1);
            for (int x = 0; x < columns; ++x) {
                const int sum = top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1];
                out[x] = static_cast<std::uint8_t>((sum + 2) >> 2);
            }
        }
        return;
    }
}

}  // namespace

std::size_t PackedPictureSize(int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3 / 2;
}

void PackYv12(const SourcePicture& source, std::uint8_t* out) {
    const std::size_t lumaSize = static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height);
    const int chromaColumns = source.width / 2;
    const int chromaRows = source.height / 2;
    CopyPlane(source.planes[0], source.strides[0], source.width, source.height, out);
    PackChroma(source.planes[2], source.strides[2], source.chroma, chromaColumns, chromaRows, out + lumaSize);
    PackChroma(source.planes[1], source.strides[1], source.chroma, chromaColumns, chromaRows, out + lumaSize * 5 / 4);
}

}  // namespace vdec
