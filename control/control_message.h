#pragma once
// The unit of the control channel (and, with realm 2, of the forwarding links): an id,
// a message type, a realm and string parameters; and its wire form: one type byte,
// then jsoncpp FastWriter JSON (members in byte order, trailing line feed). Replies
// may be scrambled by XOR-ing every byte after the type byte with 0x5A.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace Json {
class Value;
}

namespace control {

struct ControlMessage {
    std::int32_t id = 0;
    std::int32_t msgType = 0;
    std::int32_t realm = 1;
    std::map<std::string, std::string> params;

    // A missing key reads as the empty string.
    std::string Param(const std::string& key) const;
};

constexpr std::uint8_t kRequestTypeByte = 0x00;
constexpr std::uint8_t kScrambleMask = 0x5A;

// The JSON text of a message: {"id":..,"msgType":..,"params":{..},"realm":..}\n
std::string EncodeJson(const ControlMessage& message);

// Type byte followed by the JSON text.
std::string EncodeRequest(const ControlMessage& message);

// The envelope with arbitrary JSON params (the service's side: replies may carry
// numbers and arrays), optionally scrambled.
std::string EncodeEnvelope(std::int32_t id, std::int32_t msgType, std::int32_t realm, const Json::Value& params,
                           bool scramble, std::uint8_t typeByte = kRequestTypeByte);

// Decodes a received message (type byte first). Scrambled and plain text decode
// alike. Params become strings: arrays as their compact JSON text (empty arrays are
// left out), msgType 500 replies flattened to their authority names. Nothing when the
// message cannot be decoded.
std::optional<ControlMessage> DecodeMessage(const char* data, std::size_t length);

}  // namespace control
