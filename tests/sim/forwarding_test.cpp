// The forwarding side of the simulated service without sockets: wire bytes against the
// documented layouts, the synthetic cameras' pictures, clips and voices, the heads,
// the store's streaming questions, and one link's command handling.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "sim/alaw_audio.h"
#include "sim/camera_picture.h"
#include "sim/forward_session.h"
#include "sim/forward_wire.h"
#include "sim/h264_encoder.h"
#include "sim/video_clip.h"
#include "sim/sim_test_support.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Hex(const std::string& text) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == ' ') continue;
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        ++i;
    }
    return bytes;
}

// Text on pictures needs Qt's fonts, which need a GUI application object.
void EnsureGuiApplication() {
    static QGuiApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "sim_tests";
        static char* argv[] = {name, nullptr};
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
}

double MeanDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (a.width() * a.height() * 3.0);
}

QImage Picture(const std::string& cameraId, const std::string& name, const sim::SceneView& view = {}) {
    QImage image(176, 144, QImage::Format_RGB32);
    sim::DrawCameraPicture(image, {cameraId, name, "2023-11-14 22:13:20", "", 0, 10}, view);
    return image;
}

sim::ClipLook SmallLook(const std::string& cameraId = "31000001") {
    sim::ClipLook look;
    look.cameraId = cameraId;
    look.name = "大门";
    look.settings = {128, 96, 10, 28};
    return look;
}

// NAL unit type of the first unit after a 4-byte start code.
int FirstNalType(const Bytes& unit) {
    return unit.size() > 4 && unit[0] == 0 && unit[1] == 0 && unit[2] == 0 && unit[3] == 1 ? unit[4] & 0x1F : -1;
}

}  // namespace

// ---- wire bytes ----------------------------------------------------------------

TEST(ForwardWire, CompactFrameHeaderLayout) {
    Bytes out;
    const Bytes unit = {0, 0, 0, 1, 0x65};
    sim::BuildCompactFrame(out, 0x11223344, 3, 704, 576, 25, unit.data(), unit.size());
    EXPECT_EQ(out, Hex("01 00000000 44332211 05000000 C0022400 00C00000 00000000 19000000 0000000165"));
    // The client reads the sequence as (word >> 14) mod 65535: 65535 is sequence 0.
    sim::BuildCompactFrame(out, 0, 65535, 352, 288, 31, unit.data(), unit.size());
    EXPECT_EQ(out[17] | out[18] << 8 | out[19] << 16 | out[20] << 24, 0);
    sim::BuildCompactFrame(out, 0, 65534, 1920, 1080, 25, unit.data(), unit.size());
    const std::uint32_t word = out[17] | out[18] << 8 | out[19] << 16 | static_cast<std::uint32_t>(out[20]) << 24;
    EXPECT_EQ((word >> 14) % 65535, 65534u);
    EXPECT_EQ(out[13] | (out[14] & 0x0F) << 8, 1920);
}

TEST(ForwardWire, MediaMessagesCarryHeaderBodyAndTrailingByte) {
    Bytes out;
    const Bytes payload = {0xAA};
    sim::BuildMediaPacket(out, sim::kVideoPacket, 0x0102, 0x0000000A0B0C0D0Eull, payload.data(), payload.size());
    EXPECT_EQ(out, Hex("02 0300 0201 0E0D0C0B 0A000000 AA 00"));
    sim::BuildVideoDescription(out, 25, 704, 576, 0x100000002ull);
    EXPECT_EQ(out, Hex("02 00000100 19000000 C0020000 40020000 02000000 01000000 00"));
    sim::BuildAudioDescription(out, 1, 8000, 16, 7);
    EXPECT_EQ(out, Hex("02 01006500 01000000 401F0000 10000000 07000000 00000000 00"));
}

TEST(ForwardWire, ControlRepliesAreRealmTwoJson) {
    EXPECT_EQ(sim::LinkControlMessage(7, 1003, {{"result", "1"}}),
              std::string("\0{\"id\":7,\"msgType\":1003,\"params\":{\"result\":\"1\"},\"realm\":2}\n", 59));
    EXPECT_EQ(sim::LinkControlMessage(0, 0, {}), std::string("\0{\"id\":0,\"msgType\":0,\"params\":{},\"realm\":2}\n", 44));
}

TEST(ForwardWire, ParsesTalkAudioAndCommandsAndRefusesTheRest) {
    // The client's talk audio message: type 2, sub-type 4, 0, tick, 0, talk id[18], audio.
    Bytes talk = Hex("02 0400 0000 78563412 00000000");
    const std::string id = "TK00000001";
    talk.insert(talk.end(), id.begin(), id.end());
    talk.resize(31, 0);
    talk.insert(talk.end(), {0xD5, 0x55, 0xD5});
    sim::LinkRequest request = sim::ParseLinkRequest(talk.data(), talk.size());
    ASSERT_EQ(request.kind, sim::LinkRequest::kTalkAudio);
    EXPECT_EQ(request.timestamp, 0x12345678u);
    EXPECT_EQ(request.talkId, id);
    ASSERT_EQ(request.audioLength, 3u);
    EXPECT_EQ(request.audio[1], 0x55);

    Bytes unterminated = talk;
    std::memset(unterminated.data() + 13, 'x', 18);
    EXPECT_EQ(sim::ParseLinkRequest(unterminated.data(), unterminated.size()).kind, sim::LinkRequest::kInvalid);
    EXPECT_EQ(sim::ParseLinkRequest(talk.data(), 30).kind, sim::LinkRequest::kInvalid) << "short header";
    Bytes video = talk;
    video[1] = 3;
    EXPECT_EQ(sim::ParseLinkRequest(video.data(), video.size()).kind, sim::LinkRequest::kInvalid);

    const std::string command = simtest::Request(5, 1003);  // realm 1: not a link message
    EXPECT_EQ(sim::ParseLinkRequest(reinterpret_cast<const std::uint8_t*>(command.data()), command.size()).kind,
              sim::LinkRequest::kInvalid);
    const std::string linkCommand = sim::LinkControlMessage(5, 1003, {});
    request = sim::ParseLinkRequest(reinterpret_cast<const std::uint8_t*>(linkCommand.data()), linkCommand.size());
    ASSERT_EQ(request.kind, sim::LinkRequest::kControl);
    EXPECT_EQ(request.control.msgType, 1003);
    EXPECT_EQ(sim::ParseLinkRequest(nullptr, 0).kind, sim::LinkRequest::kInvalid);
    const Bytes unknown = {7, 1, 2};
    EXPECT_EQ(sim::ParseLinkRequest(unknown.data(), unknown.size()).kind, sim::LinkRequest::kInvalid);
}

// ---- pictures, clips, voices --------------------------------------------------------

TEST(CameraPicture, EachCameraLooksDifferentAndTheViewMoves) {
    const QImage first = Picture("31000001", "");
    EXPECT_EQ(MeanDifference(first, Picture("31000001", "")), 0.0) << "the same camera draws the same picture";
    EXPECT_GT(MeanDifference(first, Picture("31000002", "")), 20.0) << "a neighbouring id has other colours";
    sim::SceneView moved;
    moved.centerX = 0.6;
    EXPECT_GT(MeanDifference(first, Picture("31000001", "", moved)), 10.0);
    sim::SceneView darker;
    darker.iris = -3;
    EXPECT_GT(MeanDifference(first, Picture("31000001", "", darker)), 10.0);
}

TEST(CameraPicture, NameAndClockAreDrawnWithTheCjkFont) {
    EnsureGuiApplication();
    ASSERT_TRUE(sim::CameraPictureHasText());
    const QImage gate = Picture("31000001", "大门"), door = Picture("31000001", "后门");
    EXPECT_GT(MeanDifference(gate, door), 0.05) << "the name shows";
    QImage later(176, 144, QImage::Format_RGB32);
    sim::DrawCameraPicture(later, {"31000001", "大门", "2023-11-14 22:13:21", "", 0, 10}, {});
    EXPECT_GT(MeanDifference(gate, later), 0.02) << "the clock shows";
}

TEST(H264Clip, KeyFramesEverySecondEachWithItsParameterSets) {
    const auto clip = sim::EncodeClip(SmallLook(), 2, 1700000000);
    ASSERT_TRUE(clip);
    ASSERT_EQ(clip->frames.size(), 20u);
    for (std::size_t i = 0; i < clip->frames.size(); ++i) {
        const Bytes& unit = clip->frames[i].data;
        EXPECT_EQ(clip->frames[i].key, i % 10 == 0) << i;
        if (clip->frames[i].key) {
            EXPECT_EQ(FirstNalType(unit), 7) << "SPS first in key frame " << i;
            // ... followed by the PPS and an IDR slice.
            bool pps = false, idr = false;
            for (std::size_t p = 0; p + 4 < unit.size(); ++p)
                if (unit[p] == 0 && unit[p + 1] == 0 && unit[p + 2] == 1) {
                    pps = pps || (unit[p + 3] & 0x1F) == 8;
                    idr = idr || (unit[p + 3] & 0x1F) == 5;
                }
            EXPECT_TRUE(pps && idr) << i;
        } else {
            EXPECT_EQ(FirstNalType(unit), 1) << "a P slice " << i;
        }
    }
    EXPECT_EQ(clip->NextKeyFrame(3), 10u);
    EXPECT_EQ(clip->NextKeyFrame(10), 10u);
    EXPECT_EQ(clip->NextKeyFrame(11), 0u) << "wraps to the start of the loop";
}

TEST(H264Clip, EncoderRefusesSettingsOutOfRange) {
    EXPECT_FALSE(sim::H264Encoder::Open({353, 288, 25, 28}));
    EXPECT_FALSE(sim::H264Encoder::Open({352, 288, 0, 28}));
    EXPECT_FALSE(sim::H264Encoder::Open({352, 288, 31, 28}));
    EXPECT_FALSE(sim::H264Encoder::Open({352, 288, 25, 52}));
    EXPECT_FALSE(sim::H264Encoder::Open({4096, 288, 25, 28}));
    auto encoder = sim::H264Encoder::Open({128, 96, 25, 28});
    ASSERT_TRUE(encoder);
    sim::EncodedFrame frame;
    EXPECT_FALSE(encoder->Encode(QImage(64, 64, QImage::Format_RGB32), false, frame)) << "wrong size";
    QImage picture(128, 96, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    ASSERT_TRUE(encoder->Encode(picture, false, frame));
    EXPECT_TRUE(frame.key) << "the first picture";
    ASSERT_TRUE(encoder->Encode(picture, false, frame));
    EXPECT_FALSE(frame.key);
    ASSERT_TRUE(encoder->Encode(picture, true, frame));
    EXPECT_TRUE(frame.key) << "forced";
    EXPECT_EQ(FirstNalType(frame.data), 7);
}

TEST(ClipCache, EncodesEachLookOnceAndRenewsOldClips) {
    sim::ClipCache::Options options;
    options.clipSeconds = 1;
    sim::ClipCache cache(options);
    std::vector<std::shared_ptr<const sim::VideoClip>> clips(4);
    std::vector<std::thread> threads;
    for (auto& clip : clips) threads.emplace_back([&] { clip = cache.Get(SmallLook()); });
    for (auto& thread : threads) thread.join();
    for (auto& clip : clips) EXPECT_EQ(clip, clips[0]) << "one encode shared by every link";
    EXPECT_EQ(cache.GetStats().encodes, 1u);
    EXPECT_EQ(cache.GetStats().hits, 3u);
    EXPECT_NE(cache.Get(SmallLook("31000002")), clips[0]);
    EXPECT_EQ(cache.GetStats().clips, 2u);

    options.maxAge = std::chrono::seconds(0);
    sim::ClipCache renewing(options);
    auto first = renewing.Get(SmallLook());
    EXPECT_NE(renewing.Get(SmallLook()), first) << "an old clip is made again";
    EXPECT_EQ(renewing.GetStats().encodes, 2u);

    options.maxAge = std::chrono::seconds(600);
    options.maxBytes = 1;
    sim::ClipCache tiny(options);
    auto kept = tiny.Get(SmallLook());
    ASSERT_TRUE(kept);
    EXPECT_FALSE(kept->frames.empty()) << "the caller keeps its clip";
    EXPECT_EQ(tiny.GetStats().clips, 0u) << "over the budget: forgotten";
    EXPECT_EQ(tiny.GetStats().bytes, 0u);
}

TEST(Voice, AlawPacketsOfOneBlockWithSilentPadding) {
    const std::int16_t samples[] = {0, 32767, -32768};
    EXPECT_EQ(sim::EncodeAlaw(samples, 3), (Bytes{0xD5, 0xAA, 0x2A}));

    const auto voice = sim::MakeVoiceLoop("31000001");
    ASSERT_TRUE(voice);
    ASSERT_EQ(voice->packets.size(), 50u);
    int silent = 0;
    for (const Bytes& packet : voice->packets) {
        ASSERT_EQ(packet.size(), 322u);
        EXPECT_EQ(packet[320], 0xD5);
        EXPECT_EQ(packet[321], 0xD5);
        bool quiet = true;
        for (int i = 0; i < 320; ++i) quiet = quiet && (packet[i] == 0xD5 || packet[i] == 0x55);
        silent += quiet;
    }
    // Speech-like: syllables with a pause after every third.
    EXPECT_GE(silent, 8);
    EXPECT_LE(silent, 20);
    EXPECT_NE(sim::MakeVoiceLoop("31000002")->packets[2], voice->packets[2]) << "each camera its own voice";
}

TEST(CameraHeads, MovesWhileCommandedAndStopsOnFifteen) {
    using Clock = sim::CameraHeads::Clock;
    sim::CameraHeads heads;
    const Clock::time_point t0 = Clock::now();
    EXPECT_FALSE(heads.Read("c", t0).moving);
    ASSERT_TRUE(heads.Command("c", sim::kPtzRight, 3, t0));
    auto state = heads.Read("c", t0 + std::chrono::milliseconds(500));
    EXPECT_TRUE(state.moving);
    EXPECT_NEAR(state.view.centerX, 0.6, 1e-9) << "a fifth of the scene a second at speed 3";
    ASSERT_TRUE(heads.Command("c", sim::kPtzStop, 3, t0 + std::chrono::seconds(1)));
    state = heads.Read("c", t0 + std::chrono::seconds(5));
    EXPECT_FALSE(state.moving);
    EXPECT_NEAR(state.view.centerX, 0.7, 1e-9);

    ASSERT_TRUE(heads.Command("c", sim::kPtzZoomIn, 6, t0 + std::chrono::seconds(5)));
    state = heads.Read("c", t0 + std::chrono::milliseconds(5500));
    EXPECT_NEAR(state.view.zoom, 1.6, 1e-9);
    ASSERT_TRUE(heads.Command("c", sim::kPtzIrisClose, 3, t0 + std::chrono::milliseconds(5500)));
    state = heads.Read("c", t0 + std::chrono::seconds(9));
    EXPECT_FALSE(state.moving) << "the iris is a step, not a move";
    EXPECT_EQ(state.view.iris, -1);
    EXPECT_NEAR(state.view.zoom, 1.6, 1e-9);
    EXPECT_FALSE(heads.Command("c", 11, 3, t0));
    EXPECT_FALSE(heads.Read("other", t0).moving) << "each camera has its own head";
}

// ---- the store's streaming questions ------------------------------------------------

TEST(StreamingStore, CameraStateSizesAndTheViewingPlan) {
    simtest::SeededStore s;
    ASSERT_TRUE(s.opened);
    auto first = s.store.StreamingCameraInfo("31000001");
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->online);
    EXPECT_EQ(first->name, "大门");
    EXPECT_EQ(first->video.width, 704);
    EXPECT_FALSE(first->video.mediaMessages);
    EXPECT_TRUE(first->video.panTiltZoom);
    EXPECT_TRUE(s.store.StreamingCameraInfo("31000002")->video.mediaMessages);
    EXPECT_EQ(s.store.StreamingCameraInfo("31000004")->video.width, 352) << "a CIF camera";
    EXPECT_EQ(s.store.StreamingCameraInfo("31000008")->video.height, 1080) << "a full HD camera";
    EXPECT_FALSE(s.store.StreamingCameraInfo("31000004")->online);
    EXPECT_FALSE(s.store.StreamingCameraInfo("31000006")->inService);
    EXPECT_FALSE(s.store.StreamingCameraInfo("9"));
    EXPECT_FALSE(s.store.StreamingCameraInfo("x"));

    // Camera 10 watches by the working-day plan (Monday to Friday, 08:00-18:00, UTC here).
    const std::time_t tuesday = simtest::kReference - (22 * 3600 + 13 * 60 + 20);  // 2023-11-14 00:00
    auto inWindow = [&](std::time_t when) {
        s.store.SetClock([when] { return when; });
        return s.store.StreamingCameraInfo("31000010")->inOpenWindow;
    };
    EXPECT_FALSE(inWindow(tuesday + 7 * 3600 + 59 * 60));
    EXPECT_TRUE(inWindow(tuesday + 8 * 3600));
    EXPECT_TRUE(inWindow(tuesday + 18 * 3600 + 59)) << "the end minute is inside";
    EXPECT_FALSE(inWindow(tuesday + 18 * 3600 + 60));
    EXPECT_FALSE(inWindow(tuesday - 2 * 24 * 3600 + 12 * 3600)) << "Sunday";
    EXPECT_TRUE(s.store.StreamingCameraInfo("31000001")->inOpenWindow) << "no plan: always";
    ASSERT_TRUE(s.store.SetCameraPlan("31000001", 1));
    EXPECT_FALSE(s.store.StreamingCameraInfo("31000001")->inOpenWindow);
}

TEST(StreamingStore, PlaybackSessionsAndVideoSettings) {
    simtest::SeededStore s;
    ASSERT_TRUE(s.opened);
    sim::Account demo;
    demo.id = 10001;
    auto setup = s.store.SetUpPlayback(demo, "31000001", "2023-11-12 00:00:00", "2023-11-13 23:59:59");
    ASSERT_TRUE(setup);
    auto session = s.store.FindPlaybackSession(std::to_string(setup->playbackId));
    ASSERT_TRUE(session);
    EXPECT_EQ(session->cameraId, "31000001");
    EXPECT_EQ(session->recordings, setup->ranges);
    EXPECT_EQ(session->recordings.size(), 6u);
    EXPECT_FALSE(s.store.FindPlaybackSession("999999"));

    sim::CameraVideo video{352, 288, 10, true, false};
    ASSERT_TRUE(s.store.SetCameraVideo("31000001", video));
    auto camera = s.store.StreamingCameraInfo("31000001");
    EXPECT_EQ(camera->video.frameRate, 10);
    EXPECT_TRUE(camera->video.mediaMessages);
    EXPECT_FALSE(s.store.SetCameraVideo("39999999", video));
    ASSERT_TRUE(s.store.SetCameraPicture({}, 1920, 1080, 15));
    EXPECT_EQ(s.store.StreamingCameraInfo("31000003")->video.width, 1920);
    EXPECT_TRUE(s.store.StreamingCameraInfo("31000001")->video.mediaMessages) << "the form stays";

    EXPECT_EQ(sim::ParseDateTime("2023-11-14 22:13:20"), simtest::kReference);
    EXPECT_EQ(sim::ParseDateTime("2023-11- 4  2: 3: 0"), sim::ParseDateTime("2023-11-04 02:03:00"))
        << "the client pads with blanks";
    EXPECT_FALSE(sim::ParseDateTime("2023-13-04 02:03:00"));
}

// ---- one link's commands ----------------------------------------------------------------

namespace {

class RecordingSink final : public sim::LinkSink {
public:
    bool Send(const void* data, std::size_t length) override {
        std::lock_guard lock(mutex);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        sent.emplace_back(bytes, bytes + length);
        return true;
    }
    void Close() override { closed = true; }
    std::vector<Bytes> Take() {
        std::lock_guard lock(mutex);
        return std::exchange(sent, {});
    }
    std::mutex mutex;
    std::vector<Bytes> sent;
    std::atomic<bool> closed{false};
};

class LinkSession : public ::testing::Test {
protected:
    LinkSession() {
        auto owned = std::make_unique<RecordingSink>();
        sink = owned.get();
        session = std::make_unique<sim::ForwardSession>(context, std::move(owned));
    }
    ~LinkSession() override { session.reset(); }

    void Send(int msgType, std::map<std::string, std::string> params = {}, std::int32_t id = 1) {
        const std::string wire = sim::LinkControlMessage(id, msgType, params);
        session->OnMessage(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size());
    }
    // The control replies sent so far.
    std::vector<control::ControlMessage> Replies() {
        std::vector<control::ControlMessage> replies;
        for (const Bytes& bytes : sink->Take())
            if (!bytes.empty() && bytes[0] == 0)
                if (auto message = control::DecodeMessage(reinterpret_cast<const char*>(bytes.data()), bytes.size()))
                    replies.push_back(*message);
        return replies;
    }
    std::string OnlyResult() {
        auto replies = Replies();
        return replies.size() == 1 ? replies[0].Param("result") : "(" + std::to_string(replies.size()) + " replies)";
    }
    Bytes TalkAudio(const std::string& talkId, std::uint8_t fill) {
        Bytes bytes(31 + 4, fill);
        std::memset(bytes.data(), 0, 31);
        bytes[0] = 2;
        bytes[1] = 4;
        bytes[5] = 0x44;
        std::memcpy(bytes.data() + 13, talkId.data(), talkId.size());
        return bytes;
    }

    simtest::SeededStore seeded;
    sim::ClipCache clips{sim::ClipCache::Options{}};
    sim::VoiceLoops voices;
    sim::StreamSettingsTable settings;
    sim::CameraHeads heads;
    sim::FaultSwitches faults;
    sim::ForwardStats stats;
    sim::LinkMarks marks;
    sim::ForwardContext context{seeded.store, clips, voices, settings, heads, faults, stats, marks, {}};
    RecordingSink* sink = nullptr;
    std::unique_ptr<sim::ForwardSession> session;
};

}  // namespace

TEST_F(LinkSession, HeartbeatsAreAnsweredUnlessStalled) {
    Send(0, {}, 4242);
    auto replies = Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].id, 4242);
    EXPECT_EQ(replies[0].msgType, 0);
    EXPECT_EQ(replies[0].realm, 2);
    faults.SetStalled("", true);
    Send(0);
    EXPECT_TRUE(Replies().empty());
}

TEST_F(LinkSession, CommandsBeforeAnOpenAreRefusedOrIgnored) {
    Send(1003);
    EXPECT_EQ(OnlyResult(), "0");
    Send(9, {{"width", "352"}});
    EXPECT_EQ(OnlyResult(), "0");
    Send(1005);
    EXPECT_EQ(OnlyResult(), "0");
    Send(5);
    Send(8, {{"active", "1"}, {"speed", "3"}});
    EXPECT_TRUE(Replies().empty());
    const Bytes garbage = {0, '{', 'x'};
    session->OnMessage(garbage.data(), garbage.size());
    EXPECT_EQ(stats.invalidMessages, 1u);
}

TEST_F(LinkSession, OpenResults) {
    auto open = [&](std::map<std::string, std::string> params) {
        Send(1, params);
        return OnlyResult();
    };
    EXPECT_EQ(open({{"sxtId", "39999999"}}), "-1");
    EXPECT_EQ(open({{"sxtId", ""}}), "-1");
    EXPECT_EQ(open({}), "-1");
    EXPECT_EQ(open({{"sxtId", "31000004"}}), "-5") << "offline";
    EXPECT_EQ(open({{"sxtId", "31000006"}}), "-9") << "expired";
    EXPECT_EQ(open({{"sxtId", "31000010"}}), "-2") << "22:13 on a Tuesday is outside 08:00-18:00";
    EXPECT_EQ(open({{"nodeId", "31000010"}}), "1") << "talk is not viewing";
    faults.SetOpenRefusal(0);
    EXPECT_EQ(open({{"nodeId", "31000001"}}), "0");
    EXPECT_EQ(stats.refusedOpens, 7u);
}

TEST_F(LinkSession, TalkAudioIsEchoedWhileTheVoiceChannelIsOpen) {
    Send(1, {{"nodeId", "31000001"}, {"pwd", ""}, {"major", "1"}, {"minor", "0"}});
    auto replies = Replies();
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].Param("result"), "1");
    const std::string talkId = replies[0].Param("TalkId");
    ASSERT_FALSE(talkId.empty());
    EXPECT_EQ(session->GetKind(), sim::ForwardSession::Kind::kTalk);

    Bytes audio = TalkAudio(talkId, 0x5A);
    session->OnMessage(audio.data(), audio.size());
    EXPECT_TRUE(sink->Take().empty()) << "no echo before 1005";
    Send(1005);
    EXPECT_EQ(OnlyResult(), "1");
    session->OnMessage(audio.data(), audio.size());
    auto sent = sink->Take();
    ASSERT_EQ(sent.size(), 1u);
    // Sub-type 4, sequence 0, the client's own timestamp, the audio, two silent bytes, the trailing byte.
    EXPECT_EQ(sent[0], Hex("02 0400 0000 44000000 00000000 5A5A5A5A D5D5 00"));
    Bytes other = TalkAudio("TK99999999", 0x5A);
    session->OnMessage(other.data(), other.size());
    EXPECT_TRUE(sink->Take().empty()) << "another talk id";
    Send(1006);
    EXPECT_EQ(OnlyResult(), "1");
    session->OnMessage(audio.data(), audio.size());
    EXPECT_TRUE(sink->Take().empty()) << "closed voice channel";
    EXPECT_EQ(stats.talkReceived, 4u);
    EXPECT_EQ(stats.talkEchoed, 1u);
}

TEST_F(LinkSession, ParametersAreCheckedAndReported) {
    ASSERT_TRUE(seeded.store.SetCameraVideo("31000002", {128, 96, 5, true, false}));
    Send(1, {{"sxtId", "31000002"}});
    ASSERT_EQ(Replies()[0].Param("result"), "1");
    for (const auto& bad : std::vector<std::map<std::string, std::string>>{
             {{"width", "abc"}}, {{"width", "353"}}, {{"fr", "0"}}, {{"fr", "31"}}, {{"qp", "52"}}, {{"height", ""}}}) {
        Send(9, bad);
        std::string result;
        for (auto& reply : Replies())
            if (reply.msgType == 9) result = reply.Param("result");
        EXPECT_EQ(result, "0") << bad.begin()->first << "=" << bad.begin()->second;
    }
    Send(9, {{"width", "160"}, {"height", "120"}, {"qp", "20"}, {"recoder", "1"}});
    Send(10);
    std::map<std::string, std::string> reported;
    std::string setResult;
    for (auto& reply : Replies()) {
        if (reply.msgType == 9) setResult = reply.Param("result");
        if (reply.msgType == 10) reported = reply.params;
    }
    EXPECT_EQ(setResult, "1");
    EXPECT_EQ(reported["width"], "160");
    EXPECT_EQ(reported["height"], "120");
    EXPECT_EQ(reported["fr"], "5") << "keys not given keep their values";
    EXPECT_EQ(reported["qp"], "20");
    EXPECT_EQ(reported["recoder"], "1");
}

TEST_F(LinkSession, MediaFormDescribesStreamsBeforeTheirPackets) {
    ASSERT_TRUE(seeded.store.SetCameraVideo("31000002", {128, 96, 25, true, false}));
    Send(1, {{"sxtId", "31000002"}});
    Send(1003);
    // Collect until a video and an audio packet have come.
    std::vector<Bytes> media;
    bool video = false, audio = false;
    for (int wait = 0; wait < 400 && !(video && audio); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (Bytes& bytes : sink->Take()) {
            if (bytes.size() < 3 || bytes[0] != 2) continue;
            video = video || bytes[1] == 3;
            audio = audio || bytes[1] == 2;
            media.push_back(std::move(bytes));
        }
    }
    ASSERT_TRUE(video && audio);
    int firstVideoDescription = -1, firstVideo = -1, firstAudioDescription = -1, firstAudio = -1;
    for (int i = 0; i < static_cast<int>(media.size()); ++i) {
        int* slot[] = {&firstVideoDescription, &firstAudioDescription, &firstAudio, &firstVideo};
        if (media[i][1] > 3) continue;
        int& first = *slot[media[i][1]];
        if (first < 0) first = i;
    }
    EXPECT_LT(firstVideoDescription, firstVideo);
    EXPECT_LT(firstAudioDescription, firstAudio);
    ASSERT_GE(firstAudioDescription, 0);
    const Bytes& description = media[firstAudioDescription];
    EXPECT_EQ(description.size(), 26u);
    EXPECT_EQ(description[3], 101) << "the A-law codec";
    EXPECT_EQ(FirstNalType(Bytes(media[firstVideo].begin() + 13, media[firstVideo].end() - 1)), 7);
}
