#include "libs/chime/chime.h"

namespace chime {

std::uint8_t LinearToAlaw(std::int16_t sample) {
    // 13-bit magnitude, segment by the position of the leading one.
    int pcm = sample >> 3;
    std::uint8_t mask;
    if (pcm >= 0) {
        mask = 0xD5;  // sign bit set, even bits inverted
    } else {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    static constexpr int kSegmentEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int segment = 0;
    while (segment < 8 && pcm > kSegmentEnd[segment]) ++segment;
    if (segment >= 8) return static_cast<std::uint8_t>(0x7F ^ mask);
    int code = segment << 4;
    code |= segment < 2 ? (pcm >> 1) & 0x0F : (pcm >> segment) & 0x0F;
    return static_cast<std::uint8_t>(code ^ mask);
}

std::int16_t AlawToLinear(std::uint8_t code) {
    code ^= 0x55;
    int value = (code & 0x0F) << 4;
    const int segment = (code & 0x70) >> 4;
    switch (segment) {
        case 0: value += 8; break;
        case 1: value += 0x108; break;
        default: value = (value + 0x108) << (segment - 1); break;
    }
    return static_cast<std::int16_t>((code & 0x80) ? value : -value);
}

}  // namespace chime
