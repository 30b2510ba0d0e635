// Listening and talkback of a camera against a scripted forwarding server, with the
// sound devices replaced by a recording sink and a microphone the test speaks into.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/message_ids.h"
#include "core/log_file.h"
#include "audio_support.h"
#include "media/camera_registry.h"
#include "record/frame_record.h"
#include "media/talk_audio.h"
#include "media/video_output_widget.h"
#include "media/waiting_picture.h"
#include "media_test_support.h"
#include "platform/paths.h"
#include "transport/fake_forwarding_server.h"

using namespace media;
using testing_support::FakeForwardingServer;

namespace {

constexpr const char* kTalkId = "TK12345678";

std::string AudioDescription(std::uint32_t sampleRate) {
    std::vector<std::uint8_t> m(1 + 24 + 1, 0);
    m[0] = 2;
    m[1] = 1;    // sub-type 1, which is also the kind: audio
    m[3] = 101;  // codec
    media_testing::PutLe32(m, 5, 1);
    media_testing::PutLe32(m, 9, sampleRate);
    media_testing::PutLe32(m, 13, 16);
    return std::string(m.begin(), m.end());
}

// A media packet of `subType` carrying `coded` and the two bytes the decoder leaves out.
std::string AudioPacket(std::uint16_t subType, const std::vector<std::uint8_t>& coded, std::uint32_t timestamp = 1000) {
    std::vector<std::uint8_t> m(1 + 12, 0);
    m[0] = 2;
    m[1] = static_cast<std::uint8_t>(subType);
    media_testing::PutLe32(m, 5, timestamp);
    m.insert(m.end(), coded.begin(), coded.end());
    m.push_back(0xD5);
    m.push_back(0xD5);
    m.push_back(0);  // the trailing byte that is not part of the body
    return std::string(m.begin(), m.end());
}

std::vector<std::uint8_t> Alaw(const std::vector<std::uint8_t>& pcm) {
    std::vector<std::uint8_t> coded(pcm.size() / 2);
    for (std::size_t i = 0; i < coded.size(); ++i)
        coded[i] = chime::LinearToAlaw(static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)));
    return coded;
}

std::vector<std::uint8_t> Decoded(const std::vector<std::uint8_t>& coded) {
    std::vector<std::uint8_t> pcm;
    for (std::uint8_t c : coded) {
        const auto v = static_cast<std::uint16_t>(chime::AlawToLinear(c));
        pcm.push_back(static_cast<std::uint8_t>(v & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return pcm;
}

class AudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        std::ofstream(dir.File("waiting.bmp"), std::ios::binary) << testing_support::ReadWholeFile(MEDIA_WAITING_BMP);
        ForgetWaitingPicture();
        CameraEnvironment environment;
        environment.postToMainWindow = [](platform::Message) { return true; };
        environment.postToTaskThread = [](platform::Message) { return true; };
        environment.linkTiming.replyTimeoutMs = 2000;
        environment.linkTiming.connectTimeoutMs = 2000;
        environment.displayTiming = {10, 60000};
        environment.recordRoot = [this] { return dir.File("records"); };
        environment.recordMinutes = [] { return 30; };
        CameraRegistry::SetEnvironmentForNewCameras(environment);
        server.SetScript([this](const control::ControlMessage& m) -> std::vector<std::string> {
            const bool talk = m.Param("sxtId").empty();
            switch (m.msgType) {
                case 1:
                    if (talk) return {FakeForwardingServer::Reply(1, {{"result", talkOpenResult}, {"TalkId", kTalkId}})};
                    return {FakeForwardingServer::Reply(1, {{"result", "1"}})};
                case 1003:
                case 1005:
                case 1006:
                    return {FakeForwardingServer::Reply(m.msgType, {{"result", "1"}})};
                default:
                    return {};
            }
        });
        widget.resize(352, 288);
        widget.show();
    }
    void TearDown() override {
        CameraRegistry::DestroyAll();
        CameraRegistry::SetEnvironmentForNewCameras(std::nullopt);
        ForgetWaitingPicture();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }
    std::shared_ptr<CCamera> OpenCamera() {
        auto camera = CameraRegistry::Instance().GetOrCreate(1);
        EXPECT_EQ(camera->Open("1001", "127.0.0.1", server.Port(), widget.Handle(), "pw"), 1);
        return camera;
    }
    bool StartTalk(CCamera& camera) {
        camera.CreateTalkLink();
        return camera.StartTalk("1001", "127.0.0.1", server.Port(), "key");
    }
    std::string Log() {
        core::LogFile::Destroy();
        return dir.Read("appLogs/Manage.log");
    }

    testing_support::TempDir dir;
    media_testing::SinkCapture sinks;
    media_testing::FakeMicrophone microphone;
    FakeForwardingServer server;
    std::string talkOpenResult = "1";
    VideoOutputWidget widget;
};

}  // namespace

TEST(TalkAudio, MessageHeaderIsByteForByte) {
    std::uint8_t header[kTalkHeaderSize];
    BuildTalkAudioHeader(header, 0x11223344, kTalkId);
    const std::uint8_t expected[kTalkHeaderSize] = {2, 4, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0,
                                                    'T', 'K', '1', '2', '3', '4', '5', '6', '7', '8', 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(header, header + kTalkHeaderSize),
              std::vector<std::uint8_t>(expected, expected + kTalkHeaderSize));

    // A talk id that does not fit keeps its terminating zero.
    BuildTalkAudioHeader(header, 0, std::string(40, 'x'));
    EXPECT_EQ(header[13 + 16], 'x');
    EXPECT_EQ(header[13 + 17], 0);
}

TEST_F(AudioTest, StartListenOnACameraThatIsNotPlayingSendsNothing) {
    auto camera = CameraRegistry::Instance().GetOrCreate(1);
    EXPECT_FALSE(camera->StartListen());
    auto open = OpenCamera();
    open->Close();
    EXPECT_FALSE(camera->StartListen());
    media_testing::PumpUntil([] { return false; }, 50);
    EXPECT_EQ(server.Count(1003), 0);
    EXPECT_FALSE(camera->ListeningThreadRunning());
    EXPECT_TRUE(sinks.log.Events().empty()) << "no player was opened";
}

TEST_F(AudioTest, ListeningDecodesTheAudioAndReopensThePlayerForANewRate) {
    auto camera = OpenCamera();
    ASSERT_TRUE(camera->StartListen());
    EXPECT_EQ(server.Count(1003), 1);
    EXPECT_TRUE(camera->ListeningThreadRunning());

    const std::vector<std::uint8_t> coded = Alaw(media_testing::TonePcm(640));
    server.PushAll(AudioDescription(8000));
    server.PushAll(AudioPacket(2, coded));
    ASSERT_TRUE(media_testing::PumpUntil([&] { return sinks.log.PcmBytes() >= 640; }, 3000));
    server.PushAll(AudioDescription(16000));
    server.PushAll(AudioPacket(2, coded, 1040));
    ASSERT_TRUE(media_testing::PumpUntil([&] { return sinks.log.PcmBytes() >= 1280; }, 3000));

    const std::vector<std::string> expected = {"open 8000", "start", "write 640", "open 16000", "start", "write 640"};
    EXPECT_EQ(sinks.log.Events(), expected) << "the new rate's player is open before its sound is played";
    std::vector<std::uint8_t> twice = Decoded(coded);
    twice.insert(twice.end(), twice.begin(), twice.end());
    EXPECT_EQ(sinks.log.Pcm(), twice) << "exactly the stored length less 14 bytes is decoded";

    EXPECT_TRUE(camera->StopListen());
    EXPECT_FALSE(camera->ListeningThreadRunning());
    EXPECT_TRUE(media_testing::PumpUntil([&] { return server.Count(1004) == 1; }, 2000));
}

// Without a way to play the sound listening does not claim to be on: nothing runs, the
// server is not asked for audio, and the caller learns that the output device is missing.
TEST_F(AudioTest, ListeningWithoutAnOutputDeviceIsRefused) {
    chime::SetSinkFactory([](const chime::AudioFormat&) { return nullptr; });
    auto camera = OpenCamera();
    media::AudioRefusal why = media::AudioRefusal::kNone;
    EXPECT_FALSE(camera->StartListen(&why));
    EXPECT_EQ(why, media::AudioRefusal::kNoOutputDevice);
    EXPECT_FALSE(camera->ListeningThreadRunning());

    // A device that is there but will not start counts as none.
    struct DeadSink final : chime::AudioSink {
        bool Start() override { return false; }
        void Write(const std::uint8_t*, std::size_t) override {}
    };
    chime::SetSinkFactory([](const chime::AudioFormat&) { return std::make_unique<DeadSink>(); });
    why = media::AudioRefusal::kNone;
    EXPECT_FALSE(camera->StartListen(&why));
    EXPECT_EQ(why, media::AudioRefusal::kNoOutputDevice);
    EXPECT_FALSE(camera->ListeningThreadRunning());
    media_testing::PumpUntil([] { return false; }, 50);
    EXPECT_EQ(server.Count(1003), 0) << "no audio asked for that cannot be played";
    const std::string log = Log();
    EXPECT_NE(log.find("InitAudio mAudioPlay: 00000000 Error!"), std::string::npos);
    EXPECT_NE(log.find("bPlay: 0 Failed!"), std::string::npos);
}

TEST_F(AudioTest, CaptureSendsWholeBlocksAsTalkMessagesAndPlaysTheAnswer) {
    auto camera = OpenCamera();
    ASSERT_TRUE(StartTalk(*camera));
    EXPECT_EQ(camera->TalkId(), kTalkId);
    EXPECT_EQ(server.Count(1005), 1);
    ASSERT_TRUE(microphone.Capturing());

    const std::vector<std::uint8_t> pcm = media_testing::TonePcm(1000);
    ASSERT_TRUE(microphone.Speak(pcm.data(), pcm.size()));
    ASSERT_TRUE(media_testing::PumpUntil([&] { return !server.MediaReceived().empty(); }, 3000));
    media_testing::PumpUntil([] { return false; }, 50);
    const std::vector<std::string> sent = server.MediaReceived();
    ASSERT_EQ(sent.size(), 1u) << "one whole 640-byte block; the other 360 bytes wait for the next chunk";
    const std::string& message = sent[0];
    ASSERT_EQ(message.size(), kTalkHeaderSize + 320);
    EXPECT_EQ(message.substr(0, 5), std::string("\x02\x04\x00\x00\x00", 5));
    EXPECT_EQ(message.substr(9, 4), std::string(4, '\0'));
    EXPECT_EQ(message.substr(13, 18), std::string(kTalkId) + std::string(18 - 10, '\0'));
    const std::vector<std::uint8_t> block(pcm.begin(), pcm.begin() + 640);
    EXPECT_EQ(std::vector<std::uint8_t>(message.begin() + kTalkHeaderSize, message.end()), Alaw(block));
    // The kept 360 bytes and the first 280 of the next chunk make the second block.
    const std::vector<std::uint8_t> more = media_testing::TonePcm(300, 600);
    ASSERT_TRUE(microphone.Speak(more.data(), more.size()));
    ASSERT_TRUE(media_testing::PumpUntil([&] { return server.MediaReceived().size() == 2; }, 3000));
    std::vector<std::uint8_t> second(pcm.begin() + 640, pcm.end());
    second.insert(second.end(), more.begin(), more.begin() + 280);
    const std::string next = server.MediaReceived()[1];
    EXPECT_EQ(std::vector<std::uint8_t>(next.begin() + kTalkHeaderSize, next.end()), Alaw(second));

    // The camera's answer reaches the talk player.
    const std::vector<std::uint8_t> answer = Alaw(media_testing::TonePcm(640, 300));
    server.PushAll(AudioPacket(4, answer));
    ASSERT_TRUE(media_testing::PumpUntil([&] { return sinks.log.PcmBytes() >= 640; }, 3000));
    EXPECT_EQ(sinks.log.Pcm(), Decoded(answer));

    EXPECT_TRUE(camera->StopTalk());
    EXPECT_FALSE(microphone.Capturing());
    EXPECT_FALSE(camera->TalkThreadRunning());
    EXPECT_EQ(server.Count(1006), 1);
}

TEST_F(AudioTest, StartTalkRefusedByTheServerLogsTheResult) {
    talkOpenResult = "0";
    auto camera = OpenCamera();
    EXPECT_FALSE(StartTalk(*camera));
    EXPECT_FALSE(microphone.Capturing());
    EXPECT_FALSE(camera->TalkThreadRunning());
    EXPECT_EQ(server.Count(1005), 0);
    EXPECT_NE(Log().find("对讲连接转发失败ret=0！"), std::string::npos);
}

TEST_F(AudioTest, StartTalkWithoutAMicrophoneOpensNothing) {
    microphone.present = false;
    auto camera = OpenCamera();
    camera->CreateTalkLink();
    media::AudioRefusal why = media::AudioRefusal::kNone;
    EXPECT_FALSE(camera->StartTalk("1001", "127.0.0.1", server.Port(), "key", &why));
    EXPECT_EQ(why, media::AudioRefusal::kNoMicrophone);
    EXPECT_FALSE(camera->TalkThreadRunning());
    EXPECT_FALSE(camera->TalkLinkForTests()->IsConnected()) << "no talk link for a voice that cannot be captured";
    EXPECT_EQ(server.Count(1005), 0);

    // A microphone that will not start: refused too, and what was opened is closed.
    microphone.present = true;
    microphone.starts = false;
    why = media::AudioRefusal::kNone;
    EXPECT_FALSE(camera->StartTalk("1001", "127.0.0.1", server.Port(), "key", &why));
    EXPECT_EQ(why, media::AudioRefusal::kNoMicrophone);
    EXPECT_FALSE(camera->TalkThreadRunning());
    EXPECT_FALSE(camera->TalkLinkForTests()->IsConnected());
    ASSERT_TRUE(media_testing::PumpUntil([&] { return server.Count(1006) == 1; }, 2000))
        << "the voice channel that was opened is closed again";
    const std::string log = Log();
    EXPECT_NE(log.find("TARN_AudioCap_Init Failed!"), std::string::npos);
    EXPECT_NE(log.find("TARN_AudioCap_Start Failed!"), std::string::npos);
}

TEST_F(AudioTest, StartTalkNeedsAPlayingCameraAndALink) {
    auto camera = CameraRegistry::Instance().GetOrCreate(2);
    EXPECT_FALSE(StartTalk(*camera));
    auto open = OpenCamera();
    EXPECT_FALSE(open->StartTalk("1001", "127.0.0.1", server.Port(), "key"));
    EXPECT_NE(Log().find("Open Talk Failed!"), std::string::npos);
}

TEST_F(AudioTest, CloseStopsListeningAndTalkback) {
    auto camera = OpenCamera();
    ASSERT_TRUE(camera->StartListen());
    camera->SetListening(true);
    ASSERT_TRUE(StartTalk(*camera));
    camera->SetTalking(true);
    camera->Close();
    EXPECT_FALSE(camera->ListeningThreadRunning());
    EXPECT_FALSE(camera->TalkThreadRunning());
    EXPECT_FALSE(microphone.Capturing());
    EXPECT_FALSE(camera->TalkLinkForTests()->IsConnected());
}

TEST_F(AudioTest, RecordingWaitsForAKeyFrameAskingForOneMeanwhile) {
    const auto& clip = media_testing::ClipOf(352, 288, 25);
    ASSERT_EQ(clip.units.size(), 25u);
    auto camera = OpenCamera();
    ASSERT_TRUE(camera->StartRecord("1001"));
    camera->SetRecording(true);
    // The stream is joined between key frames: each frame before the next key frame
    // asks for one (command 1007) and is not written.
    for (std::size_t i = 1; i < 6; ++i)
        server.PushAll(media_testing::CompactFrame(352, 288, 25, 1000 + 40 * i, clip.units[i]));
    ASSERT_TRUE(media_testing::PumpUntil([&] { return server.Count(1007) == 5; }, 5000));
    for (std::size_t i = 0; i < 3; ++i)
        server.PushAll(media_testing::CompactFrame(352, 288, 25, 2000 + 40 * i, clip.units[i]));
    const std::string working = dir.File("records/1001/tmp.mvd");
    std::vector<std::string> written;
    std::vector<std::uint32_t> keys;
    ASSERT_TRUE(media_testing::PumpUntil([&] {
        const std::string bytes = testing_support::ReadWholeFile(working);
        written.clear();
        keys.clear();
        record::ScanFrameRecords(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                 [&](const record::FoundFrame& f) {
                                     written.emplace_back(reinterpret_cast<const char*>(f.data), f.dataLength);
                                     keys.push_back(f.header.keyFrame);
                                     EXPECT_EQ(f.header.width, 352u);
                                     EXPECT_EQ(f.header.frameRate, 25u);
                                     return true;
                                 });
        return written.size() >= 3;
    }, 5000));
    ASSERT_EQ(written.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(written[i] == clip.units[i]) << "frame " << i << " as received";
    EXPECT_EQ(keys, (std::vector<std::uint32_t>{1, 0, 0}));
    EXPECT_EQ(server.Count(1007), 5) << "no more requests once the key frame came";

    // A recording of a few seconds is not kept under a finished name.
    EXPECT_TRUE(camera->StopRecord());
    camera->SetRecording(false);
    EXPECT_TRUE(std::filesystem::exists(working));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("records/1001")),
                            std::filesystem::directory_iterator()), 1);
}
