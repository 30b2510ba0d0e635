#include "sim/forward_wire.h"

#include <json/json.h>

#include <cstring>

namespace sim {
namespace {

void PutLe16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::uint8_t* at, std::uint32_t value) {
    for (int b = 0; b < 4; ++b) at[b] = static_cast<std::uint8_t>(value >> (8 * b));
}

std::uint32_t ReadLe32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// The byte after a media message's body; receivers leave it out.
constexpr std::uint8_t kTrailingByte = 0;

void BuildDescription(std::vector<std::uint8_t>& out, std::uint16_t kind, std::uint8_t codec, std::uint32_t word1,
                      std::uint32_t word2, std::uint32_t word3, std::uint64_t start) {
    out.assign(1 + kStreamDescriptionSize + 1, 0);
    std::uint8_t* body = out.data() + 1;
    out[0] = kLinkMedia;
    PutLe16(body, kind);
    body[2] = codec;
    PutLe32(body + 4, word1);
    PutLe32(body + 8, word2);
    PutLe32(body + 12, word3);
    PutLe32(body + 16, static_cast<std::uint32_t>(start));
    PutLe32(body + 20, static_cast<std::uint32_t>(start >> 32));
    out.back() = kTrailingByte;
}

}  // namespace

std::string LinkControlMessage(std::int32_t id, std::int32_t msgType, const std::map<std::string, std::string>& params) {
    Json::Value values(Json::objectValue);
    for (const auto& [key, value] : params) values[key] = value;
    return control::EncodeEnvelope(id, msgType, kLinkRealm, values, false, kLinkControl);
}

void BuildCompactFrame(std::vector<std::uint8_t>& out, std::uint32_t timestamp, std::uint16_t sequence, int width,
                       int height, int frameRate, const std::uint8_t* accessUnit, std::size_t length) {
    out.resize(1 + kCompactHeaderSize + length);
    std::uint8_t* header = out.data() + 1;
    std::memset(header, 0, kCompactHeaderSize);
    out[0] = kLinkCompactVideo;
    PutLe32(header + 4, timestamp);
    PutLe32(header + 8, static_cast<std::uint32_t>(length));
    PutLe32(header + 12, (static_cast<std::uint32_t>(width) & 0xFFF) | ((static_cast<std::uint32_t>(height) & 0xFFF) << 12));
    PutLe32(header + 16, static_cast<std::uint32_t>(sequence % kSequenceModulus) << 14);
    header[24] = static_cast<std::uint8_t>(frameRate & 0x1F);
    if (length) std::memcpy(header + kCompactHeaderSize, accessUnit, length);
}

void BuildVideoDescription(std::vector<std::uint8_t>& out, int frameRate, int width, int height,
                           std::uint64_t startTimestamp) {
    BuildDescription(out, kVideoDescription, kVideoCodecH264, static_cast<std::uint32_t>(frameRate & 0xFF),
                     static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), startTimestamp);
}

void BuildAudioDescription(std::vector<std::uint8_t>& out, int channels, int sampleRate, int bitsPerSample,
                           std::uint64_t startTimestamp) {
    BuildDescription(out, kAudioDescription, kAudioCodecAlaw, static_cast<std::uint32_t>(channels & 0xFF),
                     static_cast<std::uint32_t>(sampleRate), static_cast<std::uint32_t>(bitsPerSample), startTimestamp);
}

void BuildMediaPacket(std::vector<std::uint8_t>& out, std::uint16_t subType, std::uint16_t sequence,
                      std::uint64_t timestamp, const std::uint8_t* payload, std::size_t length) {
    out.resize(1 + kPacketHeaderSize + length + 1);
    std::uint8_t* header = out.data() + 1;
    out[0] = kLinkMedia;
    PutLe16(header, subType);
    PutLe16(header + 2, sequence);
    PutLe32(header + 4, static_cast<std::uint32_t>(timestamp));
    PutLe32(header + 8, static_cast<std::uint32_t>(timestamp >> 32));
    if (length) std::memcpy(header + kPacketHeaderSize, payload, length);
    out.back() = kTrailingByte;
}

LinkRequest ParseLinkRequest(const std::uint8_t* data, std::size_t length) {
    LinkRequest request;
    if (data == nullptr || length == 0) return request;
    if (data[0] == kLinkControl) {
        auto message = control::DecodeMessage(reinterpret_cast<const char*>(data), length);
        if (message && message->realm == kLinkRealm) {
            request.kind = LinkRequest::kControl;
            request.control = std::move(*message);
        }
        return request;
    }
    if (data[0] != kLinkMedia || length < kTalkAudioHeaderSize) return request;
    if ((data[1] | (data[2] << 8)) != kTalkAudioPacket) return request;
    const std::uint8_t* id = data + 13;
    const void* end = std::memchr(id, 0, kTalkIdFieldSize);
    if (end == nullptr) return request;  // the talk id must be terminated inside its field
    request.kind = LinkRequest::kTalkAudio;
    request.timestamp = static_cast<std::uint64_t>(ReadLe32(data + 5)) | (static_cast<std::uint64_t>(ReadLe32(data + 9)) << 32);
    request.talkId.assign(reinterpret_cast<const char*>(id), static_cast<const std::uint8_t*>(end) - id);
    request.audio = data + kTalkAudioHeaderSize;
    request.audioLength = length - kTalkAudioHeaderSize;
    return request;
}

}  // namespace sim
