#pragma once
// The waiting picture shown in a cell until the first real picture: "waiting.bmp"
// next to the program, an uncompressed 24-bit BMP of 352 x 288, converted once per
// process to planar 4:2:0 (Y, V, U).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace media {

constexpr int kWaitingWidth = 352;
constexpr int kWaitingHeight = 288;
constexpr std::size_t kWaitingPictureBytes = kWaitingWidth * kWaitingHeight * 3 / 2;  // 152064
constexpr std::size_t kMaxWaitingFileBytes = 4u << 20;

using WaitingPicture = std::vector<std::uint8_t>;

// Converts a BMP file held in memory. The header is checked before any pixel is read:
// "BM", an information header of at least 40 bytes, 352 x 288 (bottom-up or
// top-down), one plane, 24 bits, no compression, and pixel rows that lie inside the
// file. False, with the reason in `error`, for anything else.
bool DecodeWaitingBitmap(const std::uint8_t* data, std::size_t size, WaitingPicture& picture, std::string& error);

// The process's waiting picture, loaded from the program folder on first use; null
// when the file is missing or refused (the reason goes to the log once).
std::shared_ptr<const WaitingPicture> LoadWaitingPicture();
// Forgets it, so that the next use loads the file again.
void ForgetWaitingPicture();

}  // namespace media
