// The client's forwarding links against the simulated service's forwarding servers:
// live video in both delivery forms, audio, talkback, the open refusals, remote
// playback, the supervision's reopen and the fault switches.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <thread>

#include "core/log_file.h"
#include "control/control_client.h"
#include "integration/sim_fixture.h"
#include "platform/paths.h"
#include "platform/tick.h"
#include "sim/forward_wire.h"
#include "transport/talk_link.h"
#include "transport/video_link.h"
#include "vdec/vdec.h"

using control::ControlClient;
using transport::PacketQueue;

namespace {

// Seeded cameras (camera k has id 31000001 + k): k = 0 compact frames with a
// pan-tilt-zoom head, k = 1 media sub-messages, k = 3 offline, k = 5 expired, k = 9
// under the working-day viewing plan.
const std::string kCompactCamera = "31000001";
const std::string kMediaCamera = "31000002";
const std::string kOfflineCamera = "31000004";
const std::string kExpiredCamera = "31000006";
const std::string kPlannedCamera = "31000010";

ControlClient::Timing QuickControl() {
    ControlClient::Timing timing;
    timing.keepAliveWakeMs = 50;
    timing.requestTimeoutMs = 3000;
    return timing;
}

transport::LinkTiming QuietLink() {
    // No heartbeats or reopens during a short test: the link's commands are the test's own.
    transport::LinkTiming timing;
    timing.superviseWakeMs = 100;
    timing.heartbeatStartMs = 60000;
    timing.silenceMs = 60000;
    timing.replyTimeoutMs = 3000;
    return timing;
}

transport::LinkTiming ReopeningLink() {
    transport::LinkTiming timing;  // the ten-second rule shortened to 0.6 s
    timing.superviseWakeMs = 50;
    timing.heartbeatStartMs = 100;
    timing.silenceMs = 600;
    timing.replyTimeoutMs = 3000;
    return timing;
}

bool WaitFor(const std::function<bool()>& done, std::uint32_t timeoutMs = 5000) {
    const std::uint32_t start = platform::TickCount();
    while (!done()) {
        if (platform::TickSince(start) > timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<PacketQueue::Record> Drain(PacketQueue& queue) {
    std::vector<PacketQueue::Record> records;
    while (auto record = queue.Pop()) records.push_back(std::move(record));
    return records;
}

std::time_t LocalTime(const std::string& text) {
    std::tm local{};
    std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &local.tm_year, &local.tm_mon, &local.tm_mday, &local.tm_hour,
                &local.tm_min, &local.tm_sec);
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

std::string TimeText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

class StopObserver final : public transport::LinkObserver {
public:
    void OnServerStop() override { ++stops; }
    void OnConnectionLost() override { ++losses; }
    std::atomic<int> stops{0}, losses{0};
};

class ForwardingWithSim : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        service = std::make_unique<testing_support::SimulatedService>(
            40, [](sim::SimConfig& simConfig) { simConfig.clipSeconds = 2; });
        service->PointAt(config, "demo", "larkview");
        client = std::make_unique<ControlClient>(QuickControl(), config);
        ASSERT_EQ(client->Connect(), 0);
        ASSERT_EQ(client->Login(), 1);
    }
    void TearDown() override {
        client.reset();
        service.reset();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }

    sim::SimService& Sim() { return service->Service(); }

    // Cheap pictures for the tests: CIF at the given rate.
    void UseVideo(const std::string& cameraId, int frameRate, bool media, bool ptz = false) {
        sim::CameraVideo clip;
        clip.width = 352;
        clip.height = 288;
        clip.frameRate = frameRate;
        clip.mediaMessages = media;
        clip.panTiltZoom = ptz;
        ASSERT_TRUE(Sim().Store().SetCameraVideo(cameraId, clip));
    }

    sim::LinkMarks::Marks Marks(const std::string& camera) { return Sim().Forwarding().Marks(camera); }

    // Waits for a step of the camera's stream that began after this call and had read
    // at least `commands` link commands: from it on, the stream follows those commands
    // and the fault switches as they are now. The marks as of then.
    sim::LinkMarks::Marks StreamCaughtUp(const std::string& camera, std::uint64_t commands) {
        const std::uint64_t steps = Marks(camera).streamSteps;
        EXPECT_TRUE(WaitFor([&] {
            const sim::LinkMarks::Marks now = Marks(camera);
            return now.streamSteps > steps && now.commandsStreamed >= commands;
        }));
        return Marks(camera);
    }

    // Waits for `steps` more steps of the camera's stream (a frame time each).
    bool StreamSteps(const std::string& camera, const sim::LinkMarks::Marks& from, std::uint64_t steps) {
        return WaitFor([&] { return Marks(camera).streamSteps >= from.streamSteps + steps; });
    }

    transport::AddressProvider Addresses() {
        return [this](const std::string& id) { return client->RequestForwardingAddress(id); };
    }

    int Open(transport::VideoLink& link, const std::string& id) {
        const control::TransportAddress address = client->RequestForwardingAddress(id);
        return link.Open(id, address.forwardingIp, std::atoi(address.forwardingPort.c_str()), "");
    }

    testing_support::TempDir dir;
    core::AppConfig config;
    std::unique_ptr<testing_support::SimulatedService> service;
    std::unique_ptr<ControlClient> client;
    PacketQueue video, audio, talk;
};

class LiveVideo : public ForwardingWithSim, public ::testing::WithParamInterface<bool> {};

}  // namespace

TEST_P(LiveVideo, ArrivesAtTheCameraRateAndStartsWithAKeyFrame) {
    const bool media = GetParam();
    const std::string camera = media ? kMediaCamera : kCompactCamera;
    UseVideo(camera, 20, media);
    transport::VideoLink link(video, audio, Addresses(), QuietLink());
    ASSERT_EQ(Open(link, camera), 1);

    // A second of frames, however long a loaded machine takes to deliver them.
    ASSERT_TRUE(WaitFor([&] { return video.Size() >= 21; }, 8000));
    auto records = Drain(video);
    EXPECT_TRUE(records.front()->IsKeyFrame());
    EXPECT_EQ(records.front()->Payload()[4] & 0x1F, 7) << "the parameter sets come first";
    // Live frames carry the time they were sent: 20 frame times of 50 ms, less what a
    // late first frame catches up (the sender skips ahead when over 250 ms behind).
    EXPECT_GE(static_cast<std::uint32_t>(records[20]->Timestamp() - records.front()->Timestamp()), 650u)
        << "not faster than the camera's rate";
    for (std::size_t i = 0; i < records.size(); ++i) {
        const transport::MediaPacket& packet = *records[i];
        EXPECT_EQ(packet.SubType(), transport::kVideoPacket);
        EXPECT_EQ(packet.info.WidthOrSampleRate(), 352u);
        EXPECT_EQ(packet.info.HeightOrBits(), 288u);
        EXPECT_EQ(packet.info.RateOrChannels(), 20u);
        EXPECT_EQ(packet.Sequence(), static_cast<std::uint16_t>(records.front()->Sequence() + i));
        if (i) {
            EXPECT_GE(packet.Timestamp(), records[i - 1]->Timestamp());
        }
    }
    EXPECT_TRUE(records[20]->IsKeyFrame()) << "key frames once a second: the 21st frame is one again";
    EXPECT_TRUE(audio.Size() == 0) << "no audio before AudioOn";
}

INSTANTIATE_TEST_SUITE_P(BothForms, LiveVideo, ::testing::Values(false, true),
                         [](const auto& named) { return named.param ? "MediaMessages" : "CompactFrames"; });

TEST_F(ForwardingWithSim, PicturesDecodeToTheAnnouncedSize) {
    UseVideo(kMediaCamera, 25, true);
    transport::VideoLink link(video, audio, Addresses(), QuietLink());
    ASSERT_EQ(Open(link, kMediaCamera), 1);
    ASSERT_TRUE(WaitFor([&] { return video.Size() >= 10; }));

    const unsigned long decoder = InitDeCode();
    ASSERT_NE(decoder, 0u);
    std::vector<char> picture(352 * 288 * 3 / 2);
    int pictures = 0;
    for (auto& packet : Drain(video)) {
        int consumed = 0, width = 0, height = 0;
        const int result = DeCoderEx(decoder, reinterpret_cast<char*>(const_cast<std::uint8_t*>(packet->Payload())),
                                     static_cast<int>(packet->PayloadLength()), picture.data(),
                                     static_cast<int>(picture.size()), consumed, width, height);
        ASSERT_EQ(result, 1) << "packet " << pictures;
        EXPECT_EQ(width, 352);
        EXPECT_EQ(height, 288);
        ++pictures;
    }
    ReleaseDeCode(decoder);
    EXPECT_GE(pictures, 10);
    // A real picture, not a blank one: the luma plane varies.
    const auto [low, high] = std::minmax_element(picture.begin(), picture.begin() + 352 * 288,
                                                 [](char a, char b) { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); });
    EXPECT_GT(static_cast<unsigned char>(*high) - static_cast<unsigned char>(*low), 100);
}

TEST_F(ForwardingWithSim, AudioFlowsOnlyBetweenAudioOnAndAudioOff) {
    UseVideo(kCompactCamera, 10, false);
    transport::VideoLink link(video, audio, Addresses(), QuietLink());
    ASSERT_EQ(Open(link, kCompactCamera), 1);
    ASSERT_TRUE(WaitFor([&] { return video.Size() >= 3; }));
    EXPECT_EQ(audio.Size(), 0u);
    EXPECT_EQ(Sim().Forwarding().GetStats().audioPackets, 0u) << "the server sends none before 1003";

    ASSERT_TRUE(link.AudioOn());
    ASSERT_TRUE(WaitFor([&] { return audio.Size() >= 8; }));
    for (auto& packet : Drain(audio)) {
        EXPECT_EQ(packet->SubType(), transport::kAudioPacket);
        EXPECT_EQ(packet->PayloadLength(), 322u) << "320 A-law samples and two of silence";
        EXPECT_EQ(packet->info.Codec(), 101);
        EXPECT_EQ(packet->info.Kind(), 1);
        EXPECT_EQ(packet->info.WidthOrSampleRate(), 8000u);
    }
    EXPECT_EQ(link.AudioInfo().RateOrChannels(), 1u);
    EXPECT_EQ(link.AudioInfo().HeightOrBits(), 16u);

    const std::uint64_t off = Marks(kCompactCamera).commands + 1;
    link.AudioOff();
    // Once the stream has read 1004: five frame times, a dozen audio packets' worth, and none.
    const sim::LinkMarks::Marks quiet = StreamCaughtUp(kCompactCamera, off);
    ASSERT_TRUE(StreamSteps(kCompactCamera, quiet, 5));
    EXPECT_EQ(Marks(kCompactCamera).audioPackets, quiet.audioPackets) << "the server sends none after 1004";
}

TEST_F(ForwardingWithSim, TalkLinkEchoesTalkAudioWhileTheVoiceChannelIsOpen) {
    const control::TransportAddress address = client->RequestForwardingAddressWithNode(kCompactCamera);
    ASSERT_EQ(address.status, 1);
    transport::TalkLink link(talk, nullptr, QuietLink());
    ASSERT_EQ(link.Open(kCompactCamera, address.forwardingIp, std::atoi(address.forwardingPort.c_str()), ""), 1);
    ASSERT_FALSE(link.TalkId().empty());
    ASSERT_LT(link.TalkId().size(), 18u);

    // The talk audio message the client sends: 31-byte header, then the coded audio.
    auto message = [&](std::uint8_t fill) {
        std::vector<std::uint8_t> bytes(31 + 320, fill);
        std::memset(bytes.data(), 0, 31);
        bytes[0] = 2;
        bytes[1] = 4;
        const std::uint32_t tick = platform::TickCount();
        std::memcpy(bytes.data() + 5, &tick, 4);
        std::memcpy(bytes.data() + 13, link.TalkId().c_str(), link.TalkId().size());
        return bytes;
    };
    auto before = message(0x11);
    EXPECT_GT(link.SendTalkAudio(before.data(), before.size()), 0);
    // The link handles its messages in order: the reply to 1005 follows any echo of the above.
    ASSERT_TRUE(link.Command(1005, true));
    EXPECT_EQ(Sim().Forwarding().GetStats().talkReceived, 1u);
    EXPECT_EQ(Sim().Forwarding().GetStats().talkEchoed, 0u) << "nothing comes back before 1005";
    for (std::uint8_t fill = 0x20; fill < 0x25; ++fill) {
        auto bytes = message(fill);
        ASSERT_GT(link.SendTalkAudio(bytes.data(), bytes.size()), 0);
    }
    ASSERT_TRUE(WaitFor([&] { return talk.Size() >= 5; }));
    std::uint8_t expected = 0x20;
    for (auto& packet : Drain(talk)) {
        EXPECT_EQ(packet->SubType(), transport::kTalkAudioPacket);
        ASSERT_EQ(packet->PayloadLength(), 322u);
        EXPECT_EQ(packet->Payload()[0], expected);
        EXPECT_EQ(packet->Payload()[319], expected++);
    }
    auto wrongId = message(0x30);
    wrongId[13] ^= 1;
    link.SendTalkAudio(wrongId.data(), wrongId.size());
    ASSERT_TRUE(link.Command(1006, false));
    auto after = message(0x31);
    link.SendTalkAudio(after.data(), after.size());
    ASSERT_TRUE(link.Command(1006, false)) << "a marker: its reply follows any echo of the above";
    EXPECT_EQ(Sim().Forwarding().GetStats().talkReceived, 8u);
    EXPECT_EQ(Sim().Forwarding().GetStats().talkEchoed, 5u) << "another talk id, or a closed channel, gets no echo";
    EXPECT_EQ(talk.Size(), 0u);
}

TEST_F(ForwardingWithSim, OpenRefusals) {
    auto openResult = [&](const std::string& id, const std::string& serverOf) {
        transport::VideoLink link(video, audio, Addresses(), QuietLink());
        const control::TransportAddress address = client->RequestForwardingAddress(serverOf);
        return link.Open(id, address.forwardingIp, std::atoi(address.forwardingPort.c_str()), "");
    };
    EXPECT_EQ(openResult("39999999", kCompactCamera), -1) << "unknown camera";
    EXPECT_EQ(openResult(kOfflineCamera, kOfflineCamera), -5) << "offline";
    EXPECT_EQ(openResult(kExpiredCamera, kCompactCamera), -9) << "expired";

    // The working-day plan (Monday to Friday, 08:00-18:00): a Sunday noon is outside.
    std::tm sunday{};
    sunday.tm_year = 2023 - 1900;
    sunday.tm_mon = 10;
    sunday.tm_mday = 12;  // 2023-11-12, a Sunday
    sunday.tm_hour = 12;
    sunday.tm_isdst = -1;
    const std::time_t sundayNoon = std::mktime(&sunday);
    Sim().Store().SetClock([&] { return sundayNoon; });
    EXPECT_EQ(openResult(kPlannedCamera, kPlannedCamera), -2) << "outside the open time window";
    Sim().Store().SetClock([&] { return sundayNoon + 24 * 3600; });  // Monday noon
    EXPECT_EQ(openResult(kPlannedCamera, kPlannedCamera), 1);
    Sim().Store().SetClock(nullptr);

    Sim().Forwarding().SetOpenRefusal(0);
    EXPECT_EQ(openResult(kCompactCamera, kCompactCamera), 0) << "the refuse-opens fault";
    Sim().Forwarding().ClearFaults();
    EXPECT_EQ(openResult(kCompactCamera, kCompactCamera), 1);

    transport::TalkLink talkLink(talk, nullptr, QuietLink());
    const control::TransportAddress address = client->RequestForwardingAddress(kCompactCamera);
    EXPECT_EQ(talkLink.Open(kOfflineCamera, address.forwardingIp, std::atoi(address.forwardingPort.c_str()), ""), -5);
    EXPECT_TRUE(talkLink.TalkId().empty());
}

TEST_F(ForwardingWithSim, PlaybackKeepsItsTimesPausesSeeksAndEndsWithStop) {
    UseVideo(kCompactCamera, 20, false);
    // The seeded recordings: three a day on the three days before today.
    const std::time_t now = std::time(nullptr);
    const control::RemotePlaybackReply setup =
        client->RequestRemotePlayback(kCompactCamera, TimeText(now - 4 * 24 * 3600), TimeText(now));
    ASSERT_EQ(setup.status, 1);
    ASSERT_FALSE(setup.timeQuantum.empty());
    const std::string first = setup.timeQuantum.substr(0, setup.timeQuantum.find(';'));
    const std::time_t firstStart = LocalTime(first.substr(0, first.find('~')));

    StopObserver observer;
    transport::VideoLink link(video, audio, Addresses(), QuietLink());
    link.SetObserver(&observer);
    ASSERT_EQ(link.Open(setup.playbackId, setup.forwardingIp, std::atoi(setup.forwardingPort.c_str()), ""), 1);

    // The recording's own time: milliseconds since 1970 from its start on.
    ASSERT_TRUE(WaitFor([&] { return video.Size() >= 5; }));
    auto records = Drain(video);
    EXPECT_TRUE(records.front()->IsKeyFrame());
    EXPECT_EQ(records.front()->Timestamp(), static_cast<std::uint64_t>(firstStart) * 1000);
    EXPECT_EQ(records.front()->info.StartTimestamp(), static_cast<std::uint64_t>(firstStart) * 1000);
    EXPECT_EQ(records.back()->Timestamp() - records.front()->Timestamp(), (records.size() - 1) * 50u);

    const std::uint64_t pause = Marks(kCompactCamera).commands + 1;
    link.Pause();
    const sim::LinkMarks::Marks paused = StreamCaughtUp(kCompactCamera, pause);
    ASSERT_TRUE(StreamSteps(kCompactCamera, paused, 5));
    EXPECT_EQ(Marks(kCompactCamera).videoFrames, paused.videoFrames) << "paused";

    // Seek half an hour in, written the way the client writes it (space padded). Frames
    // from before the pause may still be on their way: the seek's come after them.
    const std::uint64_t seekMs = static_cast<std::uint64_t>(firstStart + 1800) * 1000;
    link.Seek(TimeText(firstStart + 1800));
    link.Resume();
    PacketQueue::Record resumed;
    ASSERT_TRUE(WaitFor([&] {
        while (!resumed) {
            PacketQueue::Record record = video.Pop();
            if (!record) return false;
            if (record->Timestamp() >= seekMs) resumed = std::move(record);
        }
        return true;
    }));
    EXPECT_EQ(resumed->Timestamp(), seekMs);
    EXPECT_TRUE(resumed->IsKeyFrame());

    // Seeking past the last recording ends the playback.
    link.Seek(TimeText(now + 3600));
    ASSERT_TRUE(WaitFor([&] { return observer.stops > 0; }, 3000));
    EXPECT_GE(Sim().Forwarding().GetStats().stopsSent, 1u);
}

TEST_F(ForwardingWithSim, PlaybackEndsWithItsRecordingAndSeeksAcrossGaps) {
    UseVideo(kCompactCamera, 25, false);
    const std::time_t now = std::time(nullptr);
    const control::RemotePlaybackReply setup =
        client->RequestRemotePlayback(kCompactCamera, TimeText(now - 2 * 24 * 3600), TimeText(now));
    ASSERT_EQ(setup.status, 1);
    std::vector<std::pair<std::time_t, std::time_t>> ranges;
    for (std::size_t begin = 0; begin < setup.timeQuantum.size();) {
        std::size_t end = setup.timeQuantum.find(';', begin);
        if (end == std::string::npos) end = setup.timeQuantum.size();
        const std::string range = setup.timeQuantum.substr(begin, end - begin);
        ranges.emplace_back(LocalTime(range.substr(0, range.find('~'))), LocalTime(range.substr(range.find('~') + 1)));
        begin = end + 1;
    }
    ASSERT_GE(ranges.size(), 2u);
    ASSERT_LT(ranges[ranges.size() - 2].second + 60, ranges.back().first);

    StopObserver observer;
    transport::VideoLink link(video, audio, Addresses(), QuietLink());
    link.SetObserver(&observer);
    const int port = std::atoi(setup.forwardingPort.c_str());
    ASSERT_EQ(link.Open(setup.playbackId, setup.forwardingIp, port, ""), 1);
    ASSERT_TRUE(WaitFor([&] { return video.Size() > 0; }));
    // One second before the end of the first recording: it ends there, although
    // another recording follows.
    link.Seek(TimeText(ranges.front().second - 1));
    ASSERT_TRUE(WaitFor([&] { return observer.stops > 0; }, 4000)) << "msgType 7 at the end of the recording";
    std::uint64_t last = 0;
    for (auto& record : Drain(video)) last = record->Timestamp();
    EXPECT_LT(last, static_cast<std::uint64_t>(ranges.front().second) * 1000) << "nothing of the next recording";

    // The same set-up again: a seek into the gap before the last recording plays it
    // from its start, and its end stops the playback.
    link.Close();
    ASSERT_EQ(link.Open(setup.playbackId, setup.forwardingIp, port, ""), 1);
    ASSERT_TRUE(WaitFor([&] { return video.Size() > 0; }));
    link.Seek(TimeText(ranges[ranges.size() - 2].second + 30));
    ASSERT_TRUE(WaitFor([&] {
        for (auto& record : Drain(video))
            if (record->Timestamp() == static_cast<std::uint64_t>(ranges.back().first) * 1000) return true;
        return false;
    }, 4000)) << "the next recording from its start";
    link.Seek(TimeText(ranges.back().second - 1));
    ASSERT_TRUE(WaitFor([&] { return observer.stops > 1; }, 4000)) << "msgType 7 at the end of the recording";
    Drain(video);  // the stream sent these before its stop, so they came before it
    const sim::LinkMarks::Marks stopped = StreamCaughtUp(kCompactCamera, 0);
    ASSERT_TRUE(StreamSteps(kCompactCamera, stopped, 5));
    EXPECT_EQ(Marks(kCompactCamera).videoFrames, stopped.videoFrames) << "nothing after the stop";
    EXPECT_EQ(video.Size(), 0u);
}

TEST_F(ForwardingWithSim, SupervisionReopensAfterTheServerDropsTheLink) {
    UseVideo(kMediaCamera, 20, true);
    StopObserver observer;
    transport::VideoLink link(video, audio, Addresses(), ReopeningLink());
    link.SetObserver(&observer);
    ASSERT_EQ(Open(link, kMediaCamera), 1);
    ASSERT_TRUE(WaitFor([&] { return video.Size() > 0; }));

    EXPECT_EQ(Sim().Forwarding().DropLinks(kMediaCamera), 1);
    ASSERT_TRUE(WaitFor([&] { return observer.losses > 0; }));
    const std::uint64_t opens = Sim().Forwarding().GetStats().opens;
    Drain(video);
    // Ten (here: 0.6) seconds without data: a new address, a reopen, frames again.
    ASSERT_TRUE(WaitFor([&] { return Sim().Forwarding().GetStats().opens > opens; }, 5000));
    ASSERT_TRUE(WaitFor([&] { return video.Size() > 0; }, 5000));
    EXPECT_TRUE(link.IsOpened());
    EXPECT_TRUE(video.Pop()->IsKeyFrame()) << "the reopened stream starts on a key frame";
}

// The soak's fault rounds rotate over the streaming cameras: drop its links, stop its
// stream, drop every link, drop the control connections; a link comes back each time.
TEST_F(ForwardingWithSim, FaultRoundsHitTheStreamingCameraAndTheLinkComesBack) {
    UseVideo(kMediaCamera, 20, true);
    StopObserver observer;
    transport::VideoLink link(video, audio, Addresses(), ReopeningLink());
    link.SetObserver(&observer);
    ASSERT_EQ(Open(link, kMediaCamera), 1);
    ASSERT_TRUE(WaitFor([&] { return video.Size() > 0; }));
    EXPECT_EQ(Sim().Forwarding().LinkedCameras(), std::vector<std::string>{kMediaCamera});

    EXPECT_EQ(Sim().RunFaultRound(0), "dropped 1 links of camera " + kMediaCamera);
    ASSERT_TRUE(WaitFor([&] { return observer.losses > 0; }));
    Drain(video);
    ASSERT_TRUE(WaitFor([&] { return video.Size() > 0 && link.IsOpened(); }, 5000)) << "reopened after a drop";

    EXPECT_EQ(Sim().RunFaultRound(2), "dropped all 1 forwarding links");
    Drain(video);
    ASSERT_TRUE(WaitFor([&] { return video.Size() > 0 && link.IsOpened(); }, 5000)) << "reopened after a drop of all";
    EXPECT_EQ(Sim().RunFaultRound(3), "dropped the control connections");
}

TEST_F(ForwardingWithSim, AStalledLinkIsReopenedAndHeartbeatsAreAnswered) {
    UseVideo(kCompactCamera, 20, false);
    transport::LinkTiming timing;
    timing.superviseWakeMs = 50;
    timing.heartbeatStartMs = 50;
    timing.silenceMs = 700;
    timing.replyTimeoutMs = 1000;
    transport::VideoLink link(video, audio, Addresses(), timing);
    ASSERT_EQ(Open(link, kCompactCamera), 1);
    ASSERT_TRUE(WaitFor([&] { return video.Size() > 0; }));
    const std::uint64_t opens = Sim().Forwarding().GetStats().opens;

    // The client's heartbeats arrive and are answered; twenty of them, each at least
    // 50 ms after the last, outlast the 700 ms the link waits for an answer, and the
    // link is not reopened meanwhile.
    const std::uint64_t answered = Sim().Forwarding().GetStats().heartbeatsAnswered;
    ASSERT_TRUE(WaitFor([&] { return Sim().Forwarding().GetStats().heartbeatsAnswered >= answered + 20; }, 10000))
        << Sim().Forwarding().GetStats().heartbeats << " heartbeats arrived, "
        << Sim().Forwarding().GetStats().heartbeatsAnswered << " answered";
    EXPECT_EQ(Sim().Forwarding().GetStats().opens, opens) << "reopened although its heartbeats were answered";

    Sim().Forwarding().SetStalled(true, kCompactCamera);
    const sim::LinkMarks::Marks stalled = StreamCaughtUp(kCompactCamera, 0);
    ASSERT_TRUE(StreamSteps(kCompactCamera, stalled, 5));
    EXPECT_EQ(Marks(kCompactCamera).videoFrames, stalled.videoFrames) << "a stalled link sends nothing";
    ASSERT_TRUE(WaitFor([&] { return Sim().Forwarding().GetStats().opens > opens; }, 5000));
    Drain(video);
    Sim().Forwarding().SetStalled(false, kCompactCamera);
    ASSERT_TRUE(WaitFor([&] { return video.Size() > 0; }, 5000));
    EXPECT_TRUE(link.IsOpened());
}

TEST_F(ForwardingWithSim, MalformedMessagesAreDroppedAndTheStreamGoesOn) {
    UseVideo(kMediaCamera, 20, true);
    Sim().Forwarding().SetMalformedFrames(true, kMediaCamera);
    StopObserver observer;
    transport::VideoLink link(video, audio, Addresses(), QuietLink());
    link.SetObserver(&observer);
    ASSERT_EQ(Open(link, kMediaCamera), 1);
    ASSERT_TRUE(WaitFor([&] { return video.Size() >= 8; }));
    EXPECT_GE(Sim().Forwarding().GetStats().malformedSent, 8u) << "one before each frame";
    for (auto& record : Drain(video)) {
        // Only the real frames: 352 x 288 access units with a start code.
        EXPECT_EQ(record->info.WidthOrSampleRate(), 352u);
        ASSERT_GE(record->PayloadLength(), 5u);
        EXPECT_EQ(std::memcmp(record->Payload(), "\0\0\0\1", 4), 0);
        EXPECT_NE(record->Timestamp(), 1u) << "the stale packet was dropped";
    }
    EXPECT_EQ(observer.stops, 0) << "a msgType 7 of the wrong realm is ignored";
    EXPECT_TRUE(link.IsOpened());
}

TEST_F(ForwardingWithSim, ParametersChangeTheStreamAndAreReported) {
    UseVideo(kMediaCamera, 10, true);
    transport::VideoLink link(video, audio, Addresses(), QuietLink());
    ASSERT_EQ(Open(link, kMediaCamera), 1);
    std::map<std::string, std::string> parameters;
    ASSERT_TRUE(link.GetParameters(parameters));
    EXPECT_EQ(parameters["width"], "352");
    EXPECT_EQ(parameters["height"], "288");
    EXPECT_EQ(parameters["fr"], "10");
    EXPECT_FALSE(parameters["qp"].empty());
    EXPECT_TRUE(parameters.count("recoder"));

    ASSERT_TRUE(link.SetParameters({{"width", "704"}, {"height", "576"}, {"fr", "8"}, {"qp", "30"}}));
    ASSERT_TRUE(WaitFor([&] {
        auto records = Drain(video);
        return !records.empty() && records.back()->info.WidthOrSampleRate() == 704;
    }, 5000));
    ASSERT_TRUE(WaitFor([&] { return video.Size() > 0; }));
    auto next = video.Pop();
    EXPECT_EQ(next->info.HeightOrBits(), 576u);
    EXPECT_EQ(next->info.RateOrChannels(), 8u);
    ASSERT_TRUE(link.GetParameters(parameters));
    EXPECT_EQ(parameters["width"], "704");
    EXPECT_EQ(parameters["qp"], "30");
}

TEST_F(ForwardingWithSim, KeyFrameRequestBringsAKeyFrameTheStreamWouldNotHaveSent) {
    // Key frames of its own only at the start of each two-second clip: 40 frames apart.
    UseVideo(kCompactCamera, 20, false);
    ASSERT_TRUE(Sim().Forwarding().SetKeyFrameSeconds(kCompactCamera, 4));
    transport::VideoLink link(video, audio, Addresses(), QuietLink());
    ASSERT_EQ(Open(link, kCompactCamera), 1);
    ASSERT_TRUE(WaitFor([&] { return video.Size() >= 3; }));
    std::vector<PacketQueue::Record> records = Drain(video);
    ASSERT_TRUE(records.front()->IsKeyFrame());
    const std::uint16_t first = records.front()->Sequence();
    for (std::size_t i = 1; i < records.size(); ++i) ASSERT_FALSE(records[i]->IsKeyFrame()) << i;

    link.KeyFrameRequest();
    ASSERT_TRUE(WaitFor([&] { return Sim().Forwarding().GetStats().keyFrameRequests == 1; }))
        << "the service did not receive the request";
    // The next key frame comes before the clip's own, 40 frames after the first.
    PacketQueue::Record key;
    ASSERT_TRUE(WaitFor([&] {
        for (auto& record : Drain(video))
            if (!key && record->IsKeyFrame()) key = std::move(record);
        return key != nullptr;
    }, 5000));
    const auto after = (key->Sequence() + sim::kSequenceModulus - first) % sim::kSequenceModulus;
    EXPECT_LT(after, 40u) << "the key frame came only with the clip's own, " << after << " frames after the first";
}

TEST_F(ForwardingWithSim, PanTiltMovesThePicture) {
    UseVideo(kCompactCamera, 20, false, true);
    transport::VideoLink link(video, audio, Addresses(), QuietLink());
    ASSERT_EQ(Open(link, kCompactCamera), 1);
    const unsigned long decoder = InitDeCode();
    std::vector<char> picture(352 * 288 * 3 / 2);
    auto decodeAll = [&]() {
        std::vector<char> last;
        for (auto& packet : Drain(video)) {
            int consumed = 0, width = 0, height = 0;
            if (DeCoderEx(decoder, reinterpret_cast<char*>(const_cast<std::uint8_t*>(packet->Payload())),
                          static_cast<int>(packet->PayloadLength()), picture.data(), static_cast<int>(picture.size()),
                          consumed, width, height) == 1)
                last.assign(picture.begin(), picture.begin() + 352 * 200);  // above the clock
        }
        return last;
    };
    ASSERT_TRUE(WaitFor([&] { return video.Size() >= 5; }));
    const std::vector<char> before = decodeAll();
    ASSERT_FALSE(before.empty());

    link.PanTilt(4);  // right
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    link.PanTilt(15);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    decodeAll();
    ASSERT_TRUE(WaitFor([&] { return video.Size() >= 3; }));
    const std::vector<char> after = decodeAll();
    ReleaseDeCode(decoder);
    ASSERT_EQ(after.size(), before.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        differing += std::abs(static_cast<unsigned char>(before[i]) - static_cast<unsigned char>(after[i])) > 24;
    EXPECT_GT(differing, before.size() / 10) << "the view moved";
}
