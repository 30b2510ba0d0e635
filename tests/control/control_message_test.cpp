#include <gtest/gtest.h>
#include <json/json.h>

#include "control/control_message.h"

using control::ControlMessage;
using control::DecodeMessage;

namespace {
std::optional<ControlMessage> Decode(const std::string& wire) { return DecodeMessage(wire.data(), wire.size()); }
std::string Scrambled(std::string text) {
    for (std::size_t i = 1; i < text.size(); ++i) text[i] = static_cast<char>(text[i] ^ 0x5A);
    return text;
}
}  // namespace

// Golden bytes: written out by hand from the documented format, not produced by the
// encoder under test.
TEST(ControlWire, LoginRequestBytes) {
    ControlMessage login;
    login.id = 123456;
    login.msgType = 2;
    login.realm = 1;
    login.params = {{"userName", "demo"}, {"password", "E10ADC3949BA59ABBE56E057F20F883E"}, {"oemId", "1"}, {"ver", "1.1.1"}};
    const std::string expected = std::string(1, '\0') +
        "{\"id\":123456,\"msgType\":2,\"params\":{\"oemId\":\"1\",\"password\":\"E10ADC3949BA59ABBE56E057F20F883E\","
        "\"userName\":\"demo\",\"ver\":\"1.1.1\"},\"realm\":1}\n";
    EXPECT_EQ(control::EncodeRequest(login), expected);
}

TEST(ControlWire, HeartbeatRequestBytes) {
    ControlMessage heartbeat;
    heartbeat.id = 77;
    heartbeat.msgType = 1;
    EXPECT_EQ(control::EncodeRequest(heartbeat), std::string(1, '\0') + "{\"id\":77,\"msgType\":1,\"params\":{},\"realm\":1}\n");
}

TEST(ControlWire, ParamKeysAreOrderedByBytes) {
    ControlMessage message;
    message.params = {{"b", "2"}, {"B", "1"}, {"a", "3"}};
    EXPECT_NE(control::EncodeJson(message).find("{\"B\":\"1\",\"a\":\"3\",\"b\":\"2\"}"), std::string::npos);
}

TEST(ControlWire, ScrambledAndPlainRepliesDecodeAlike) {
    const std::string plain = std::string("\x01") + "{\"id\":5,\"msgType\":2,\"params\":{\"status\":1,\"userId\":\"u1\"},\"realm\":1}";
    auto a = Decode(plain);
    auto b = Decode(Scrambled(plain));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->params, b->params);
    EXPECT_EQ(a->params.at("status"), "1") << "numbers are read as strings";
    EXPECT_EQ(b->id, 5);
    EXPECT_EQ(b->msgType, 2);
}

TEST(ControlWire, ArraysAreKeptAsCompactJsonAndEmptyArraysDropped) {
    auto m = Decode(std::string("\x00", 1) + "{\"id\":1,\"msgType\":43,\"params\":{\"list\":[1,\"a\"],\"none\":[],\"n\":null},\"realm\":1}");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->params.at("list"), "[1,\"a\"]");
    EXPECT_EQ(m->params.count("none"), 0u);
    EXPECT_EQ(m->params.at("n"), "");
}

TEST(ControlWire, AuthorityRepliesAreFlattenedOnlyWhenStatusAdmits) {
    const std::string body = "\"authority\":[{\"name\":\"live\"},{\"name\":\"playback\"}],\"userId\":\"42\"";
    auto accepted = Decode(std::string("\x00", 1) + "{\"id\":1,\"msgType\":500,\"params\":{\"status\":1," + body + "},\"realm\":1}");
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->params, (std::map<std::string, std::string>{
                                    {"live", "live"}, {"playback", "playback"}, {"status", "1"}, {"userId", "42"}}));
    auto textStatus = Decode(std::string("\x00", 1) + "{\"id\":1,\"msgType\":500,\"params\":{\"status\":\"x\"," + body + "},\"realm\":1}");
    ASSERT_TRUE(textStatus);
    EXPECT_EQ(textStatus->params.count("live"), 1u) << "a non-numeric status also counts";
    auto refused = Decode(std::string("\x00", 1) + "{\"id\":1,\"msgType\":500,\"params\":{\"status\":-1," + body + "},\"realm\":1}");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->params.count("live"), 0u);
    EXPECT_EQ(refused->params.at("authority"), "[{\"name\":\"live\"},{\"name\":\"playback\"}]");
}

TEST(ControlWire, UndecodableMessagesAreDropped) {
    for (std::string bad : {std::string(""), std::string("\x00", 1), std::string("\x00{", 2), std::string("\x00[1,2]", 6),
                            std::string("\x00{\"id\":\"x\"}", 11), std::string("\x00{\"params\":{\"o\":{}}}", 20),
                            std::string("\x00{\"params\":5}", 13)})
        EXPECT_FALSE(Decode(bad)) << bad;
}

TEST(ControlWire, TextEndsAtTheFirstNul) {
    std::string wire = std::string("\x00", 1) + "{\"id\":9,\"msgType\":1,\"params\":{},\"realm\":1}" + std::string("\0garbage", 8);
    auto m = Decode(wire);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->id, 9);
}

TEST(ControlWire, EnvelopeRoundTripsThroughDecode) {
    Json::Value params(Json::objectValue);
    params["name"] = "北京";
    params["count"] = 3;
    std::string wire = control::EncodeEnvelope(4, 29, 1, params, true, 0x01);
    EXPECT_EQ(static_cast<unsigned char>(wire[1]), '{' ^ 0x5A);
    auto m = Decode(wire);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->params.at("name"), "北京");
    EXPECT_EQ(m->params.at("count"), "3");
}
