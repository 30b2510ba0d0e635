#include "media/talk_audio.h"

#include <algorithm>
#include <cstring>

namespace media {

void BuildTalkAudioHeader(std::uint8_t out[kTalkHeaderSize], std::uint32_t tick, const std::string& talkId) {
    std::memset(out, 0, kTalkHeaderSize);
    out[0] = 2;
    out[1] = 4;
    for (int b = 0; b < 4; ++b) out[5 + b] = static_cast<std::uint8_t>(tick >> (8 * b));
    const std::size_t idLength = std::min(talkId.size(), kTalkIdFieldSize - 1);
    std::memcpy(out + 13, talkId.data(), idLength);
}

}  // namespace media
