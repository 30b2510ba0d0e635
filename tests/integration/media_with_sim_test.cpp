// Listening, talkback and recording end to end against the simulated service: the
// task handlers act on a camera streaming from the simulated forwarding server, the
// sound devices are a recording sink and a microphone the test speaks into, and the
// recording is started and stopped from the cell toolbar.
#include "support/pump_events.h"
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/message_ids.h"
#include "core/log_file.h"
#include "tasks/media_tasks.h"
#include "control/control_client.h"
#include "integration/sim_fixture.h"
#include "media/audio_support.h"
#include "media/camera_registry.h"
#include "platform/paths.h"
#include "record/frame_record.h"
#include "support/h264_streams.h"
#include "ui/toolkit/ui_executor.h"
#include "vdec/vdec.h"
#include "wall/video_panel_mng.h"
#include "wall/win_sub.h"

using control::ControlClient;

using testing_support::PumpUntil;

namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
const std::string kCamera = "31000001";  // seeded online, no viewing plan

double Rms(const std::vector<std::uint8_t>& pcm) {
    double sum = 0;
    const std::size_t samples = pcm.size() / 2;
    for (std::size_t i = 0; i < samples; ++i) {
        const auto v = static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
        sum += static_cast<double>(v) * v;
    }
    return samples ? std::sqrt(sum / samples) : 0;
}

struct Notice {
    std::uint32_t id;
    std::intptr_t lParam;
    std::string text;
};

class MediaWithSim : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        service = std::make_unique<testing_support::SimulatedService>(
            20, [](sim::SimConfig& config) { config.clipSeconds = 1; });
        core::AppConfig config;
        client = service->LoggedInClient(config, true);
        ASSERT_TRUE(client);
        sim::CameraVideo video;
        video.width = kWidth;
        video.height = kHeight;
        video.frameRate = 25;
        ASSERT_TRUE(service->Service().Store().SetCameraVideo(kCamera, video));

        const auto begin = std::chrono::steady_clock::now();
        media::CameraEnvironment environment;
        environment.postToMainWindow = [this](platform::Message m) { return Note(m); };
        environment.postToTaskThread = [](platform::Message) { return true; };
        environment.addresses = [this](const std::string& id) { return client->RequestForwardingAddress(id); };
        environment.talkAddresses = [this](const std::string& id) { return client->RequestForwardingAddressWithNode(id); };
        environment.linkTiming.replyTimeoutMs = 5000;
        environment.linkTiming.connectTimeoutMs = 5000;
        environment.displayTiming = {10, 600000};
        environment.recordRoot = [this] { return dir.File("records"); };
        environment.recordMinutes = [] { return 1; };
        // Recording time runs ten times faster than the test, so a kept file (longer
        // than 9 s) takes a second and a half.
        environment.recordClock.nowSeconds = [begin] {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
            return static_cast<std::int64_t>(1796700000 + ms.count() * 10 / 1000);
        };
        environment.recordClock.tickMs = [begin] {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
            return static_cast<std::uint32_t>(ms.count() * 10);
        };
        media::CameraRegistry::SetEnvironmentForNewCameras(environment);
        tasks.postNotify = [this](platform::Message m) { return Note(m); };

        // The main window's part: toolbar requests become tasks on worker threads.
        mainWindow = platform::CreateWindowHandle(
            [this](platform::Message& m) -> std::intptr_t {
                if (m.id == core::kTaskStartRecord || m.id == core::kTaskStopRecord) RunTask(m.id, std::move(m.payload));
                return 0;
            },
            ui::UiExecutor());
        wall::WallEnvironment wallEnvironment;
        wallEnvironment.cellsSwapped = [](int, int) {};
        wallEnvironment.screenSize = [] { return QSize(1920, 1080); };
        wallEnvironment.pictureSize = [](int, const std::string&) { return QSize(kWidth, kHeight); };
        panel = std::make_unique<wall::CVideoPanelMng>(mainWindow, nullptr, wallEnvironment);
        panel->resize(400, 340);
        panel->show();
        panel->SetLayout(1);

        int cell = 0;
        platform::WindowHandle window = 0;
        ASSERT_TRUE(panel->FindFreeCell(cell, window));
        row = std::make_shared<control::ITEMINFO>();
        row->kind = control::ITEMINFO::kCamera;
        row->id = kCamera;
        row->name = "camera " + kCamera;
        row->live = true;
        panel->SetCellEntry(cell, row);
        address = client->RequestForwardingAddress(kCamera);
        ASSERT_EQ(address.status, 1);
        camera = media::CameraRegistry::Instance().GetOrCreate(cell);
        ASSERT_EQ(camera->Open(kCamera, address.forwardingIp, std::atoi(address.forwardingPort.c_str()), window, ""), 1);
    }
    void TearDown() override {
        for (auto& worker : workers) worker.join();
        camera.reset();
        media::CameraRegistry::DestroyAll();
        media::CameraRegistry::SetEnvironmentForNewCameras(std::nullopt);
        panel.reset();
        platform::DestroyWindowHandle(mainWindow);
        client.reset();
        service.reset();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }

    bool Note(const platform::Message& m) {
        Notice notice{m.id, m.lParam, {}};
        if (auto* text = platform::PayloadAs<std::string>(m)) notice.text = *text;
        std::lock_guard lock(mutex);
        notices.push_back(notice);
        return true;
    }
    // The lParam of the first notice `id`, or nothing yet.
    std::optional<std::intptr_t> Result(std::uint32_t id) {
        std::lock_guard lock(mutex);
        for (const auto& n : notices)
            if (n.id == id) return n.lParam;
        return std::nullopt;
    }
    void RunTask(std::uint32_t id, platform::PayloadPtr payload) {
        workers.emplace_back([this, id, payload = std::shared_ptr<platform::Payload>(std::move(payload))]() mutable {
            platform::Message message(id);
            if (auto* text = dynamic_cast<platform::PayloadOf<std::string>*>(payload.get()))
                message.payload = platform::MakePayload(text->value);
            if (id == core::kTaskStartRecord) tasks::HandleStartRecord(message, tasks);
            if (id == core::kTaskStopRecord) tasks::HandleStopRecord(message, tasks);
            if (id == core::kTaskStartListen) tasks::HandleStartListen(message, tasks);
        });
    }

    testing_support::TempDir dir;
    std::unique_ptr<testing_support::SimulatedService> service;
    std::unique_ptr<ControlClient> client;
    control::TransportAddress address;
    platform::WindowHandle mainWindow = 0;
    std::unique_ptr<wall::CVideoPanelMng> panel;
    control::ItemPtr row;
    std::shared_ptr<media::CCamera> camera;
    tasks::MediaTaskEnvironment tasks;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::vector<Notice> notices;
};

}  // namespace

TEST_F(MediaWithSim, ListeningPlaysTheCamerasVoice) {
    media_testing::SinkCapture sinks;
    platform::Message request(core::kTaskStartListen, 0, 0, platform::MakePayload(kCamera));
    tasks::HandleStartListen(request, tasks);
    ASSERT_EQ(Result(core::kListenStarted), 1);
    EXPECT_TRUE(camera->IsListening());
    // A second of sound: 25 packets of 320 samples.
    ASSERT_TRUE(PumpUntil([&] { return sinks.log.PcmBytes() >= 16000; }, 10000));
    EXPECT_EQ(sinks.log.Events().front(), "open 8000");
    EXPECT_GT(Rms(sinks.log.Pcm()), 300.0) << "the camera speaks, it is not silence";

    platform::Message stop(core::kTaskStopListen, 0, 0, platform::MakePayload(kCamera));
    tasks::HandleStopListen(stop, tasks);
    EXPECT_EQ(Result(core::kListenStopped), 1);
    EXPECT_FALSE(camera->IsListening());
    EXPECT_FALSE(camera->ListeningThreadRunning());
}

TEST_F(MediaWithSim, TalkbackSendsTheMicrophoneAndPlaysTheEcho) {
    media_testing::SinkCapture sinks;
    media_testing::FakeMicrophone microphone;
    const control::TransportAddress talk = client->RequestForwardingAddressWithNode(kCamera);
    ASSERT_EQ(talk.status, 1);
    core::TalkRequest request{kCamera, kCamera, talk.forwardingIp, std::atoi(talk.forwardingPort.c_str()), ""};
    platform::Message start(core::kTaskStartTalk, 0, 0, platform::MakePayload(request));
    tasks::HandleStartTalk(start, tasks);
    ASSERT_EQ(Result(core::kTalkStateChanged), 1);
    EXPECT_TRUE(camera->IsTalking());

    const std::vector<std::uint8_t> voice = media_testing::TonePcm(3 * 640, 350);
    ASSERT_TRUE(microphone.Speak(voice.data(), voice.size()));
    ASSERT_TRUE(PumpUntil([&] { return sinks.log.PcmBytes() >= voice.size(); }, 10000));
    // What comes back is what was said, through the A-law coding.
    std::vector<std::uint8_t> expected;
    for (std::size_t i = 0; i < voice.size(); i += 2) {
        const auto sample = static_cast<std::int16_t>(voice[i] | (voice[i + 1] << 8));
        const auto v = static_cast<std::uint16_t>(chime::AlawToLinear(chime::LinearToAlaw(sample)));
        expected.push_back(static_cast<std::uint8_t>(v & 0xFF));
        expected.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    EXPECT_EQ(sinks.log.Pcm(), expected);
    EXPECT_EQ(service->Service().Forwarding().GetStats().talkEchoed, 3u);

    platform::Message stop(core::kTaskStopTalk, 0, 0, platform::MakePayload(kCamera));
    tasks::HandleStopTalk(stop, tasks);
    EXPECT_FALSE(camera->IsTalking());
    EXPECT_FALSE(microphone.Capturing());
}

TEST_F(MediaWithSim, RecordingFromTheToolbarGivesAFileWhoseFramesDecode) {
    wall::CWinSub& bar = *panel->Toolbar();
    panel->ShowToolbar(0);
    bar.Click("btnRecord");
    ASSERT_TRUE(PumpUntil([&] { return Result(core::kRecordStarted).has_value(); }, 10000));
    ASSERT_EQ(Result(core::kRecordStarted), 1);
    EXPECT_TRUE(camera->IsRecording()) << "the overlay draws the recording mark";
    row->recording = true;  // the main window's part on 1053
    panel->ShowToolbar(0);

    // About 15 s of recording time, then stop from the toolbar.
    PumpUntil([] { return false; }, 1600);
    bar.Click("btnRecord");
    ASSERT_TRUE(PumpUntil([&] { return Result(core::kRecordStopped).has_value(); }, 10000));
    EXPECT_EQ(Result(core::kRecordStopped), 1);
    EXPECT_FALSE(camera->IsRecording());

    const std::string folder = dir.File("records/" + kCamera);
    std::vector<std::string> finished;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".mvp") finished.push_back(entry.path().string());
    ASSERT_EQ(finished.size(), 1u);
    const std::string bytes = testing_support::ReadWholeFile(finished[0]);

    unsigned long decoder = InitDeCode();
    ASSERT_NE(decoder, 0u);
    std::vector<char> picture(kWidth * kHeight * 3 / 2);
    int frames = 0, pictures = 0;
    bool firstIsKey = false;
    const std::size_t sound = record::ScanFrameRecords(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), [&](const record::FoundFrame& frame) {
            if (frames++ == 0) firstIsKey = frame.header.keyFrame == 1;
            EXPECT_EQ(frame.header.width, static_cast<std::uint32_t>(kWidth));
            EXPECT_EQ(frame.header.height, static_cast<std::uint32_t>(kHeight));
            std::string unit(reinterpret_cast<const char*>(frame.data), frame.dataLength);
            int consumed = 0;
            pictures += DeCoder(decoder, unit.data(), static_cast<int>(unit.size()), picture.data(), consumed) == 1;
            return true;
        });
    ReleaseDeCode(decoder);
    EXPECT_EQ(sound, bytes.size()) << "the whole file is frame records";
    EXPECT_TRUE(firstIsKey);
    EXPECT_GT(frames, 10);
    EXPECT_GE(pictures, frames - 1) << "every frame decodes";
}

// Requests for cameras that are not open still answer, with lParam 0.
TEST(MediaTasks, CamerasThatAreNotOpenGetRefusals) {
    std::vector<Notice> posted;
    tasks::MediaTaskEnvironment environment;
    environment.postNotify = [&](platform::Message m) {
        Notice notice{m.id, m.lParam, {}};
        if (auto* text = platform::PayloadAs<std::string>(m)) notice.text = *text;
        notice.text += "@" + std::to_string(m.wParam);
        posted.push_back(notice);
        return true;
    };
    auto id = [](const char* text) { return platform::MakePayload(std::string(text)); };
    platform::Message listen(core::kTaskStartListen, 0, 0, id("404"));
    tasks::HandleStartListen(listen, environment);
    platform::Message record(core::kTaskStartRecord, 0, 0, id("404"));
    tasks::HandleStartRecord(record, environment);
    platform::Message talk(core::kTaskStartTalk, 0, 0,
                           platform::MakePayload(core::TalkRequest{"404", "404", "127.0.0.1", 1, ""}));
    tasks::HandleStartTalk(talk, environment);
    platform::Message stopTalk(core::kTaskStopTalk, 0, 0, id("404"));
    tasks::HandleStopTalk(stopTalk, environment);
    platform::Message cell(core::kTaskStopListenCell, 7, 0);
    tasks::HandleStopListenCell(cell, environment);
    media::CameraRegistry::DestroyAll();

    ASSERT_EQ(posted.size(), 5u);
    EXPECT_EQ(posted[0].id, core::kListenStarted);
    EXPECT_EQ(posted[0].lParam, 0);
    EXPECT_EQ(posted[0].text, "404@0");
    EXPECT_EQ(posted[1].id, core::kRecordStarted);
    EXPECT_EQ(posted[1].lParam, 0);
    EXPECT_EQ(posted[2].id, core::kTalkRefused);
    EXPECT_EQ(posted[3].id, core::kTalkStateChanged);
    EXPECT_EQ(posted[3].lParam, 0);
    EXPECT_EQ(posted[4].id, core::kListenStoppedCell);
    EXPECT_EQ(posted[4].text, "@7");
    EXPECT_EQ(posted[4].lParam, 1);
}
