#pragma once
// Copies of a decoded picture (planar 4:2:0: Y, then V at W*H, then U at W*H*5/4, no
// row padding, chroma (W/2) x (H/2)) into display surfaces of a given pitch.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace media {

struct PlanarPicture {
    const std::uint8_t* y = nullptr;
    const std::uint8_t* v = nullptr;  // second plane (Cr)
    const std::uint8_t* u = nullptr;  // third plane (Cb)
    int width = 0;
    int height = 0;
};

// The planes of a decoded picture held in one buffer.
PlanarPicture PlanesOf(const std::uint8_t* picture, int width, int height);

// Packed 4:2:2: every pair of pixels of row r becomes Y0, U, Y1, V from chroma row
// r/2. `out` holds height rows of `pitch` bytes (pitch >= 2 * ((width + 1) / 2) * 2).
void PackYuy2(const PlanarPicture& in, std::uint8_t* out, int pitch);

// Planar Y, V, U: height rows of width luma bytes at `pitch`, then height/2 rows of
// the second plane and height/2 rows of the third at pitch/2 (pitch even, >= width).
void CopyYv12(const PlanarPicture& in, std::uint8_t* out, int pitch);
std::size_t Yv12Bytes(int height, int pitch);

// 32 bits per pixel, bytes blue, green, red, 255, with the BT.601 studio-range
// equations R = 1.164(Y-16) + 1.596(V-128), G = 1.164(Y-16) - 0.391(U-128) -
// 0.813(V-128), B = 1.164(Y-16) + 2.018(U-128), rounded to the nearest value and
// clamped; each chroma sample serves a 2 x 2 block. Within one step of the exact
// equations; SIMD and plain code give the same bytes.
void ConvertToBgrx(const PlanarPicture& in, std::uint8_t* out, int pitch);
// What the resampling conversion keeps between pictures, so it allocates nothing.
struct ScaleScratch {
    int inWidth = 0, outWidth = 0, inHeight = 0, outHeight = 0;
    std::vector<int> columns, chromaColumns, rows;
    std::vector<int> lumaBases, chromaBases;  // per group of eight outputs
    std::vector<std::uint8_t> lumaMasks, chromaMasks;
    std::vector<std::uint8_t> y, u, v;
};
// The same conversion into outWidth x outHeight pixels, each taking the source pixel
// nearest to its centre (what an unsmoothed scaling blit shows). Converting at the
// window's size costs a fraction of converting the whole picture and then scaling it.
void ConvertToBgrxScaled(const PlanarPicture& in, std::uint8_t* out, int pitch, int outWidth, int outHeight,
                         ScaleScratch& scratch);
// The plain-code form of the same conversion, for comparison.
void ConvertToBgrxScalar(const PlanarPicture& in, std::uint8_t* out, int pitch);

}  // namespace media
