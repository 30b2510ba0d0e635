#pragma once
// The forwarding server's side of a link's wire format: the messages it sends (realm-2
// replies, compact video frames, media sub-messages, stream descriptions) and the
// parsing of what clients send (commands and talk audio). Builders write into a
// caller's buffer so that streaming reuses one buffer per link.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "control/control_message.h"

namespace sim {

enum LinkMessageType : std::uint8_t { kLinkControl = 0, kLinkCompactVideo = 1, kLinkMedia = 2 };
enum MediaSubType : std::uint16_t {
    kVideoDescription = 0,
    kAudioDescription = 1,
    kAudioPacket = 2,
    kVideoPacket = 3,
    kTalkAudioPacket = 4,
};

constexpr std::int32_t kLinkRealm = 2;
constexpr std::size_t kCompactHeaderSize = 28;
constexpr std::size_t kPacketHeaderSize = 12;
constexpr std::size_t kStreamDescriptionSize = 24;
constexpr std::size_t kTalkAudioHeaderSize = 31;  // type, sub-type, 0, tick, 0, talk id[18]
constexpr std::size_t kTalkIdFieldSize = 18;
constexpr std::uint8_t kVideoCodecH264 = 1;
constexpr std::uint8_t kAudioCodecAlaw = 101;
// The compact header's sequence field wraps at 65535, not 65536.
constexpr std::uint32_t kSequenceModulus = 65535;

// A realm-2 control message with text params: type byte 0, then the JSON.
std::string LinkControlMessage(std::int32_t id, std::int32_t msgType, const std::map<std::string, std::string>& params);

// Type 1: the 28-byte header (word 0 zero, timestamp, coded length, width | height << 12,
// sequence << 14, an unread word, the frame rate byte, three unread bytes), then the
// access unit.
void BuildCompactFrame(std::vector<std::uint8_t>& out, std::uint32_t timestamp, std::uint16_t sequence, int width,
                       int height, int frameRate, const std::uint8_t* accessUnit, std::size_t length);

// Type 2, sub-type 0 or 1: a stream description, then the trailing byte every media
// message carries.
void BuildVideoDescription(std::vector<std::uint8_t>& out, int frameRate, int width, int height,
                           std::uint64_t startTimestamp);
void BuildAudioDescription(std::vector<std::uint8_t>& out, int channels, int sampleRate, int bitsPerSample,
                           std::uint64_t startTimestamp);

// Type 2 with a packet header {sub-type, sequence, timestamp low, timestamp high}, the
// payload and the trailing byte.
void BuildMediaPacket(std::vector<std::uint8_t>& out, std::uint16_t subType, std::uint16_t sequence,
                      std::uint64_t timestamp, const std::uint8_t* payload, std::size_t length);

// One message from a client, as the forwarding server reads it.
struct LinkRequest {
    enum Kind { kInvalid, kControl, kTalkAudio };
    Kind kind = kInvalid;
    control::ControlMessage control;  // kControl: a realm-2 message
    // kTalkAudio: the client's tick, its talk id and the coded audio (pointing into the
    // parsed bytes).
    std::uint64_t timestamp = 0;
    std::string talkId;
    const std::uint8_t* audio = nullptr;
    std::size_t audioLength = 0;
};

// Control messages must decode and carry realm 2; talk audio needs its 31-byte header
// with sub-type 4 and a zero-terminated talk id. Anything else is kInvalid.
LinkRequest ParseLinkRequest(const std::uint8_t* data, std::size_t length);

}  // namespace sim
