// Fuzzes Glaze with any on-screen-display block and picture size: the text is GBK
// from the caller, positions and sizes are anything. Nothing may be written outside
// the picture, which is allocated to its exact size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "libs/glaze/glaze.h"

// fontconfig keeps a few bytes from parsing its configuration at start-up and never
// frees them; that is the library's, once per process, not a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int mixer = GLZ_Initialize();
    if (size < 4) return 0;
    const int width = 1 + ((data[0] | (data[1] << 8)) % 800);
    const int height = 1 + ((data[2] | (data[3] << 8)) % 600);
    GLZ_OSD osd;
    std::memset(&osd, 0, sizeof osd);
    std::memcpy(&osd, data + 4, std::min(sizeof osd, size - 4));
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height * 3 / 2, 0x80);
    GLZ_PICTURE description{picture.data(), width, height, 0};
    GLZ_MixOSD(mixer, &osd, &description);
    return 0;
}
