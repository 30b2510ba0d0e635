// Fuzzes the waiting picture's BMP reader with any file: it must refuse or convert,
// never read past the bytes it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/waiting_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that any read beyond the end is caught.
    std::vector<std::uint8_t> file(data, data + size);
    media::WaitingPicture picture;
    std::string error;
    if (media::DecodeWaitingBitmap(file.data(), file.size(), picture, error)) {
        if (picture.size() != media::kWaitingPictureBytes) std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
