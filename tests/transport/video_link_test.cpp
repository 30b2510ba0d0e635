#include <gtest/gtest.h>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/tick.h"
#include "transport/fake_forwarding_server.h"
#include "transport/talk_link.h"
#include "transport/video_link.h"

using namespace transport;
using testing_support::FakeForwardingServer;

namespace {

void PutLe32(std::vector<std::uint8_t>& out, std::size_t offset, std::uint32_t value) {
    for (int b = 0; b < 4; ++b) out[offset + b] = static_cast<std::uint8_t>(value >> (8 * b));
}

// A compact video frame message: type 1, the 28-byte header, the coded frame.
std::vector<std::uint8_t> CompactFrame(std::uint32_t width, std::uint32_t height, std::uint32_t fps,
                                       std::uint32_t timestamp, std::vector<std::uint8_t> coded,
                                       std::uint32_t sequenceSource = 0, std::uint32_t word0 = 0,
                                       std::int64_t lengthDelta = 0) {
    std::vector<std::uint8_t> message(1 + 28);
    message[0] = 1;
    PutLe32(message, 1, word0);
    PutLe32(message, 5, timestamp);
    PutLe32(message, 9, static_cast<std::uint32_t>(coded.size() + lengthDelta));
    PutLe32(message, 13, (width & 0xFFF) | ((height & 0xFFF) << 12));
    PutLe32(message, 17, sequenceSource);
    message[25] = static_cast<std::uint8_t>(fps | 0xE0);  // high bits are not the rate
    message.insert(message.end(), coded.begin(), coded.end());
    return message;
}

// A media message: type 2, the body, then one trailing byte that is not part of it.
std::vector<std::uint8_t> Media(std::vector<std::uint8_t> body) {
    std::vector<std::uint8_t> message{2};
    message.insert(message.end(), body.begin(), body.end());
    message.push_back(0xEE);
    return message;
}

std::vector<std::uint8_t> PacketBody(std::uint16_t subType, std::uint64_t timestamp, std::vector<std::uint8_t> payload) {
    std::vector<std::uint8_t> body(12);
    body[0] = static_cast<std::uint8_t>(subType);
    PutLe32(body, 4, static_cast<std::uint32_t>(timestamp));
    PutLe32(body, 8, static_cast<std::uint32_t>(timestamp >> 32));
    body.insert(body.end(), payload.begin(), payload.end());
    return body;
}

std::vector<std::uint8_t> Description(std::uint16_t kind, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3,
                                      std::uint64_t start) {
    std::vector<std::uint8_t> body(24);
    body[0] = static_cast<std::uint8_t>(kind);
    body[2] = kind == 0 ? 1 : 101;
    PutLe32(body, 4, w1);
    PutLe32(body, 8, w2);
    PutLe32(body, 12, w3);
    PutLe32(body, 16, static_cast<std::uint32_t>(start));
    PutLe32(body, 20, static_cast<std::uint32_t>(start >> 32));
    return body;
}

class LinkTest : public ::testing::Test {
protected:
    void Feed(const std::vector<std::uint8_t>& message) { link.Receive(0, message.data(), message.size()); }

    PacketQueue video, audio;
    VideoLink link{video, audio, nullptr};
};

}  // namespace

TEST_F(LinkTest, CompactFramesBecomeVideoPacketsWithTheirDescription) {
    Feed(CompactFrame(704, 576, 25, 1000, {0, 0, 0, 1, 0x65, 0xAA}, 3u << 14));
    auto record = video.Pop();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->SubType(), 3);
    EXPECT_EQ(record->Sequence(), 3);
    EXPECT_EQ(record->Timestamp(), 1000u);
    EXPECT_EQ(record->PayloadLength(), 6u);
    EXPECT_EQ(record->info.WidthOrSampleRate(), 704u);
    EXPECT_EQ(record->info.HeightOrBits(), 576u);
    EXPECT_EQ(record->info.RateOrChannels(), 25u);
    EXPECT_EQ(record->info.StartTimestamp(), 1000u);

    // Same size and rate: the description (and its start) stays.
    Feed(CompactFrame(704, 576, 25, 2000, {0, 0, 0, 1, 0x41}));
    EXPECT_EQ(video.Pop()->info.StartTimestamp(), 1000u);
    // A new width replaces it.
    Feed(CompactFrame(352, 576, 25, 3000, {0, 0, 0, 1, 0x41}));
    auto resized = video.Pop();
    EXPECT_EQ(resized->info.WidthOrSampleRate(), 352u);
    EXPECT_EQ(resized->info.StartTimestamp(), 3000u);
}

TEST_F(LinkTest, SequenceIsTakenModulo65535) {
    Feed(CompactFrame(352, 288, 25, 1, {0, 0, 0, 1, 0x41}, 65535u << 14));
    EXPECT_EQ(video.Pop()->Sequence(), 0);
}

TEST_F(LinkTest, MalformedCompactFramesAreDropped) {
    Feed(CompactFrame(352, 288, 25, 1, {0, 0, 0, 1}, 0, 7));       // word 0 not zero
    Feed(CompactFrame(352, 288, 25, 1, {0, 0, 0, 1}, 0, 0, 1));    // claims one byte more than follows
    std::vector<std::uint8_t> shortHeader = {1, 0, 0, 0};
    Feed(shortHeader);
    EXPECT_EQ(video.Size(), 0u);
}

TEST_F(LinkTest, MediaSubMessagesFollowTheirRules) {
    Feed(Media(Description(0, 25, 1280, 720, 500)));
    EXPECT_EQ(link.VideoInfo().WidthOrSampleRate(), 1280u);
    Feed(Media(PacketBody(3, 400, {0, 0, 0, 1, 0x41})));  // older than the stream start
    EXPECT_EQ(video.Size(), 0u);
    Feed(Media(PacketBody(3, 600, {0, 0, 0, 1, 0x41})));
    ASSERT_EQ(video.Size(), 1u);
    auto record = video.Pop();
    EXPECT_EQ(record->length, 17u) << "the trailing byte is not stored";
    EXPECT_EQ(record->info.HeightOrBits(), 720u);

    Feed(Media(PacketBody(2, 600, {1, 2, 3})));
    EXPECT_EQ(audio.Size(), 0u) << "audio only after a successful AudioOn";

    std::vector<std::uint8_t> oneByte = {2};
    Feed(oneByte);
    Feed(Media({3}));
    Feed(Media(PacketBody(9, 600, {})));
    Feed(Media(Description(1, 1, 8000, 16, 0)));
    EXPECT_EQ(link.AudioInfo().WidthOrSampleRate(), 8000u);
    Feed(Media(std::vector<std::uint8_t>(10, 0)));  // a description too short to take
    EXPECT_EQ(link.VideoInfo().WidthOrSampleRate(), 1280u);
    EXPECT_EQ(video.Size(), 0u);
}

TEST_F(LinkTest, ControlMessagesOfAnotherRealmAreIgnored) {
    struct Observer : LinkObserver {
        int stops = 0;
        int lost = 0;
        void OnServerStop() override { ++stops; }
        void OnConnectionLost() override { ++lost; }
    } observer;
    link.SetObserver(&observer);
    auto realm1 = control::EncodeEnvelope(0, 7, 1, Json::Value(Json::objectValue), false, 0);
    link.Receive(0, reinterpret_cast<const std::uint8_t*>(realm1.data()), realm1.size());
    EXPECT_EQ(observer.stops, 0);
    auto realm2 = FakeForwardingServer::Reply(7, {});
    link.Receive(0, reinterpret_cast<const std::uint8_t*>(realm2.data()), realm2.size());
    EXPECT_EQ(observer.stops, 1);
    link.Receive(-1, nullptr, 0);
    EXPECT_EQ(observer.lost, 1);
    link.SetObserver(nullptr);
}

TEST(VideoLinkOpen, ResultsFollowTheReply) {
    FakeForwardingServer server;
    PacketQueue video, audio;
    LinkTiming impatient;
    impatient.replyTimeoutMs = 200;
    EXPECT_EQ(VideoLink(video, audio, nullptr, impatient).Open("cam", "127.0.0.1", server.Port(), "p"), -8)
        << "no reply";
    VideoLink link(video, audio, nullptr);  // the default 5 s for a reply: replies come
    EXPECT_EQ(link.Open("", "127.0.0.1", server.Port(), "p"), -7);
    EXPECT_EQ(link.Open("cam", "", server.Port(), "p"), -7);
    EXPECT_EQ(link.Open("cam", "127.0.0.1", 0, "p"), -7);
    EXPECT_EQ(link.Open("cam", "127.0.0.1", 1, "p"), -4);

    std::string result = "0";
    server.SetScript([&](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType == 1) return {FakeForwardingServer::Reply(1, {{"result", result}})};
        if (m.msgType == 1003) return {FakeForwardingServer::Reply(1003, {{"result", "1"}})};
        if (m.msgType == 10) return {FakeForwardingServer::Reply(10, {{"width", "704"}, {"qp", "30"}})};
        return {};
    });
    EXPECT_EQ(link.Open("cam", "127.0.0.1", server.Port(), "p"), 0);
    result = "-2";
    EXPECT_EQ(link.Open("cam", "127.0.0.1", server.Port(), "p"), -2);
    EXPECT_FALSE(link.IsOpened());
    result = "1";
    ASSERT_EQ(link.Open("cam-7", "127.0.0.1", server.Port(), "secret"), 1);
    EXPECT_TRUE(link.IsOpened());
    auto open = server.Received().back();
    EXPECT_EQ(open.realm, 2);
    EXPECT_EQ(open.params, (std::map<std::string, std::string>{{"sxtId", "cam-7"}, {"pwd", "secret"}, {"major", "1"}, {"minor", "0"}}));
    EXPECT_NE(open.id, 0) << "open carries the tick as its id";

    EXPECT_TRUE(link.AudioOn());
    std::map<std::string, std::string> parameters;
    EXPECT_TRUE(link.GetParameters(parameters));
    EXPECT_EQ(parameters["width"], "704");
    link.PanTilt(2);
    link.AudioOff();
    for (int i = 0; i < 1000 && server.Count(1004) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto received = server.Received();
    auto ptz = std::find_if(received.begin(), received.end(), [](auto& m) { return m.msgType == 8; });
    ASSERT_NE(ptz, received.end());
    EXPECT_EQ(ptz->params, (std::map<std::string, std::string>{{"active", "2"}, {"speed", "3"}}));
    auto audioOn = std::find_if(received.begin(), received.end(), [](auto& m) { return m.msgType == 1003; });
    EXPECT_EQ(audioOn->id, 0) << "queries carry id 0";
    EXPECT_FALSE(link.AudioEnabled());
    link.Close();
    EXPECT_FALSE(link.IsConnected());
}

TEST(VideoLinkSupervision, SilenceAsksForANewAddressAndReopens) {
    FakeForwardingServer first, second;
    auto openOk = [](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType == 1) return {FakeForwardingServer::Reply(1, {{"result", "1"}})};
        return {};  // heartbeats unanswered
    };
    first.SetScript(openOk);
    second.SetScript(openOk);
    std::atomic<int> asked{0};
    PacketQueue video, audio;
    LinkTiming timing;
    timing.superviseWakeMs = 10;
    timing.heartbeatStartMs = 0;
    timing.silenceMs = 150;
    timing.replyTimeoutMs = 5000;  // replies come; a loaded machine may hold one back
    VideoLink link(video, audio,
                   [&](const std::string& camera) {
                       ++asked;
                       control::TransportAddress address;
                       address.status = -3;  // counts as usable
                       address.forwardingIp = "127.0.0.1";
                       address.forwardingPort = std::to_string(second.Port());
                       return address;
                   },
                   timing);
    struct Observer : LinkObserver {
        std::atomic<int> port{0};
        void OnForwardingAddress(const std::string&, const std::string&, int p) override { port = p; }
    } observer;
    link.SetObserver(&observer);
    ASSERT_EQ(link.Open("cam", "127.0.0.1", first.Port(), "p"), 1);
    std::uint32_t start = platform::TickCount();
    while (second.Count(1) == 0 && platform::TickSince(start) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(asked, 1);
    EXPECT_EQ(second.Count(1), 1) << "reopened on the new address";
    EXPECT_GT(first.Count(0), 0) << "heartbeats were sent while the link was quiet";
    EXPECT_EQ(observer.port, second.Port());
    link.SetObserver(nullptr);
}

// The address came, but nothing listened there (the forwarding server was down, as
// while the service restarts): the supervision tries again after the next silence.
TEST(VideoLinkSupervision, AReopenThatCannotConnectIsRetried) {
    auto first = std::make_unique<FakeForwardingServer>();
    FakeForwardingServer second;
    auto openOk = [](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType == 1) return {FakeForwardingServer::Reply(1, {{"result", "1"}})};
        return {};
    };
    first->SetScript(openOk);
    second.SetScript(openOk);
    const int deadPort = first->Port();
    std::atomic<int> asked{0};
    PacketQueue video, audio;
    LinkTiming timing;
    timing.superviseWakeMs = 10;
    timing.silenceMs = 150;
    timing.replyTimeoutMs = 5000;  // replies come; a loaded machine may hold one back
    timing.connectTimeoutMs = 500;
    VideoLink link(video, audio,
                   [&](const std::string&) {
                       control::TransportAddress address;
                       address.status = 1;
                       address.answered = true;
                       address.forwardingIp = "127.0.0.1";
                       // First the old address, where nothing listens any more.
                       address.forwardingPort = std::to_string(++asked == 1 ? deadPort : second.Port());
                       return address;
                   },
                   timing);
    ASSERT_EQ(link.Open("cam", "127.0.0.1", first->Port(), "p"), 1);
    first.reset();
    const std::uint32_t start = platform::TickCount();
    while (second.Count(1) == 0 && platform::TickSince(start) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(asked, 2) << "asked again after the failed reopen";
    EXPECT_EQ(second.Count(1), 1) << "reopened once the server was there";
    EXPECT_TRUE(link.IsConnected());
}

TEST(VideoLinkSupervision, ReopenAnsweredZeroStopsSupervising) {
    FakeForwardingServer server;
    std::atomic<int> opens{0};
    server.SetScript([&](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType != 1) return {};
        return {FakeForwardingServer::Reply(1, {{"result", ++opens == 1 ? "1" : "0"}})};
    });
    PacketQueue video, audio;
    LinkTiming timing;
    timing.superviseWakeMs = 10;
    timing.silenceMs = 100;
    timing.replyTimeoutMs = 5000;  // replies come; a loaded machine may hold one back
    std::atomic<int> asked{0};
    VideoLink link(video, audio,
                   [&](const std::string&) {
                       ++asked;
                       control::TransportAddress address;
                       address.status = 1;
                       address.forwardingIp = "127.0.0.1";
                       address.forwardingPort = std::to_string(server.Port());
                       return address;
                   },
                   timing);
    ASSERT_EQ(link.Open("cam", "127.0.0.1", server.Port(), "p"), 1);
    std::uint32_t start = platform::TickCount();
    while (opens < 2 && platform::TickSince(start) < 5000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(opens, 2) << "after a reopen answered 0 the supervision stops acting";
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(link.IsConnected());
    EXPECT_TRUE(link.IsOpened());
}

namespace {

// A one-shot gate a test opens for a thread that waits at it.
class Gate {
public:
    void Open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    void WaitOpen() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return open_; });
    }
    void Arrive() {
        {
            std::lock_guard lock(mutex_);
            arrived_ = true;
        }
        changed_.notify_all();
    }
    bool WaitArrived() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return arrived_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    bool arrived_ = false;
};

template <typename Predicate>
bool Eventually(Predicate done) {
    const std::uint32_t start = platform::TickCount();
    while (!done()) {
        if (platform::TickSince(start) > 5000) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace

// A Close while the supervision reopens ends the reopen: whatever the supervision
// connects after it is closed again and the link stays closed.
TEST(VideoLinkSupervision, CloseDuringAReopenLeavesTheLinkClosed) {
    auto openOk = [](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType == 1) return {FakeForwardingServer::Reply(1, {{"result", "1"}})};
        return {};
    };
    LinkTiming timing;
    timing.superviseWakeMs = 5;
    timing.silenceMs = 30;
    timing.replyTimeoutMs = 300;

    {   // closed while the control server is asked for the new address
        FakeForwardingServer first, second;
        first.SetScript(openOk);
        second.SetScript(openOk);
        Gate asking;
        PacketQueue video, audio;
        VideoLink link(video, audio,
                       [&](const std::string&) {
                           asking.Arrive();
                           asking.WaitOpen();
                           control::TransportAddress address;
                           address.status = 1;
                           address.forwardingIp = "127.0.0.1";
                           address.forwardingPort = std::to_string(second.Port());
                           return address;
                       },
                       timing);
        ASSERT_EQ(link.Open("cam", "127.0.0.1", first.Port(), "p"), 1);
        ASSERT_TRUE(asking.WaitArrived());
        link.Close();
        asking.Open();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(link.IsConnected());
        EXPECT_FALSE(link.IsOpened());
        EXPECT_EQ(second.Connections(), 0) << "no reopen after the Close";
    }
    {   // closed while the reopen waits for the server's open reply
        FakeForwardingServer first, second;
        first.SetScript(openOk);
        Gate replying;
        second.SetScript([&](const control::ControlMessage& m) -> std::vector<std::string> {
            if (m.msgType != 1) return {};
            replying.Arrive();
            replying.WaitOpen();
            return {FakeForwardingServer::Reply(1, {{"result", "1"}})};
        });
        PacketQueue video, audio;
        std::atomic<int> asked{0};
        VideoLink link(video, audio,
                       [&](const std::string&) {
                           ++asked;
                           control::TransportAddress address;
                           address.status = 1;
                           address.forwardingIp = "127.0.0.1";
                           address.forwardingPort = std::to_string(second.Port());
                           return address;
                       },
                       timing);
        ASSERT_EQ(link.Open("cam", "127.0.0.1", first.Port(), "p"), 1);
        ASSERT_TRUE(replying.WaitArrived());
        link.Close();
        replying.Open();
        // The supervision has finished its pass once it asks nothing more and the
        // open's reply time has passed.
        std::this_thread::sleep_for(std::chrono::milliseconds(timing.replyTimeoutMs + 50));
        EXPECT_FALSE(link.IsConnected());
        EXPECT_FALSE(link.IsOpened());
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(second.Connections(), 1);
    }
}

// A caller's Open after a Close is not undone by a reopen still running from before.
TEST(VideoLinkSupervision, AnOpenAfterTheCloseWinsOverTheOldReopen) {
    auto openOk = [](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType == 1) return {FakeForwardingServer::Reply(1, {{"result", "1"}})};
        return {};
    };
    FakeForwardingServer first, stale, fresh;
    first.SetScript(openOk);
    stale.SetScript(openOk);
    fresh.SetScript(openOk);
    LinkTiming timing;
    timing.superviseWakeMs = 5;
    timing.silenceMs = 30;
    timing.replyTimeoutMs = 300;
    Gate asking;
    std::atomic<int> asked{0};
    PacketQueue video, audio;
    VideoLink link(video, audio,
                   [&](const std::string&) {
                       if (++asked == 1) {
                           asking.Arrive();
                           asking.WaitOpen();
                       }
                       control::TransportAddress address;  // later passes: unusable, nothing reopens
                       address.status = asked == 1 ? 1 : -1;
                       address.forwardingIp = "127.0.0.1";
                       address.forwardingPort = std::to_string(stale.Port());
                       return address;
                   },
                   timing);
    ASSERT_EQ(link.Open("cam", "127.0.0.1", first.Port(), "p"), 1);
    ASSERT_TRUE(asking.WaitArrived());
    link.Close();
    ASSERT_EQ(link.Open("other", "127.0.0.1", fresh.Port(), "p"), 1);
    asking.Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(stale.Connections(), 0);
    EXPECT_TRUE(link.IsConnected());
    EXPECT_EQ(link.CameraId(), "other");
}

TEST(TalkLink, OpensWithNodeIdTakesTalkIdAndFiltersItsMedia) {
    FakeForwardingServer server;
    server.SetScript([](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType == 1) return {FakeForwardingServer::Reply(1, {{"result", "1"}, {"TalkId", "T-9"}})};
        if (m.msgType == 1005 || m.msgType == 1006) return {FakeForwardingServer::Reply(m.msgType, {{"result", "1"}})};
        return {};
    });
    PacketQueue talk;
    TalkLink link(talk, nullptr);
    ASSERT_EQ(link.Open("cam", "127.0.0.1", server.Port(), "pw"), 1);
    EXPECT_EQ(link.TalkId(), "T-9");
    EXPECT_EQ(server.Received().back().params.at("nodeId"), "cam");

    auto first = Media(PacketBody(4, 5000, {9, 9}));
    link.Receive(0, first.data(), first.size());
    EXPECT_EQ(talk.Size(), 0u) << "talk audio only while talk is active";
    ASSERT_TRUE(link.Command(1005, true));
    EXPECT_TRUE(link.TalkActive());
    link.Receive(0, first.data(), first.size());
    EXPECT_EQ(talk.Size(), 1u) << "the talk's first voice fixes its start";
    auto late = Media(PacketBody(4, 4000, {9, 9}));
    link.Receive(0, late.data(), late.size());
    EXPECT_EQ(talk.Size(), 1u) << "voice stamped before the start is stale";
    auto next = Media(PacketBody(4, 5040, {9, 9}));
    link.Receive(0, next.data(), next.size());
    auto video = Media(PacketBody(3, 6000, {9}));
    link.Receive(0, video.data(), video.size());
    EXPECT_EQ(talk.Size(), 2u);
    ASSERT_TRUE(link.Command(1006, false));
    EXPECT_FALSE(link.TalkActive());

    // A new talk starts afresh, even with a camera clock that went back.
    ASSERT_TRUE(link.Command(1005, true));
    link.Receive(0, late.data(), late.size());
    EXPECT_EQ(talk.Size(), 3u);

    // Tick stamps across the wrap; 64-bit stamps as they are.
    EXPECT_FALSE(transport::IsStaleTalkAudio(5, 0xFFFFFF00u)) << "sent just after the wrap";
    EXPECT_TRUE(transport::IsStaleTalkAudio(0xFFFFFE00u, 5)) << "sent just before the wrap";
    EXPECT_TRUE(transport::IsStaleTalkAudio(0x0000019000000000ull, 0x0000019000000001ull));
    EXPECT_FALSE(transport::IsStaleTalkAudio(0x0000019000000002ull, 0x0000019000000001ull));
}

TEST(TalkLink, MissingOpenReplyGivesMinusFour) {
    FakeForwardingServer server;
    PacketQueue talk;
    LinkTiming timing = TalkLink::DefaultTiming();
    timing.replyTimeoutMs = 100;
    TalkLink link(talk, nullptr, timing);
    EXPECT_EQ(link.Open("cam", "127.0.0.1", server.Port(), "pw"), -4);
    EXPECT_EQ(link.TalkId(), "");
}
