#include "transport/media_packet.h"

namespace transport {

StreamInfo StreamInfo::Video(std::uint32_t frameRate, std::uint32_t width, std::uint32_t height,
                             std::uint64_t startTimestamp) {
    StreamInfo info;
    info.SetWord(0, 0 | (1u << 16));  // kind 0, codec 1
    info.SetWord(1, frameRate);
    info.SetWord(2, width);
    info.SetWord(3, height);
    info.SetWord(4, static_cast<std::uint32_t>(startTimestamp));
    info.SetWord(5, static_cast<std::uint32_t>(startTimestamp >> 32));
    return info;
}

void MediaPacket::Store(const std::uint8_t* header, std::size_t headerLength, const std::uint8_t* payload,
                        std::size_t payloadLength) {
    const std::size_t total = headerLength + payloadLength;
    if (total > length || total > buffer.size()) buffer.resize(total);
    std::memcpy(buffer.data(), header, headerLength);
    if (payloadLength) std::memcpy(buffer.data() + headerLength, payload, payloadLength);
    length = total;
}

std::uint64_t MediaPacket::Timestamp() const {
    if (length < kPacketHeaderSize) return 0;
    auto word = [&](int offset) {
        return static_cast<std::uint32_t>(buffer[offset]) | (static_cast<std::uint32_t>(buffer[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(buffer[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(buffer[offset + 3]) << 24);
    };
    return (static_cast<std::uint64_t>(word(8)) << 32) | word(4);
}

bool MediaPacket::IsKeyFrame() const {
    if (length <= 16) return false;
    const std::uint8_t nalType = buffer[16] & 0x1F;
    return nalType == 7 || nalType == 5;
}

bool MediaPacket::CarriesParameterSets() const { return length > 16 && (buffer[16] & 0x1F) == 7; }

}  // namespace transport
