#include <gtest/gtest.h>
#include <json/json.h>

#include "sim/control_service.h"
#include "sim_test_support.h"

using namespace simtest;
using control::ControlMessage;

namespace {

class ControlServiceTest : public ::testing::Test {
protected:
    explicit ControlServiceTest(int cameras = 40, std::size_t chunk = 500) : seeded_(cameras) {
        sim::ControlOptions options;
        options.listChunkRows = chunk;
        options.uploadUrlBase = "http://127.0.0.1:8080/upload/";
        options.updateUrl = "http://127.0.0.1:8080/update/";
        service_ = std::make_unique<sim::ControlService>(seeded_.store, channel_, scheduler_.Get(), options);
        service_->OnAccept(kConnection);
    }

    void Send(const std::string& wire, sim::ConnectionId connection = kConnection) {
        service_->OnMessage(connection, wire.data(), wire.size());
    }
    std::vector<ControlMessage> Ask(std::int32_t id, std::int32_t type, std::map<std::string, std::string> params = {}) {
        Send(Request(id, type, std::move(params)));
        return channel_.TakeDecoded();
    }
    void LogIn(const std::string& user = "demo") {
        auto replies = Ask(1, 2, {{"userName", user}, {"password", kDemoDigest}, {"oemId", "1"}, {"ver", "1.1.1"}});
        ASSERT_EQ(replies.size(), 1u);
        ASSERT_EQ(replies[0].Param("status"), "1");
    }

    static constexpr sim::ConnectionId kConnection = 7;
    SeededStore seeded_;
    RecordingChannel channel_;
    ManualScheduler scheduler_;
    std::unique_ptr<sim::ControlService> service_;
};

sim::ReplyFault Fault(bool withhold, int delayMs = 0, bool malformed = false, std::optional<bool> scramble = {}) {
    sim::ReplyFault fault;
    fault.withhold = withhold;
    fault.delay = std::chrono::milliseconds(delayMs);
    fault.malformed = malformed;
    fault.scramble = scramble;
    return fault;
}

class SmallListTest : public ControlServiceTest {
protected:
    SmallListTest() : ControlServiceTest(16, 10) {}
};

}  // namespace

// Golden bytes, written out by hand from the documented envelope: type byte, then
// FastWriter JSON with members in byte order, non-ASCII as \u escapes, a line feed.
TEST_F(ControlServiceTest, HeartbeatReplyBytes) {
    Send(Request(77, 1));
    auto sent = channel_.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, std::string("\0", 1) + "{\"id\":77,\"msgType\":1,\"params\":{\"status\":1},\"realm\":1}\n");
}

TEST_F(ControlServiceTest, LoginReplyBytes) {
    Send(std::string("\0", 1) +
         "{\"id\":123456,\"msgType\":2,\"params\":{\"oemId\":\"1\",\"password\":\"E744A3AA6019D2B8526D6FC49C5336CF\","
         "\"userName\":\"demo\",\"ver\":\"1.1.1\"},\"realm\":1}\n");
    auto sent = channel_.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes,
              std::string("\0", 1) +
                  "{\"id\":123456,\"msgType\":2,\"params\":{\"activeTime\":\"2022-10-10 22:13:20\","
                  "\"enableList\":\"101;102;103;104\","
                  "\"showMsg\":\"\\u6b22\\u8fce\\u4f7f\\u7528\\u8fdc\\u7a0b\\u76d1\\u63a7\\u6f14\\u793a\\u670d\\u52a1\","
                  "\"status\":1,\"updateUrl\":\"http://127.0.0.1:8080/update/\","
                  "\"uploadUrl\":\"http://127.0.0.1:8080/upload/10001/\",\"userId\":\"10001\"},\"realm\":1}\n");
}

TEST_F(ControlServiceTest, ForwardingAddressWithNodeBytes) {
    LogIn();
    Send(Request(9, 50, {{"cameraId", "31000001"}}));
    auto sent = channel_.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, std::string("\0", 1) +
                                 "{\"id\":9,\"msgType\":50,\"params\":{\"keyword\":\"9E4DB2A77F0D1324\",\"nodeId\":\"24\","
                                 "\"status\":1,\"transpondIP\":\"127.0.0.1\",\"transpondPort\":\"19001\","
                                 "\"transpondStatus\":\"1\"},\"realm\":1}\n");
}

TEST_F(ControlServiceTest, ScrambledAccountsGetEveryByteAfterTheTypeByteXored) {
    auto plain = std::string("\0", 1) + "{\"id\":4,\"msgType\":1,\"params\":{\"status\":1},\"realm\":1}\n";
    LogIn("zhangwei");  // an account whose replies are scrambled
    Send(Request(4, 1));
    auto sent = channel_.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, Xor5A(plain));
    EXPECT_EQ(static_cast<unsigned char>(sent[0].bytes[1]), 0x21) << "'{' ^ 0x5A";

    service_->SetConnectionScramble(kConnection, false);
    Send(Request(4, 1));
    EXPECT_EQ(channel_.Take().at(0).bytes, plain);
}

TEST_F(ControlServiceTest, LoginStatusesAndTheirSideData) {
    auto login = [&](const std::string& user, const std::string& password, const std::string& oem = "1") {
        auto replies = Ask(2, 2, {{"userName", user}, {"password", password}, {"oemId", oem}, {"ver", "1.1.1"}});
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? ControlMessage{} : replies[0];
    };
    EXPECT_EQ(login("demo", "larkview").Param("status"), "-1");
    EXPECT_EQ(login("demo", "").Param("status"), "-1");
    EXPECT_EQ(login("expired", kDemoDigest).Param("status"), "-2");
    EXPECT_EQ(login("busy", kDemoDigest).Param("status"), "-3");
    EXPECT_EQ(login("busy", kDemoDigest).Param("userId"), "") << "refused logins carry no account data";
    auto partner = login("partner", kDemoDigest);
    EXPECT_EQ(partner.Param("status"), "2");
    EXPECT_EQ(partner.Param("userId"), "20001");
    EXPECT_EQ(login("demo", kDemoDigest, "7").Param("status"), "2") << "another brand's client";
    auto demo = login("demo", kDemoDigest);
    EXPECT_EQ(demo.Param("status"), "1");
    EXPECT_EQ(demo.Param("enableList"), "101;102;103;104");
}

TEST_F(ControlServiceTest, OnlineMaximumCountsLiveSessions) {
    // zhangwei may be logged in twice; the third connection is refused until one leaves.
    auto loginOn = [&](sim::ConnectionId connection) {
        service_->OnAccept(connection);
        Send(Request(1, 2, {{"userName", "zhangwei"}, {"password", kDemoDigest}, {"oemId", "1"}}), connection);
        return channel_.TakeDecoded().at(0).Param("status");
    };
    EXPECT_EQ(loginOn(1), "1");
    EXPECT_EQ(loginOn(2), "1");
    EXPECT_EQ(loginOn(3), "-3");
    service_->OnClosed(1);
    EXPECT_EQ(loginOn(3), "1");
}

TEST_F(ControlServiceTest, RequestsBeforeLoginAreRefused) {
    for (int type : {5, 6, 8, 50, 500}) {
        auto replies = Ask(3, type, {{"cameraId", "31000001"}});
        ASSERT_EQ(replies.size(), 1u) << type;
        EXPECT_EQ(replies[0].Param("status"), std::to_string(sim::kStatusNotLoggedIn)) << type;
        EXPECT_EQ(replies[0].Param("transpondIP"), "") << type;
    }
    auto list = Ask(3, 29, {{"userId", "10001"}});
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Param("end"), "1") << "the list waiter is released at once";
    EXPECT_EQ(list[0].Param("cameraIdList"), "");
    // A refused login does not open the door either.
    Ask(1, 2, {{"userName", "demo"}, {"password", "00000000000000000000000000000000"}, {"oemId", "1"}});
    EXPECT_EQ(Ask(3, 5, {{"cameraId", "31000001"}}).at(0).Param("status"), std::to_string(sim::kStatusNotLoggedIn));
    EXPECT_EQ(Ask(3, 1).at(0).Param("status"), "1") << "heartbeats are always answered";
}

TEST_F(ControlServiceTest, UndecodableRequestsAreDroppedAndCounted) {
    for (std::string bad : {std::string(""), std::string("\0", 1), std::string("\0{\"id\":", 7),
                            std::string("\0[1]", 4), std::string("\0{\"params\":3}", 13)})
        Send(bad);
    EXPECT_TRUE(channel_.Take().empty());
    EXPECT_EQ(service_->GetStats().undecodable, 5u);
}

TEST_F(ControlServiceTest, ForwardingAddressStatuses) {
    LogIn();
    auto ask = [&](const std::string& camera) { return Ask(5, 5, {{"cameraId", camera}}).at(0); };
    auto online = ask("31000001");
    EXPECT_EQ(online.Param("status"), "1");
    EXPECT_EQ(online.Param("transpondPort"), "19001");
    EXPECT_EQ(online.Param("nodeId"), "") << "type 5 carries no node";
    auto offline = ask("31000004");  // the fourth camera is offline
    EXPECT_EQ(offline.Param("status"), "-3");
    EXPECT_EQ(offline.Param("transpondPort"), "19002") << "an offline camera keeps its server";
    auto expired = ask("31000006");  // the sixth has lapsed
    EXPECT_EQ(expired.Param("status"), "-2");
    EXPECT_EQ(expired.Param("transpondIP"), "");
    EXPECT_EQ(ask("99999999").Param("status"), "-1");
    EXPECT_EQ(ask("").Param("status"), "-1");
}

TEST_F(ControlServiceTest, PlaybackSetUpListsRangesAndChecksRights) {
    LogIn();
    auto reply = Ask(6, 6, {{"cameraId", "31000002"}, {"startTime", "2023-11-12 00:00:00"}, {"endTime", "2023-11-12 23:59:59"}}).at(0);
    EXPECT_EQ(reply.Param("status"), "1");
    EXPECT_EQ(reply.Param("timeQuantum"),
              "2023-11-12 08:00:00~2023-11-12 09:00:00;2023-11-12 12:30:00~2023-11-12 13:15:00;"
              "2023-11-12 20:00:00~2023-11-12 21:30:00");
    EXPECT_FALSE(reply.Param("playbackId").empty());
    EXPECT_EQ(reply.Param("transpondPort"), "19002");
    // Blank-padded times, as the playback panel writes them, are understood.
    auto padded = Ask(6, 6, {{"cameraId", "31000002"}, {"startTime", "2023-11-12  8: 0: 0"}, {"endTime", "2023-11-12  8:30: 0"}}).at(0);
    EXPECT_EQ(padded.Param("timeQuantum"), "2023-11-12 08:00:00~2023-11-12 09:00:00");
    auto empty = Ask(6, 6, {{"cameraId", "31000002"}, {"startTime", "2023-01-01 00:00:00"}, {"endTime", "2023-01-02 00:00:00"}}).at(0);
    EXPECT_EQ(empty.Param("status"), "-2") << "no data";
    EXPECT_EQ(empty.Param("timeQuantum"), "");
    EXPECT_EQ(empty.Param("playbackId"), "");
    EXPECT_EQ(Ask(6, 6, {{"cameraId", "31000002"}, {"startTime", "later"}, {"endTime", "2023-01-02 00:00:00"}}).at(0).Param("status"), "-1");
    EXPECT_EQ(Ask(6, 6, {{"cameraId", "31000002"}, {"startTime", "2023-01-03 00:00:00"}, {"endTime", "2023-01-02 00:00:00"}}).at(0).Param("status"), "-1");
}

TEST_F(ControlServiceTest, SubAccountWithoutPlaybackRightIsRefused) {
    LogIn("zhangwei");  // holds CLOUD_DECK only
    auto reply = Ask(6, 6, {{"cameraId", "31000002"}, {"startTime", "2023-11-12 00:00:00"}, {"endTime", "2023-11-12 23:59:59"}}).at(0);
    EXPECT_EQ(reply.Param("status"), "-2");
}

TEST_F(ControlServiceTest, AlarmSearchGivesEightParallelLists) {
    LogIn();
    auto reply = Ask(8, 8, {{"startTime", "2023-11-14 06:00:00"}, {"endTime", "2023-11-14 06:59:59"}, {"nodeId", ""},
                            {"cameraId", "31000001"}}).at(0);
    EXPECT_EQ(reply.Param("status"), "1");
    const char* keys[] = {"nodeIdList", "nodeNameList", "cameraIdList", "cameraNameList",
                          "kindNameList", "msgList", "pictureList", "datetimeList"};
    for (const char* key : keys) EXPECT_EQ(Split(reply.Param(key)).size(), 9u) << key;
    auto times = Split(reply.Param("datetimeList"));
    EXPECT_EQ(times.front(), "2023-11-14 06:00:13");
    EXPECT_EQ(times.back(), "2023-11-14 06:56:13");
    for (const auto& item : Split(reply.Param("msgList"))) EXPECT_FALSE(item.empty());
    EXPECT_EQ(Split(reply.Param("nodeNameList"))[0], "文三路门店");
    EXPECT_EQ(Split(reply.Param("pictureList"))[0].rfind("alarm_", 0), 0u);

    // Without a camera the search covers every camera of the account.
    auto wide = Ask(8, 8, {{"startTime", "2023-11-14 00:00:00"}, {"endTime", "2023-11-14 23:59:59"}, {"nodeId", ""}}).at(0);
    EXPECT_GT(Split(wide.Param("cameraIdList")).size(), 120u);

    auto nothing = Ask(8, 8, {{"startTime", "2020-01-01 00:00:00"}, {"endTime", "2020-01-01 23:59:59"}, {"nodeId", ""}}).at(0);
    EXPECT_EQ(nothing.Param("status"), "1");
    EXPECT_EQ(nothing.Param("msgList"), "");
    auto bad = Ask(8, 8, {{"startTime", "yesterday"}, {"endTime", "2020-01-01 23:59:59"}}).at(0);
    EXPECT_EQ(bad.Param("status"), "-1");
}

TEST_F(ControlServiceTest, AuthorityListIsFlattenedByTheClientDecoder) {
    LogIn();
    auto own = Ask(10, 500).at(0);
    EXPECT_EQ(own.params, (std::map<std::string, std::string>{{"CLOUD_DECK", "CLOUD_DECK"},
                                                               {"MEDIA_PARAMS", "MEDIA_PARAMS"},
                                                               {"VIDEO_PLAYBACK", "VIDEO_PLAYBACK"},
                                                               {"status", "1"},
                                                               {"userId", "10001"}}));
    auto sub = Ask(11, 500, {{"userId", "10002"}}).at(0);
    EXPECT_EQ(sub.params, (std::map<std::string, std::string>{{"CLOUD_DECK", "CLOUD_DECK"}, {"status", "1"}, {"userId", "10002"}}));
    auto stranger = Ask(12, 500, {{"userId", "20001"}}).at(0);
    EXPECT_EQ(stranger.Param("status"), "-1");
    EXPECT_EQ(stranger.Param("CLOUD_DECK"), "");
}

TEST_F(ControlServiceTest, AuthorityReplyBytes) {
    LogIn("lina");
    Send(Request(3, 500));
    EXPECT_EQ(channel_.Take().at(0).bytes,
              std::string("\0", 1) +
                  "{\"id\":3,\"msgType\":500,\"params\":{\"authority\":[{\"name\":\"MEDIA_PARAMS\"},"
                  "{\"name\":\"VIDEO_PLAYBACK\"}],\"status\":1,\"userId\":\"10003\"},\"realm\":1}\n");
}

TEST_F(SmallListTest, ListComesInChunksEndingWithEnd) {
    LogIn();
    auto replies = Ask(29, 29, {{"userId", "10001"}});
    // 16 cameras, 25 nodes and the seeded (empty) camera group, 10 rows a reply.
    ASSERT_EQ(replies.size(), 5u);
    for (std::size_t i = 0; i < replies.size(); ++i) {
        EXPECT_EQ(replies[i].msgType, 29);
        EXPECT_EQ(replies[i].id, 29);
        EXPECT_EQ(replies[i].Param("status"), "1");
        EXPECT_EQ(replies[i].Param("end"), i + 1 == replies.size() ? "1" : "0");
    }
    // Joined as the client joins them, the lists line up row by row.
    const char* keys[] = {"cameraIdList", "cameraNameList", "cameraActiveList", "cameraExpiredList",
                          "expiredDateList", "transpondIPList", "transpondPortList", "nodeIdList",
                          "nodeNameList", "activeList", "cameraCountList", "cameraOnlineCountList", "parentIdList"};
    std::map<std::string, std::string> joined;
    for (const auto& reply : replies)
        for (const char* key : keys) joined[key] += (joined[key].empty() && &reply == &replies[0] ? "" : ";") + reply.Param(key);
    for (const char* key : keys) EXPECT_EQ(Split(joined[key]).size(), 42u) << key;
    auto nodeIds = Split(joined["nodeIdList"]);
    auto cameraIds = Split(joined["cameraIdList"]);
    auto counts = Split(joined["cameraCountList"]);
    auto online = Split(joined["cameraOnlineCountList"]);
    auto expired = Split(joined["cameraExpiredList"]);
    int cameras = 0;
    for (std::size_t i = 0; i < 42; ++i) {
        EXPECT_NE(nodeIds[i].empty(), cameraIds[i].empty()) << "row " << i << " is a node or a camera";
        if (!cameraIds[i].empty()) {
            ++cameras;
            EXPECT_EQ(counts[i], "0");
            EXPECT_TRUE(expired[i] == "1" || expired[i] == "0");
        }
    }
    EXPECT_EQ(cameras, 16);
    EXPECT_EQ(nodeIds[41], "80000001") << "groups follow the real tree";
    EXPECT_EQ(counts[41], "0");
    EXPECT_EQ(nodeIds[0], "1");
    EXPECT_EQ(counts[0], "16") << "a node counts the cameras below it";
    EXPECT_EQ(Split(joined["nodeNameList"])[0], "浙江省");
    EXPECT_EQ(Split(joined["parentIdList"])[0], "0");
}

TEST_F(SmallListTest, ListOfAnotherUserIdIsRefused) {
    LogIn();
    auto replies = Ask(29, 29, {{"userId", "20001"}});
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].Param("status"), "-1");
    EXPECT_EQ(replies[0].Param("end"), "1");
}

TEST(ControlServiceChunks, NeverFewerThanTwoRowsAReply) {
    // With one row a reply, a first reply holding one node would leave the client's
    // camera-id list empty, and the client would then glue the next reply onto it.
    SeededStore seeded(4);
    RecordingChannel channel;
    sim::ControlOptions options;
    options.listChunkRows = 1;
    sim::ControlService service(seeded.store, channel, nullptr, options);
    auto login = Request(1, 2, {{"userName", "demo"}, {"password", kDemoDigest}, {"oemId", "1"}});
    service.OnMessage(1, login.data(), login.size());
    channel.Take();
    auto list = Request(2, 29, {{"userId", "10001"}});
    service.OnMessage(1, list.data(), list.size());
    auto replies = channel.TakeDecoded();
    ASSERT_EQ(replies.size(), 15u);  // 28 rows and the seeded camera group's, two a reply
    EXPECT_EQ(Split(replies[0].Param("cameraIdList")).size(), 2u);
}

TEST(ControlServiceChunks, TenThousandCamerasInEvenChunks) {
    SeededStore seeded(10000);
    RecordingChannel channel;
    sim::ControlOptions options;
    options.listChunkRows = 1000;
    sim::ControlService service(seeded.store, channel, nullptr, options);
    auto login = Request(1, 2, {{"userName", "demo"}, {"password", kDemoDigest}, {"oemId", "1"}});
    service.OnMessage(1, login.data(), login.size());
    channel.Take();
    auto list = Request(2, 29, {{"userId", "10001"}});
    service.OnMessage(1, list.data(), list.size());
    auto replies = channel.TakeDecoded();
    ASSERT_EQ(replies.size(), 12u);  // 11,273 rows and the seeded camera group's
    std::size_t cameras = 0;
    for (const auto& reply : replies)
        for (const auto& id : Split(reply.Param("cameraIdList"))) cameras += id.empty() ? 0 : 1;
    EXPECT_EQ(cameras, 10000u);
    EXPECT_EQ(replies.back().Param("end"), "1");
}

TEST_F(ControlServiceTest, WithheldDelayedMalformedAndForcedScrambleReplies) {
    LogIn();
    service_->SetReplyFault(5, Fault(true));
    EXPECT_TRUE(Ask(1, 5, {{"cameraId", "31000001"}}).empty());
    EXPECT_EQ(service_->GetStats().withheld, 1u);
    EXPECT_EQ(Ask(1, 1).size(), 1u) << "other types still answered";

    service_->SetReplyFault(5, Fault(false, 1500));
    EXPECT_TRUE(Ask(1, 5, {{"cameraId", "31000001"}}).empty());
    ASSERT_EQ(scheduler_.delays.size(), 1u);
    EXPECT_EQ(scheduler_.delays[0], std::chrono::milliseconds(1500));
    scheduler_.RunAll();
    EXPECT_EQ(channel_.TakeDecoded().at(0).Param("status"), "1");

    service_->SetReplyFault(5, Fault(false, 0, true));
    Send(Request(1, 5, {{"cameraId", "31000001"}}));
    auto sent = channel_.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_FALSE(control::DecodeMessage(sent[0].bytes.data(), sent[0].bytes.size())) << "the client must drop it";

    service_->SetReplyFault(5, Fault(false, 0, true, true));
    Send(Request(1, 5, {{"cameraId", "31000001"}}));
    sent = channel_.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(static_cast<unsigned char>(sent[0].bytes[1]), '{' ^ 0x5A) << "cut short, then scrambled";
    EXPECT_FALSE(control::DecodeMessage(sent[0].bytes.data(), sent[0].bytes.size()));

    service_->SetReplyFault(5, Fault(false, 0, false, true));
    Send(Request(1, 5, {{"cameraId", "31000001"}}));
    sent = channel_.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(static_cast<unsigned char>(sent[0].bytes[1]), '{' ^ 0x5A);
    EXPECT_EQ(control::DecodeMessage(sent[0].bytes.data(), sent[0].bytes.size())->Param("status"), "1");

    service_->ClearFaults();
    Send(Request(1, 5, {{"cameraId", "31000001"}}));
    EXPECT_EQ(channel_.Take().at(0).bytes[1], '{');
}

TEST_F(SmallListTest, DelayedListKeepsItsChunksInOrder) {
    LogIn();
    service_->SetReplyFault(29, Fault(false, 50));
    EXPECT_TRUE(Ask(29, 29, {{"userId", "10001"}}).empty());
    ASSERT_EQ(scheduler_.tasks.size(), 1u) << "one task for the whole answer";
    scheduler_.RunAll();
    auto replies = channel_.TakeDecoded();
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies.back().Param("end"), "1");
}

TEST_F(ControlServiceTest, PushesReachLoggedInConnectionsOfTheAccount) {
    service_->OnAccept(8);  // connected, never logged in
    LogIn();
    sim::AlarmRow alarm{5, "24", "文三路门店", "31000001", "大门", "移动侦测", "大门检测到移动物体", "2023-11-14 22:00:00", "alarm_5.jpg"};
    EXPECT_EQ(service_->PushAlarm(10001, alarm), 1);
    auto sent = channel_.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].connection, kConnection);
    auto pushed = control::DecodeMessage(sent[0].bytes.data(), sent[0].bytes.size());
    ASSERT_TRUE(pushed);
    EXPECT_EQ(pushed->msgType, 7);
    EXPECT_EQ(pushed->params, (std::map<std::string, std::string>{{"cameraId", "31000001"}, {"cameraName", "大门"},
                                                                  {"kindName", "移动侦测"}, {"msg", "大门检测到移动物体"},
                                                                  {"nodeId", "24"}, {"nodeName", "文三路门店"},
                                                                  {"picture", "alarm_5.jpg"}, {"time", "2023-11-14 22:00:00"}}));
    EXPECT_EQ(service_->PushAlarm(20001, alarm), 0) << "another account's connections only";

    EXPECT_EQ(service_->PushNotice(0, 1, "系统公告", "今晚维护"), 1);
    auto notice = channel_.TakeDecoded().at(0);
    EXPECT_EQ(notice.msgType, 35);
    EXPECT_EQ(notice.Param("cmd"), "1");
    EXPECT_EQ(notice.Param("tipTitle"), "系统公告");
    EXPECT_EQ(notice.Param("tipContent"), "今晚维护");

    const long long before = seeded_.store.CountRows("alarms");
    EXPECT_EQ(service_->PushRandomAlarms(), 1);
    EXPECT_EQ(seeded_.store.CountRows("alarms"), before + 1) << "pushed alarms can be searched afterwards";
    EXPECT_EQ(channel_.TakeDecoded().at(0).msgType, 7);
}

TEST_F(ControlServiceTest, RawBytesAndClosingGoThroughTheChannel) {
    EXPECT_TRUE(service_->SendRaw(kConnection, std::string("\x00\x00\x10", 3)));
    auto sent = channel_.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].raw);
    service_->OnAccept(8);
    service_->CloseAll();
    EXPECT_EQ(channel_.closed, (std::vector<sim::ConnectionId>{kConnection, 8}));
}

TEST(ControlServiceLists, SeparatorInsideAValueIsReplaced) {
    EXPECT_EQ(sim::ListItem("a;b"), "a\xEF\xBC\x9B" "b");
    EXPECT_EQ(sim::ListItem("plain"), "plain");
}

TEST(ControlServiceNotices, WaitingNoticeFollowsTheLogin) {
    SeededStore seeded(4);
    RecordingChannel channel;
    ManualScheduler scheduler;
    sim::ControlOptions options;
    options.pushNoticesOnLogin = true;
    sim::ControlService service(seeded.store, channel, scheduler.Get(), options);
    service.OnAccept(1);
    auto login = Request(1, 2, {{"userName", "demo"}, {"password", kDemoDigest}, {"oemId", "1"}});
    service.OnMessage(1, login.data(), login.size());
    EXPECT_EQ(channel.TakeDecoded().at(0).msgType, 2) << "the login reply comes first";
    ASSERT_EQ(scheduler.tasks.size(), 1u);
    scheduler.RunAll();
    auto notice = channel.TakeDecoded();
    ASSERT_EQ(notice.size(), 1u);
    EXPECT_EQ(notice[0].msgType, 35);
    EXPECT_EQ(notice[0].Param("tipContent"), "欢迎使用远程监控演示服务");
}

// Renewal (msgType 74): the holder pays from its balance; a camera that is not the
// account's, or a balance too low, is refused.
TEST_F(ControlServiceTest, RenewalPaysFromTheHoldersBalance) {
    LogIn();
    const std::string lapsed = "31000006";  // seeded camera 5 has lapsed
    const auto before = seeded_.store.Balance(10001);
    ASSERT_TRUE(before);
    auto replies = Ask(9, 74, {{"cameraId", lapsed}});
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].id, 9);
    EXPECT_EQ(replies[0].Param("status"), "1");
    EXPECT_EQ(replies[0].Param("cameraId"), lapsed);
    EXPECT_EQ(replies[0].Param("expire"), "365");
    const std::string renewedUntil = replies[0].Param("expiredDate");
    EXPECT_EQ(renewedUntil, sim::FormatDate(seeded_.store.Now() + 365 * 24 * 3600));
    EXPECT_EQ(*seeded_.store.Balance(10001), *before - sim::ServiceStore::kRenewalPrice);
    auto route = Ask(10, 5, {{"cameraId", lapsed}});
    EXPECT_NE(route[0].Param("status"), "-2") << "no longer expired";

    EXPECT_EQ(Ask(11, 74, {{"cameraId", "99999999"}})[0].Param("status"), "-3");
    ASSERT_TRUE(seeded_.store.SetBalance(10001, 99));
    EXPECT_EQ(Ask(12, 74, {{"cameraId", lapsed}})[0].Param("status"), "-2");
    EXPECT_EQ(*seeded_.store.Balance(10001), 99) << "a refused renewal costs nothing";
}

TEST_F(ControlServiceTest, SubAccountsOwnNoCamerasToRenew) {
    LogIn("lina");
    EXPECT_EQ(Ask(9, 74, {{"cameraId", "31000006"}})[0].Param("status"), "-3");
}
