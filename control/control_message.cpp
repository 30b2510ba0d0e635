#include "control/control_message.h"

#include <cstring>
#include <json/json.h>

// The channel's text is defined as the output of jsoncpp's classic reader and
// FastWriter, which newer jsoncpp marks deprecated.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace control {
namespace {

constexpr std::int32_t kAuthorityListType = 500;

std::string CompactJson(const Json::Value& value) {
    Json::FastWriter writer;
    writer.omitEndingLineFeed();
    return writer.write(value);
}

// The status of an authority reply admits the flattening when it is a number above
// 0 or any other non-null value.
bool AuthorityStatusAccepted(const Json::Value& status) {
    if (status.isNull()) return false;
    if (status.isNumeric()) return status.asDouble() > 0;
    return true;
}

void FlattenAuthorities(const Json::Value& params, std::map<std::string, std::string>& out) {
    const Json::Value& authorities = params["authority"];
    if (!authorities.isNull() && !authorities.isArray()) throw Json::LogicError("authority is not a list");
    for (const Json::Value& entry : authorities) {
        std::string name = entry["name"].asString();
        out[name] = name;
    }
    out["status"] = params["status"].asString();
    out["userId"] = params["userId"].asString();
}

void CopyParams(const Json::Value& params, std::map<std::string, std::string>& out) {
    for (const std::string& name : params.getMemberNames()) {
        const Json::Value& value = params[name];
        if (value.isArray()) {
            if (value.empty()) continue;
            out[name] = CompactJson(value);
        } else {
            out[name] = value.asString();
        }
    }
}

}  // namespace

std::string ControlMessage::Param(const std::string& key) const {
    auto it = params.find(key);
    return it == params.end() ? std::string() : it->second;
}

std::string EncodeJson(const ControlMessage& message) {
    Json::Value root(Json::objectValue);
    root["id"] = message.id;
    root["msgType"] = message.msgType;
    root["realm"] = message.realm;
    Json::Value params(Json::objectValue);
    for (const auto& [key, value] : message.params) params[key] = value;
    root["params"] = params;
    return Json::FastWriter().write(root);
}

std::string EncodeRequest(const ControlMessage& message) {
    std::string wire(1, static_cast<char>(kRequestTypeByte));
    wire += EncodeJson(message);
    return wire;
}

std::string EncodeEnvelope(std::int32_t id, std::int32_t msgType, std::int32_t realm, const Json::Value& params,
                           bool scramble, std::uint8_t typeByte) {
    Json::Value root(Json::objectValue);
    root["id"] = id;
    root["msgType"] = msgType;
    root["realm"] = realm;
    root["params"] = params.isNull() ? Json::Value(Json::objectValue) : params;
    std::string wire(1, static_cast<char>(typeByte));
    wire += Json::FastWriter().write(root);
    if (scramble)
        for (std::size_t i = 1; i < wire.size(); ++i) wire[i] = static_cast<char>(wire[i] ^ kScrambleMask);
    return wire;
}

std::optional<ControlMessage> DecodeMessage(const char* data, std::size_t length) {
    if (data == nullptr || length < 2) return std::nullopt;
    std::string text(data + 1, length - 1);  // the type byte is not checked
    if (static_cast<std::uint8_t>(text[0]) == ('{' ^ kScrambleMask))
        for (char& c : text) c = static_cast<char>(c ^ kScrambleMask);
    text.resize(std::strlen(text.c_str()));  // up to the first NUL

    try {
        Json::Value root;
        Json::Reader reader;
        if (!reader.parse(text, root, false) || !root.isObject()) return std::nullopt;
        ControlMessage message;
        message.id = root["id"].asInt();
        message.msgType = root["msgType"].asInt();
        message.realm = root["realm"].asInt();
        const Json::Value& params = root["params"];
        if (!params.isNull() && !params.isObject()) return std::nullopt;
        if (message.msgType == kAuthorityListType && AuthorityStatusAccepted(params["status"])) {
            FlattenAuthorities(params, message.params);
        } else if (!params.isNull()) {
            CopyParams(params, message.params);
        }
        return message;
    } catch (const std::exception&) {
        return std::nullopt;  // a value that does not convert: the message is dropped
    }
}

}  // namespace control
