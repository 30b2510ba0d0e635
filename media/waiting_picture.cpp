#include "media/waiting_picture.h"

#include <cstdio>
#include <mutex>

#include "core/log_file.h"
#include "platform/paths.h"

namespace media {
namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

bool Refuse(std::string& error, const char* reason) {
    error = reason;
    return false;
}

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

struct Cache {
    std::mutex mutex;
    bool tried = false;
    std::shared_ptr<const WaitingPicture> picture;
};
Cache& TheCache() {
    static Cache* cache = new Cache;
    return *cache;
}

}  // namespace

bool DecodeWaitingBitmap(const std::uint8_t* data, std::size_t size, WaitingPicture& picture, std::string& error) {
    constexpr std::size_t kFileHeader = 14;
    if (data == nullptr || size < kFileHeader + 40) return Refuse(error, "too short for a bitmap");
    if (data[0] != 'B' || data[1] != 'M') return Refuse(error, "not a bitmap");
    const std::uint32_t pixelOffset = Le32(data + 10);
    const std::uint8_t* info = data + kFileHeader;
    const std::uint32_t infoSize = Le32(info);
    const auto width = static_cast<std::int32_t>(Le32(info + 4));
    const auto height = static_cast<std::int32_t>(Le32(info + 8));
    const std::uint16_t planes = Le16(info + 12);
    const std::uint16_t bits = Le16(info + 14);
    const std::uint32_t compression = Le32(info + 16);
    if (infoSize < 40 || infoSize > size - kFileHeader) return Refuse(error, "bad information header");
    if (bits != 24 || planes != 1 || compression != 0) return Refuse(error, "not an uncompressed 24-bit bitmap");
    if (width != kWaitingWidth || (height != kWaitingHeight && height != -kWaitingHeight))
        return Refuse(error, "not 352 x 288");
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    const std::size_t pixelBytes = rowBytes * kWaitingHeight;
    if (pixelOffset < kFileHeader + infoSize || pixelOffset > size || size - pixelOffset < pixelBytes)
        return Refuse(error, "pixel rows beyond the end of the file");

    picture.assign(kWaitingPictureBytes, 0);
    std::uint8_t* luma = picture.data();
    std::uint8_t* second = luma + kWaitingWidth * kWaitingHeight;          // V
    std::uint8_t* third = luma + kWaitingWidth * kWaitingHeight * 5 / 4;   // U
    const bool bottomUp = height > 0;
    for (int row = 0; row < kWaitingHeight; ++row) {
        const int fileRow = bottomUp ? kWaitingHeight - 1 - row : row;
        const std::uint8_t* pixel = data + pixelOffset + rowBytes * fileRow;
        for (int x = 0; x < kWaitingWidth; ++x, pixel += 3) {
            // BMP pixels are blue, green, red.
            const int b = pixel[0], g = pixel[1], r = pixel[2];
            luma[row * kWaitingWidth + x] = Byte(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
            if (x % 2 != 0) continue;
            const int at = (row / 2) * (kWaitingWidth / 2) + x / 2;
            if (row % 2 == 0)
                second[at] = Byte(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
            else
                third[at] = Byte(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
        }
    }
    return true;
}

std::shared_ptr<const WaitingPicture> LoadWaitingPicture() {
    Cache& cache = TheCache();
    std::lock_guard lock(cache.mutex);
    if (cache.tried) return cache.picture;
    cache.tried = true;
    const std::string path = platform::JoinPath(platform::ProgramDirectory(), "waiting.bmp");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return nullptr;  // no waiting picture, as when the file was never shipped
    std::vector<std::uint8_t> bytes(kMaxWaitingFileBytes);
    const std::size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    auto picture = std::make_shared<WaitingPicture>();
    std::string error;
    if (!DecodeWaitingBitmap(bytes.data(), read, *picture, error)) {
        core::LogWrite("waiting.bmp refused: %s\n", error.c_str());
        return nullptr;
    }
    cache.picture = std::move(picture);
    return cache.picture;
}

void ForgetWaitingPicture() {
    Cache& cache = TheCache();
    std::lock_guard lock(cache.mutex);
    cache.tried = false;
    cache.picture.reset();
}

}  // namespace media
