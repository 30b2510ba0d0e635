#pragma once
// Media as it travels from a forwarding link to the pipeline: the stream description
// and the stored packet (12-byte packet header, then the payload).

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace transport {

// Stream description: six little-endian 32-bit words as received. Word 0 holds the
// kind (0 video, 1 audio) in its low 16 bits and the codec in byte 2.
struct StreamInfo {
    std::array<std::uint8_t, 24> bytes{};

    static StreamInfo FromBytes(const std::uint8_t* data) {
        StreamInfo info;
        std::memcpy(info.bytes.data(), data, 24);
        return info;
    }
    static StreamInfo Video(std::uint32_t frameRate, std::uint32_t width, std::uint32_t height,
                            std::uint64_t startTimestamp);

    std::uint32_t Word(int index) const {
        std::uint32_t value = 0;
        for (int b = 3; b >= 0; --b) value = (value << 8) | bytes[index * 4 + b];
        return value;
    }
    void SetWord(int index, std::uint32_t value) {
        for (int b = 0; b < 4; ++b) bytes[index * 4 + b] = static_cast<std::uint8_t>(value >> (8 * b));
    }
    std::uint16_t Kind() const { return static_cast<std::uint16_t>(Word(0) & 0xFFFF); }
    std::uint8_t Codec() const { return bytes[2]; }
    // Video: frames per second; audio: channel count.
    std::uint32_t RateOrChannels() const { return Word(1) & 0xFF; }
    // Video: width; audio: sample rate.
    std::uint32_t WidthOrSampleRate() const { return Word(2); }
    // Video: height; audio: bits per sample.
    std::uint32_t HeightOrBits() const { return Word(3); }
    std::uint64_t StartTimestamp() const { return (static_cast<std::uint64_t>(Word(5)) << 32) | Word(4); }

    bool operator==(const StreamInfo&) const = default;
};

constexpr std::size_t kPacketHeaderSize = 12;
enum PacketSubType : std::uint16_t {
    kVideoDescription = 0,
    kAudioDescription = 1,
    kAudioPacket = 2,
    kVideoPacket = 3,
    kTalkAudioPacket = 4,
};

// One record of a packet queue. The buffer is reused: it grows to exactly a longer
// packet and is kept as it is for shorter ones.
struct MediaPacket {
    StreamInfo info;
    std::vector<std::uint8_t> buffer;
    std::size_t length = 0;

    void Store(const std::uint8_t* header, std::size_t headerLength, const std::uint8_t* payload,
               std::size_t payloadLength);
    const std::uint8_t* Data() const { return buffer.data(); }
    std::uint16_t SubType() const { return static_cast<std::uint16_t>(buffer[0] | (buffer[1] << 8)); }
    std::uint16_t Sequence() const { return static_cast<std::uint16_t>(buffer[2] | (buffer[3] << 8)); }
    std::uint64_t Timestamp() const;
    const std::uint8_t* Payload() const { return buffer.data() + kPacketHeaderSize; }
    std::size_t PayloadLength() const { return length > kPacketHeaderSize ? length - kPacketHeaderSize : 0; }
    // A video packet whose first NAL unit (after a 4-byte start code) is a sequence
    // parameter set or an IDR slice.
    bool IsKeyFrame() const;
    // A video packet that starts with a sequence parameter set.
    bool CarriesParameterSets() const;
};

}  // namespace transport
