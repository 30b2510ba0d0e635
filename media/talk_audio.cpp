#include "media/talk_audio.h"

#include <algorithm>
#include <cstring>

#include "transport/forwarding_link.h"
#include "transport/media_packet.h"

namespace media {
namespace {

constexpr std::size_t kSubTypeOffset = 1;
constexpr std::size_t kTickOffset = 5;
constexpr std::size_t kTalkIdOffset = 13;

}  // namespace

void BuildTalkAudioHeader(std::uint8_t out[kTalkHeaderSize], std::uint32_t tick, const std::string& talkId) {
    std::memset(out, 0, kTalkHeaderSize);
    out[0] = transport::kLinkMedia;
    out[kSubTypeOffset] = transport::kTalkAudioPacket;
    for (int b = 0; b < 4; ++b) out[kTickOffset + b] = static_cast<std::uint8_t>(tick >> (8 * b));
    const std::size_t idLength = std::min(talkId.size(), kTalkIdFieldSize - 1);
    std::memcpy(out + kTalkIdOffset, talkId.data(), idLength);
}

}  // namespace media
