// Fuzzes the bounded decode export with whatever a network peer could send. The first
// byte picks the caller's picture capacity and how the rest is fed: access unit by
// access unit (as the client does), or all in one call, optionally releasing the
// handle half way. The picture buffer is exactly the capacity, so any write past it
// is caught.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "support/annexb.h"
#include "vdec/vdec.h"

namespace {

constexpr int kCapacities[] = {0, 100, 176 * 144 * 3 / 2 - 1, 176 * 144 * 3 / 2, 352 * 288 * 3 / 2, 1 << 20, 4 << 20};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);  // decoder diagnostics would swamp the run
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    const int capacity = kCapacities[(mode & 0x0F) % (sizeof kCapacities / sizeof kCapacities[0])];
    const bool oneCall = (mode & 0x80) != 0;
    const bool releaseHalfWay = (mode & 0x40) != 0;

    std::vector<std::string> units;
    if (!oneCall) units = testing_support::SplitAccessUnits(stream);
    if (units.empty()) units.emplace_back(stream);

    const unsigned long handle = InitDeCode();
    if (handle == 0) std::abort();
    std::unique_ptr<char[]> picture(new char[capacity > 0 ? capacity : 1]);
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (releaseHalfWay && i == units.size() / 2 && !ReleaseDeCode(handle)) std::abort();
        std::string& unit = units[i];
        int consumed = -1, width = -1, height = -1;
        const int result = DeCoderEx(handle, unit.data(), static_cast<int>(unit.size()), picture.get(), capacity,
                                     consumed, width, height);
        if (result == 1 && (width <= 0 || height <= 0 ||
                            static_cast<std::int64_t>(width) * height * 3 / 2 > static_cast<std::int64_t>(capacity)))
            std::abort();  // reported a picture that cannot have fitted
        if (result != 0 && result != 1 && result != kVdecBufferTooSmall && result != kVdecUnsupportedFormat)
            std::abort();
    }
    // Released half way means already gone; otherwise this is its one release.
    if (ReleaseDeCode(handle) == releaseHalfWay) std::abort();
    return 0;
}
