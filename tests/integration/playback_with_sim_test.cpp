// Playback end to end against the simulated service. Through the task handlers of the
// search (1047), the start (1032) and the commands (1033): the recordings of a camera
// are found, the first plays in the playback cell with the recorded time in its picture
// and in the progress reports, and pause, resume, seek, stop and the end of the
// recording do what the playback panel relies on. Through the real main window and its
// playback engine: a camera recorded from the live wall's toolbar is found by the local
// search, played, paused, sought (the picture's clock is the second asked for) and
// stopped, and exported to an MP4 that libavformat reads back frame for frame; the
// service's recordings are searched, the first plays at once and a seek lands.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>

#include "control/control_client.h"
#include "core/log_file.h"
#include "core/message_ids.h"
#include "core/task_threads.h"
#include "integration/sim_fixture.h"
#include "mainwin/main_win.h"
#include "media/camera_registry.h"
#include "media/video_target.h"
#include "platform/paths.h"
#include "platform/thread_messages.h"
#include "playback/playback_engine.h"
#include "playback/playback_panel.h"
#include "playback/recording_search.h"
#include "record/frame_record.h"
#include "session/item_table.h"
#include "session/login_sequence.h"
#include "session/reconnection_table.h"
#include "sim/camera_picture.h"
#include "support/cell_picture.h"
#include "support/h264_streams.h"
#include "support/mp4_facts.h"
#include "support/pump_events.h"
#include "tasks/live_tasks.h"
#include "tasks/media_tasks.h"
#include "tasks/playback_tasks.h"
#include "ui/message_box.h"
#include "ui/toolkit/control.h"
#include "ui/toolkit/list.h"
#include "ui/toolkit/ui_executor.h"
#include "ui/tree_list.h"
#include "wall/video_panel_mng.h"
#include "wall/win_sub.h"

using control::ControlClient;
using testing_support::PumpUntil;

namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
const std::string kCamera = "31000001";  // seeded with recordings on the three days before today

std::string TimeText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::time_t LocalTime(const std::string& text) {
    std::tm local{};
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &local.tm_year, &local.tm_mon, &local.tm_mday, &local.tm_hour,
                    &local.tm_min, &local.tm_sec) != 6)
        return -1;
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// How far the clock of `shown` is from the one in the service's picture `look` drawn
// at `when`: the share of the clock band's pixels that are text (white) in one picture
// and not in the other, per text pixel of the reference.
double ClockDistance(const QImage& shown, sim::PictureText look, std::time_t when) {
    QImage reference(shown.size(), QImage::Format_RGB32);
    look.clock = TimeText(when);
    sim::DrawCameraPicture(reference, look, sim::SceneView{});
    const int height = shown.height(), textSize = height / 16;
    const int bottom = height - height / 40 - 2, top = bottom - textSize * 16 / 10;
    auto white = [](QRgb pixel) { return qGray(pixel) > 170; };
    long differ = 0, inText = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = shown.width() / 2; x < shown.width(); ++x) {
            const bool a = white(shown.pixel(x, y)), b = white(reference.pixel(x, y));
            differ += a != b;
            inText += b;
        }
    return inText ? static_cast<double>(differ) / static_cast<double>(inText) : 1e9;
}

// The second whose picture the shown one is, among `from`..`to` (-1 without a picture).
std::time_t ShownClock(const QImage& shown, const sim::PictureText& look, std::time_t from, std::time_t to) {
    if (shown.isNull()) return -1;
    std::time_t best = -1;
    double bestDistance = 1e18;
    for (std::time_t t = from; t <= to; ++t)
        if (const double d = ClockDistance(shown, look, t); d < bestDistance) bestDistance = d, best = t;
    return best;
}

// The look of the service's recordings of kCamera (named `name`).
sim::PictureText Recording(const std::string& name) { return {kCamera, name, {}, "回放", 0, 1}; }
// The look of a camera's live pictures (the clock band does not depend on the name).
sim::PictureText Live(const std::string& cameraId) { return {cameraId, {}, {}, {}, 0, 1}; }

class PlaybackWithSim : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        service = std::make_unique<testing_support::SimulatedService>(
            20, [](sim::SimConfig& config) { config.clipSeconds = 2; });
        core::AppConfig config;
        client = service->LoggedInClient(config, true);
        ASSERT_TRUE(client);
        sim::CameraVideo video;
        video.width = kWidth;
        video.height = kHeight;
        video.frameRate = 25;
        ASSERT_TRUE(service->Service().Store().SetCameraVideo(kCamera, video));
        name = service->Service().Store().StreamingCameraInfo(kCamera)->name;

        media::CameraEnvironment environment;
        environment.postToMainWindow = [](platform::Message) { return true; };
        environment.postToTaskThread = [](platform::Message) { return true; };
        environment.linkTiming.replyTimeoutMs = 5000;
        environment.linkTiming.connectTimeoutMs = 5000;
        environment.displayTiming = {10, 600000};
        media::CameraRegistry::SetEnvironmentForNewCameras(environment);

        mainWindow = platform::CreateWindowHandle([this](platform::Message& m) { return Note(m); }, ui::UiExecutor());
        tasks.requestPlayback = [this](const std::string& id, const std::string& start, const std::string& end) {
            return client->RequestRemotePlayback(id, start, end);
        };
        tasks.postToWindow = [](platform::WindowHandle window, platform::Message m) {
            return platform::PostWindowMessage(window, std::move(m));
        };
        tasks.notifyWindow = [this] { return mainWindow; };

        // The playback wall: one cell, larger than the pictures, so the surface holds
        // them at their own size.
        wall::WallEnvironment wallEnvironment;
        wallEnvironment.cellsSwapped = [](int, int) {};
        wallEnvironment.screenSize = [] { return QSize(1920, 1080); };
        wallEnvironment.pictureSize = [](int, const std::string&) { return QSize(kWidth, kHeight); };
        wall = std::make_unique<wall::CVideoPanelMng>(mainWindow, nullptr, wallEnvironment);
        wall->resize(600, 500);
        wall->show();
        wall->SetLayout(1);
        int cell = 0;
        ASSERT_TRUE(wall->FindFreeCell(cell, cellWindow));
    }
    void TearDown() override {
        media::CameraRegistry::DestroyAll();
        media::CameraRegistry::SetEnvironmentForNewCameras(std::nullopt);
        wall.reset();
        platform::DestroyWindowHandle(mainWindow);
        client.reset();
        service.reset();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }

    std::intptr_t Note(platform::Message& m) {
        std::lock_guard lock(mutex);
        if (auto* result = platform::PayloadAs<core::RemoteSearchResult>(m)) searches.push_back(*result);
        if (auto* record = platform::PayloadAs<core::PlaybackRecord>(m)) starts.push_back(*record);
        if (auto* notice = platform::PayloadAs<core::ReplayPositionNotice>(m)) positions.push_back(notice->text);
        if (m.id == core::kReplayEnded) ends.push_back(static_cast<int>(m.wParam));
        order.push_back(m.id);
        return 0;
    }
    // Runs a handler on a worker thread, as the task threads do, while the window's
    // messages are pumped.
    void RunTask(const std::function<void()>& task) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            task();
            done = true;
        });
        PumpUntil([&] { return done.load(); }, 30000);
        worker.join();
    }
    core::RemoteSearchResult Search(ControlClient* through, const std::string& start, const std::string& end) {
        const std::size_t before = Count(searches);
        tasks::PlaybackTaskEnvironment environment = tasks;
        if (through != client.get())
            environment.requestPlayback = [through](const std::string& id, const std::string& s, const std::string& e) {
                return through->RequestRemotePlayback(id, s, e);
            };
        platform::Message request(core::kTaskRemoteSearch, 0, 0,
                                  platform::MakePayload(core::RemoteSearchRequest{mainWindow, kCamera, 1, start, end}));
        RunTask([&] { tasks::HandleRemoteSearch(request, environment); });
        EXPECT_TRUE(PumpUntil([&] { return Count(searches) > before; }, 10000));
        std::lock_guard lock(mutex);
        return searches.size() > before ? searches.back() : core::RemoteSearchResult{};
    }
    void Start(const core::RemoteSearchResult& found) {
        core::PlaybackRecord record;
        record.mainWindow = mainWindow;
        record.playbackId = found.playbackId;
        record.key = found.timeList.substr(0, found.timeList.find(';'));
        record.ip = found.ip;
        record.port = found.port;
        record.row = 0;
        record.cellWindow = cellWindow;
        platform::Message message(core::kTaskRemotePlaybackStart, 0, 0, platform::MakePayload(record));
        RunTask([&] { tasks::HandleRemotePlaybackStart(message, tasks); });
    }
    void Command(int command, const std::string& timeText = {}) {
        core::RemoteCommand record;
        record.command = command;
        record.timeText = timeText;
        platform::Message message(core::kTaskRemotePlaybackCommand, 0, 0, platform::MakePayload(record));
        RunTask([&] { tasks::HandleRemotePlaybackCommand(message, tasks); });
    }
    template <typename T>
    std::size_t Count(const std::vector<T>& list) {
        std::lock_guard lock(mutex);
        return list.size();
    }
    // The recorded time of the latest progress report.
    std::time_t LastPosition() {
        std::lock_guard lock(mutex);
        return positions.empty() ? -1 : LocalTime(positions.back());
    }
    // Waits for a progress report from `from` on; true when one came.
    bool WaitForPosition(std::time_t from, std::size_t after, int timeoutMs = 15000) {
        return PumpUntil([&] {
            std::lock_guard lock(mutex);
            for (std::size_t i = after; i < positions.size(); ++i)
                if (LocalTime(positions[i]) >= from) return true;
            return false;
        }, timeoutMs);
    }
    sim::LinkMarks::Marks Marks() { return service->Service().Forwarding().Marks(kCamera); }
    void DeliverPosted() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }
    // The playback's link has handled everything sent on it before: its reply to the
    // parameter query follows them on the same connection.
    bool LinkRoundTrip() {
        auto camera = media::CameraRegistry::Instance().Find(core::kPlaybackCellKey);
        std::map<std::string, std::string> parameters;
        return camera && camera->Link().GetParameters(parameters);
    }

    testing_support::TempDir dir;
    std::unique_ptr<testing_support::SimulatedService> service;
    std::unique_ptr<ControlClient> client;
    std::string name;
    tasks::PlaybackTaskEnvironment tasks;
    platform::WindowHandle mainWindow = 0;
    platform::WindowHandle cellWindow = 0;
    std::unique_ptr<wall::CVideoPanelMng> wall;
    std::mutex mutex;
    std::vector<core::RemoteSearchResult> searches;
    std::vector<core::PlaybackRecord> starts;
    std::vector<std::string> positions;
    std::vector<int> ends;
    std::vector<std::uint32_t> order;
};

}  // namespace

TEST_F(PlaybackWithSim, SearchPlayPauseSeekStopAndTheEndOfARecording) {
    // The search: the seeded recordings, three a day, with what it takes to play them.
    const std::time_t now = std::time(nullptr);
    const core::RemoteSearchResult found = Search(client.get(), TimeText(now - 4 * 24 * 3600), TimeText(now));
    ASSERT_EQ(found.status, 1);
    EXPECT_EQ(found.statusText, "成功");
    EXPECT_EQ(found.cameraId, kCamera);
    EXPECT_FALSE(found.playbackId.empty());
    EXPECT_EQ(found.ip, "127.0.0.1");
    EXPECT_GT(found.port, 0);
    const std::string first = found.timeList.substr(0, found.timeList.find(';'));
    ASSERT_NE(first.find('~'), std::string::npos) << found.timeList;
    const std::time_t firstStart = LocalTime(first.substr(0, first.find('~')));
    const std::time_t firstEnd = LocalTime(first.substr(first.find('~') + 1));
    ASSERT_GT(firstEnd, firstStart + 600);

    // The first recording starts: result 1, pictures in the playback cell, and the
    // progress reports run from the recording's start in the recording's own time.
    Start(found);
    ASSERT_TRUE(PumpUntil([&] { return Count(starts) == 1; }, 10000));
    ASSERT_EQ(starts[0].result, 1);
    EXPECT_EQ(starts[0].key, first);
    ASSERT_TRUE(WaitForPosition(firstStart + 1, 0));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(positions.front(), TimeText(firstStart));
        for (std::size_t i = 1; i < positions.size(); ++i)
            EXPECT_GE(LocalTime(positions[i]), LocalTime(positions[i - 1])) << "the reports rise";
    }
    auto target = media::VideoTarget::Find(cellWindow);
    ASSERT_TRUE(target);

    // A seek into the middle: the picture shown then is the service's picture of that
    // recorded second, clock and all.
    const std::time_t middle = firstStart + (firstEnd - firstStart) / 2;
    std::size_t seen = Count(positions);
    const auto asked = std::chrono::steady_clock::now();
    Command(3, TimeText(middle));
    ASSERT_TRUE(WaitForPosition(middle, seen));
    std::printf("seek: the first picture of the new time reported after %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - asked)
                                           .count()));
    const std::uint64_t beforePause = Marks().commands;
    Command(1);  // pause
    ASSERT_TRUE(LinkRoundTrip());
    DeliverPosted();  // the reports of the pictures decoded before the pause
    const QImage shown = testing_support::SurfacePicture(*target);
    ASSERT_FALSE(shown.isNull());
    ASSERT_EQ(shown.width(), kWidth);
    const std::time_t clock = ShownClock(shown, Recording(name), middle - 5, middle + 5);
    std::printf("seek to %s: the picture shows %s, the last report %s; clock distance %.2f, %.2f a second off, "
                "%.2f at the recording's start\n",
                TimeText(middle).c_str(), TimeText(clock).c_str(), TimeText(LastPosition()).c_str(),
                ClockDistance(shown, Recording(name), clock), ClockDistance(shown, Recording(name), clock + 1),
                ClockDistance(shown, Recording(name), firstStart));
    EXPECT_LE(std::abs(clock - middle), 1) << "the drawn clock is the recorded time";
    EXPECT_LE(std::abs(clock - LastPosition()), 1) << "the report is the time of the picture shown";
    // A clock that is the recorded time matches to a few edge pixels (one wrong digit
    // leaves about a tenth of the text apart).
    EXPECT_LT(ClockDistance(shown, Recording(name), clock), 0.05) << "the picture's clock is none of the seconds around the seek";

    // Paused: a seek is taken but no picture comes until the playback resumes. The
    // service's stream has read the pause, the query and the seek, and then goes on
    // stepping a frame time at a time without sending.
    seen = Count(positions);
    const std::time_t later = middle + 600;
    Command(3, TimeText(later));
    const std::uint64_t steps = Marks().streamSteps;
    ASSERT_TRUE(PumpUntil([&] {
        const sim::LinkMarks::Marks marks = Marks();
        return marks.streamSteps > steps && marks.commandsStreamed >= beforePause + 3;
    }, 10000));
    const sim::LinkMarks::Marks paused = Marks();
    ASSERT_TRUE(PumpUntil([&] { return Marks().streamSteps >= paused.streamSteps + 5; }, 10000));
    EXPECT_EQ(Marks().videoFrames, paused.videoFrames) << "the service sends nothing while paused";
    DeliverPosted();
    EXPECT_EQ(Count(positions), seen) << "no pictures while paused";
    Command(0);  // resume
    ASSERT_TRUE(WaitForPosition(later, seen)) << "pictures again, from the seek";

    // Stop: the stream ends and the cell is free; nothing is posted, the window is idle
    // already.
    Command(2);
    EXPECT_FALSE(media::CameraRegistry::Instance().Find(core::kPlaybackCellKey));
    ASSERT_TRUE(PumpUntil([&] { return service->Service().Forwarding().ActiveLinks(kCamera) == 0; }, 10000));
    EXPECT_EQ(Count(ends), 0u);

    // Started again, and again while it plays: the one playing ends first (1048).
    Start(found);
    Start(found);
    ASSERT_TRUE(PumpUntil([&] { return Count(starts) == 3; }, 10000));
    EXPECT_EQ(starts[1].result, 1);
    EXPECT_EQ(starts[2].result, 1);
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(ends, std::vector<int>{core::kPlaybackCellKey});
        std::vector<std::uint32_t> results;
        for (std::uint32_t id : order)
            if (id == core::kReplayEnded || id == core::kRemotePlaybackStarted) results.push_back(id);
        EXPECT_EQ(results, (std::vector<std::uint32_t>{core::kRemotePlaybackStarted, core::kRemotePlaybackStarted,
                                                        core::kReplayEnded, core::kRemotePlaybackStarted}));
    }

    // Two seconds before the end of the recording: it plays to its end, which ends the
    // playback (1048 for the playback cell), and the cell is empty.
    seen = Count(positions);
    Command(3, TimeText(firstEnd - 2));
    ASSERT_TRUE(PumpUntil([&] { return Count(ends) == 2; }, 15000)) << "the end of the recording";
    EXPECT_EQ(ends.back(), core::kPlaybackCellKey);
    EXPECT_GE(LastPosition(), firstEnd - 2);
    EXPECT_LT(LastPosition(), firstEnd);
    EXPECT_FALSE(media::CameraRegistry::Instance().Find(core::kPlaybackCellKey));
}

TEST_F(PlaybackWithSim, SearchesWithoutRecordingsOrWithoutAReply) {
    const core::RemoteSearchResult none = Search(client.get(), "2001-01-01 00:00:00", "2001-01-02 00:00:00");
    EXPECT_EQ(none.status, -2);
    EXPECT_EQ(none.statusText, "无数据");
    EXPECT_TRUE(none.timeList.empty());
    EXPECT_TRUE(none.playbackId.empty());

    // A client whose connection is down: no reply.
    core::AppConfig config;
    service->PointAt(config, "demo", "larkview");
    ControlClient down(ControlClient::Timing{}, config);
    const core::RemoteSearchResult silent = Search(&down, "2001-01-01 00:00:00", "2001-01-02 00:00:00");
    EXPECT_EQ(silent.status, -1);
    EXPECT_EQ(silent.statusText, "错误");
    EXPECT_EQ(silent.port, 0);

    // The other statuses a service may answer, and a failure that names recordings.
    const std::pair<int, const char*> texts[] = {{-3, "无转发"}, {-4, "无镜像"}, {-5, "采集端未启动"},
                                                 {-6, "超时"}, {0, "未知错误"}, {7, "未知错误"}};
    for (const auto& [status, text] : texts) EXPECT_EQ(tasks::RemoteSearchStatusText(status), text);
    control::RemotePlaybackReply failed{-6, "12", "127.0.0.1", "19001", "2024-01-01 08:00:00~2024-01-01 09:00:00"};
    const core::RemoteSearchResult refused = tasks::RemoteSearchResultOf(kCamera, failed);
    EXPECT_TRUE(refused.timeList.empty()) << "a failure lists nothing";
    EXPECT_EQ(refused.port, 0);
    control::RemotePlaybackReply odd{1, "12", "127.0.0.1", "99999", "x"};
    EXPECT_EQ(tasks::RemoteSearchResultOf(kCamera, odd).port, 0) << "a port beyond 65535 is none";
}

// --- The playback tab of the real main window -------------------------------------------

namespace {

// The key frames of a local recording: the second each was recorded in (its packed
// time) and the clock its picture shows, decoded here with libavcodec, apart from the
// playback library. The recorder writes a frame when the play thread takes it, after
// the live stream's reserve against jitter, so a picture's recorded second is some
// seconds after the camera's clock in it; this is what a seek is checked against.
struct RecordedKey {
    std::int64_t second = 0;
    std::time_t clock = -1;
};
std::vector<RecordedKey> RecordedKeys(const std::string& bytes, const std::string& cameraId) {
    std::vector<RecordedKey> keys;
    std::vector<std::pair<bool, std::int64_t>> frames;  // key, recorded second
    std::vector<std::string> units;
    record::ScanFrameRecords(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                             [&](const record::FoundFrame& frame) {
                                 const auto local = record::UnpackLocalTime(frame.header.packedTime);
                                 frames.emplace_back(frame.header.keyFrame == 1,
                                                     local ? record::SecondsOfLocalTime(*local).value_or(0) : 0);
                                 units.emplace_back(reinterpret_cast<const char*>(frame.data), frame.dataLength);
                                 return true;
                             });
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    if (!codec || avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return keys;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* picture = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(context, picture) == 0) {
            const auto i = static_cast<std::size_t>(picture->pts);
            if (i >= frames.size() || !frames[i].first) continue;
            QImage gray(picture->width, picture->height, QImage::Format_RGB32);
            for (int y = 0; y < picture->height; ++y)
                for (int x = 0; x < picture->width; ++x) {
                    const int v = picture->data[0][y * picture->linesize[0] + x];
                    gray.setPixel(x, y, qRgb(v, v, v));
                }
            const std::time_t second = static_cast<std::time_t>(frames[i].second);
            keys.push_back({frames[i].second, ShownClock(gray, Live(cameraId), second - 15, second + 2)});
        }
    };
    for (std::size_t i = 0; i < units.size(); ++i) {
        packet->data = reinterpret_cast<std::uint8_t*>(units[i].data());
        packet->size = static_cast<int>(units[i].size());
        packet->pts = static_cast<std::int64_t>(i);
        avcodec_send_packet(context, packet);
        drain();
    }
    avcodec_send_packet(context, nullptr);
    drain();
    av_frame_free(&picture);
    packet->data = nullptr;
    packet->size = 0;
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return keys;
}

// The main window against the simulated service with the real playback engine: its
// live wall records a camera through the cell toolbar, its playback tab finds that file
// and the service's recordings and plays them in the playback cell.
class PlaybackTabWithSim : public ::testing::Test {
protected:
    static constexpr int kRate = 10;  // pictures a second: one frame is 100 ms

    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        service = std::make_unique<testing_support::SimulatedService>(
            20, [](sim::SimConfig& simConfig) { simConfig.clipSeconds = 1; });
        sim::CameraVideo video;
        video.width = kWidth;
        video.height = kHeight;
        video.frameRate = kRate;
        ASSERT_TRUE(service->Service().Store().SetCameraVideo(camera, video));
        // Its live pictures show the time they are sent, as a real camera stamps them,
        // so a recording's pictures can be told apart by their clock.
        ASSERT_TRUE(service->Service().Forwarding().SetClockedLive(camera, true));
        cameraName = service->Service().Store().StreamingCameraInfo(camera)->name;
        client = service->LoggedInClient(config, false);
        ASSERT_TRUE(client);
        ASSERT_TRUE(session::RefreshItemTable(*client, table, nullptr));

        ASSERT_TRUE(pump.Start());
        tasks::LiveTaskEnvironment live;
        live.requestAddress = [this](const std::string& id) { return client->RequestForwardingAddress(id); };
        live.postNotify = [this](platform::Message m) { return platform::PostWindowMessage(notify, std::move(m)); };
        live.password = [] { return std::string(); };
        dispatcher.Register(core::kTaskOpenCamera,
                            [this, live](platform::Message& m) { tasks::HandleOpenCamera(m, reconnection, live); });
        dispatcher.Register(core::kTaskCloseCell,
                            [this, live](platform::Message& m) { tasks::HandleCloseCell(m, reconnection, live); });
        tasks::MediaTaskEnvironment media;
        media.postNotify = live.postNotify;
        dispatcher.Register(core::kTaskStartRecord, [media](platform::Message& m) { tasks::HandleStartRecord(m, media); });
        dispatcher.Register(core::kTaskStopRecord, [media](platform::Message& m) { tasks::HandleStopRecord(m, media); });
        tasks::PlaybackTaskEnvironment playback;
        playback.requestPlayback = [this](const std::string& id, const std::string& start, const std::string& end) {
            return client->RequestRemotePlayback(id, start, end);
        };
        playback.postToWindow = [](platform::WindowHandle to, platform::Message m) {
            return platform::PostWindowMessage(to, std::move(m));
        };
        playback.notifyWindow = [this] { return notify; };
        playback.password = [] { return std::string(); };
        dispatcher.Register(core::kTaskRemoteSearch,
                            [playback](platform::Message& m) { tasks::HandleRemoteSearch(m, playback); });
        dispatcher.Register(core::kTaskRemotePlaybackStart,
                            [playback](platform::Message& m) { tasks::HandleRemotePlaybackStart(m, playback); });
        dispatcher.Register(core::kTaskRemotePlaybackCommand,
                            [playback](platform::Message& m) { tasks::HandleRemotePlaybackCommand(m, playback); });
        core::LoginSession session;
        session.loginUserName = "demo";
        core::AppConfig::Instance().SetSession(session);
        core::AppConfig::Instance().recordSavePath = dir.File("records");

        media::CameraEnvironment cameras;
        cameras.postToMainWindow = [this](platform::Message m) { return platform::PostWindowMessage(notify, std::move(m)); };
        cameras.postToTaskThread = [this](platform::Message m) {
            return platform::PostThreadMessage(pump.ThreadId(), std::move(m));
        };
        cameras.addresses = [this](const std::string& id) { return client->RequestForwardingAddress(id); };
        cameras.displayTiming = {10, 600000};
        cameras.linkTiming.replyTimeoutMs = 5000;
        cameras.linkTiming.connectTimeoutMs = 5000;
        cameras.recordRoot = [this] { return dir.File("records"); };
        cameras.recordMinutes = [] { return 30; };
        media::CameraRegistry::SetEnvironmentForNewCameras(cameras);

        env.postTask = [this](platform::Message m) { return platform::PostThreadMessage(pump.ThreadId(), std::move(m)); };
        env.sendRequest = [this](int type, const mainwin::MainWinEnvironment::Params& p) {
            return client->SendGenericRequest(type, p);
        };
        env.requestAuthorityList = [this](std::string& out) { return client->RequestAuthorityList(out); };
        env.setNotifyWindow = [this](platform::WindowHandle w) { notify = w; };
        env.rows = [this] { return table.Snapshot(); };
        env.openUrl = [](const std::string&) { return true; };
        env.wallEnvironment = [] {
            wall::WallEnvironment wallEnvironment;
            wallEnvironment.cellsSwapped = [](int, int) {};
            wallEnvironment.screenSize = [] { return QSize(1920, 1080); };
            wallEnvironment.pictureSize = [](int, const std::string&) { return QSize(kWidth, kHeight); };
            return wallEnvironment;
        };
        env.cellSessionConnected = [](int cell) {
            auto opened = media::CameraRegistry::Instance().Find(cell);
            return opened && opened->IsOpen() && opened->Link().IsConnected();
        };
        env.takeReceivedBytes = [] { return std::uint64_t{0}; };
        env.liveEnvironment = [](platform::WindowHandle, ui::CPaintManagerUI&) {
            ui::LiveViewEnvironment liveView;
            liveView.notice = [](const std::string&, const std::string&) {};
            liveView.cameraOfCell = [](int cell) { return media::CameraRegistry::Instance().Find(cell); };
            return liveView;
        };
        env.playbackEngine = [this] { return engine; };
        env.chooseSaveFile = [this](const std::string&, const std::string&, const std::string&) { return exportPath; };
        // Every message box is noted and closed.
        ui::SetModalObserver([this](ui::WindowImplBase& modal) {
            if (auto* box = dynamic_cast<ui::CPopMessageBox*>(&modal)) boxes.push_back({box->textOne, box->textTwo});
            modal.Close(ui::kResultOk);
        });

        window = std::make_unique<mainwin::CMainWin>(env);
        ASSERT_TRUE(window->Create(0, "Larkview"));
        window->GetWidget()->resize(1280, 860);
        window->ShowWindow(true);
        ASSERT_TRUE(PumpUntil([&] { return window->IsInitialised() && window->LiveWall(); }, 5000));
        ASSERT_EQ(notify, window->GetHWND());
    }
    void TearDown() override {
        ui::SetModalObserver(nullptr);
        core::AppConfig::Instance().SetSession({});
        window.reset();
        media::CameraRegistry::DestroyAll();
        media::CameraRegistry::SetEnvironmentForNewCameras(std::nullopt);
        pump.Stop();
        engine.reset();
        client.reset();
        service.reset();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }

    void Notify(const char* control, const char* type = ui::notify::kClick) {
        ui::CControlUI* sender = window->m_PaintManager.FindControl(control);
        ASSERT_NE(sender, nullptr) << control;
        window->m_PaintManager.SendNotify(sender, type);
    }
    template <typename T = ui::CControlUI>
    T* Control(const char* name) {
        return window->m_PaintManager.FindControl<T>(name);
    }
    playback::PlaybackPanel& Panel() { return *window->Playback(); }
    ui::CListUI* Records() { return Control<ui::CListUI>("lstRecordFile"); }
    ui::CSliderUI* Slider() { return Control<ui::CSliderUI>("sldPlayProc"); }
    std::string RowText(int row, const char* cell) {
        const ui::CListElementUI* item = Records()->GetItemAt(row);
        const ui::CListCellUI* found = item ? item->FindCell(cell) : nullptr;
        return found ? found->GetText() : "<absent>";
    }
    // The user picks the record mode and the camera, sets the window and searches.
    void Search(int mode, std::time_t from, std::time_t to) {
        auto* combo = Control<ui::CComboUI>("cbRecordMode");
        ASSERT_NE(combo, nullptr);
        combo->SelectItem(mode);
        window->m_PaintManager.SendNotify(combo, ui::notify::kItemSelect, mode);
        ui::CTreeList* tree = window->Trees().GetTree(ui::CCameraTrees::kPlayback);
        ui::TreeNode* node = tree->FindById(camera);
        ASSERT_NE(node, nullptr);
        ASSERT_TRUE(tree->BringIntoView(node));
        Control("ckSchTimeStart")->SetText(TimeText(from));
        Control("ckSchTimeStop")->SetText(TimeText(to));
        Notify("btnPBSearch");
    }
    // The picture the playback cell holds (its software surface), null when none.
    QImage CellPicture() {
        auto target = media::VideoTarget::Find(window->PlaybackWall()->CellWindow(0));
        return target ? testing_support::SurfacePicture(*target) : QImage();
    }
    bool CellShowsCamera() {
        const QImage shown = CellPicture();
        return !shown.isNull() && shown.width() == kWidth && testing_support::ShowsCamera(shown, camera);
    }
    // The recorded second of the picture in the cell, among `from`..`to`.
    std::time_t CellClock(const std::string& label, std::time_t from, std::time_t to) {
        return ShownClock(CellPicture(), sim::PictureText{camera, cameraName, {}, label, 0, 1}, from, to);
    }
    // The cell shows no more pictures: it stays as it is over `frames` frame times
    // after the command has had time to arrive.
    bool CellStill(int frames = 15) {
        PumpUntil([] { return false; }, 500);
        const QImage before = CellPicture();
        return !PumpUntil([&] { return CellPicture() != before; }, frames * 1000 / kRate);
    }
    std::int64_t LocalTimeOfName(const std::string& text) {
        const auto fields = playback::ReadListTime(text);
        return fields ? playback::SecondsOf(*fields).value_or(-1) : -1;
    }

    testing_support::TempDir dir;
    const std::string camera = kCamera;
    std::string cameraName;
    core::AppConfig config;
    std::unique_ptr<testing_support::SimulatedService> service;
    std::unique_ptr<ControlClient> client;
    session::ItemTable table;
    platform::WindowHandle notify = 0;
    core::WorkerPool pool{6};
    core::TaskDispatcher dispatcher;
    core::TaskPump pump{pool, dispatcher};
    session::ReconnectionTable reconnection;
    std::shared_ptr<playback::PlaybackEngine> engine = playback::MakeRewindEngine();
    std::string exportPath;
    mainwin::MainWinEnvironment env;
    std::unique_ptr<mainwin::CMainWin> window;
    std::vector<std::pair<std::string, std::string>> boxes;
};

}  // namespace

// Record a camera from the live wall's toolbar, find the file in the local search,
// play, pause, resume, seek and stop it in the playback cell, and export it to MP4.
TEST_F(PlaybackTabWithSim, RecordFindPlayPauseSeekStopAndExportALocalRecording) {
    // The camera plays in the live wall; its toolbar's record button records it.
    ui::CTreeList* liveTree = window->Trees().GetTree(ui::CCameraTrees::kLive);
    ui::TreeNode* node = liveTree->FindById(camera);
    ASSERT_NE(node, nullptr);
    window->m_PaintManager.SendNotify(node->Element(), "itemdbclick");
    wall::CVideoPanelMng& liveWall = *window->LiveWall();
    auto live = [] { return media::CameraRegistry::Instance().Find(0); };
    ASSERT_TRUE(PumpUntil([&] { return live() && live()->IsOpen() && liveWall.Cell(0)->Presents() > 2; }, 30000));
    liveWall.ShowToolbar(0);
    ASSERT_NE(liveWall.Toolbar(), nullptr);
    liveWall.Toolbar()->Click("btnRecord");
    ASSERT_TRUE(PumpUntil([&] { return live()->IsRecording(); }, 10000));

    // A dozen seconds of stream (a recording of nine seconds or less is not kept): the
    // working file's frames span that long.
    const std::string folder = dir.File("records/" + camera);
    auto recordedSpan = [&, lastRead = std::chrono::steady_clock::time_point()]() mutable {
        if (std::chrono::steady_clock::now() - lastRead < std::chrono::milliseconds(250)) return false;
        lastRead = std::chrono::steady_clock::now();
        const std::string bytes = testing_support::ReadWholeFile(folder + "/" + record::kWorkingFileName);
        std::uint32_t first = 0, last = 0;
        bool any = false;
        record::ScanFrameRecords(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                 [&](const record::FoundFrame& frame) {
                                     if (!any) first = frame.header.tick;
                                     any = true;
                                     last = frame.header.tick;
                                     return true;
                                 });
        return any && last - first >= 12000;
    };
    ASSERT_TRUE(PumpUntil(recordedSpan, 40000));
    liveWall.ShowToolbar(0);
    liveWall.Toolbar()->Click("btnRecord");
    ASSERT_TRUE(PumpUntil([&] { return !live()->IsRecording(); }, 10000));
    std::vector<std::string> files;
    ASSERT_TRUE(PumpUntil([&] {
        files.clear();
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().extension() == ".mvp") files.push_back(entry.path().string());
        return files.size() == 1;
    }, 5000));
    const std::string file = files[0];
    const std::string fileName = std::filesystem::path(file).filename().string();
    const auto named = record::ReadFinishedName(fileName);
    ASSERT_TRUE(named) << fileName;
    const std::int64_t start = *record::SecondsOfLocalTime(named->start);
    const std::int64_t end = *record::SecondsOfLocalTime(named->end);
    ASSERT_GE(end - start, 10);
    // The frames of the file, for the export's check.
    const std::string bytes = testing_support::ReadWholeFile(file);
    int frames = 0;
    std::uint32_t firstTick = 0, lastTick = 0;
    const std::size_t sound = record::ScanFrameRecords(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), [&](const record::FoundFrame& frame) {
            if (frames++ == 0) firstTick = frame.header.tick;
            lastTick = frame.header.tick;
            return true;
        });
    ASSERT_EQ(sound, bytes.size());

    // The playback tab: the local search of that camera lists the file with its times.
    Notify("playbackbtn");
    ASSERT_TRUE(window->PlaybackWall()->isVisible());
    Search(1, static_cast<std::time_t>(start - 60), static_cast<std::time_t>(end + 60));
    ASSERT_EQ(Panel().RecordMode(), playback::PlaybackPanel::kLocalMode);
    EXPECT_TRUE(boxes.empty()) << boxes.front().second;
    ASSERT_EQ(Records()->GetCount(), 1);
    EXPECT_EQ(Records()->GetItemAt(0)->GetName(), file);
    EXPECT_EQ(RowText(0, "lbStartTime"), playback::ListTimeText(start));
    EXPECT_EQ(RowText(0, "lbEndTime"), playback::ListTimeText(end));
    EXPECT_EQ(RowText(0, "ckSxtName"), cameraName);
    EXPECT_EQ(RowText(0, "lbTransIp"), "");

    // A double click plays it: the camera's pictures in the playback cell, the slider
    // over the file's period and moving with it.
    window->m_PaintManager.SendNotify(Records()->GetItemAt(0), ui::notify::kItemDbClick);
    const long handle = Panel().Handle();
    ASSERT_NE(handle, 0);
    EXPECT_EQ(Panel().ButtonState(), playback::PlaybackPanel::Buttons::kPlaying);
    EXPECT_EQ(Slider()->minimum(), start);
    EXPECT_EQ(Slider()->maximum(), end);
    ASSERT_TRUE(PumpUntil([&] { return CellShowsCamera(); }, 10000)) << "pictures in the playback cell";
    ASSERT_TRUE(PumpUntil([&] { return Slider()->GetValue() > start; }, 10000)) << "the slider follows";

    // Pause: no more pictures, the slider stays.
    Notify("btnPBPause");
    EXPECT_EQ(Panel().ButtonState(), playback::PlaybackPanel::Buttons::kPaused);
    EXPECT_TRUE(CellStill()) << "a picture came while paused";
    const int pausedAt = Slider()->GetValue();
    EXPECT_LT(pausedAt, end);

    // Play goes on with the same playback from where it stood.
    const QImage paused = CellPicture();
    Notify("btnPBPlay");
    EXPECT_EQ(Panel().ButtonState(), playback::PlaybackPanel::Buttons::kPlaying);
    EXPECT_EQ(Panel().Handle(), handle);
    ASSERT_TRUE(PumpUntil([&] { return CellPicture() != paused; }, 5000)) << "pictures again";
    EXPECT_GE(Slider()->GetValue(), pausedAt);

    // A seek through the slider into the middle (paused, so that the picture it brings
    // stays): the cell shows the camera's picture of that recorded second, clock and all.
    Notify("btnPBPause");
    ASSERT_TRUE(CellStill());
    // The user clicks the middle of the slider's groove: it goes there at once.
    const QImage before = CellPicture();
    QTest::mouseClick(Slider(), Qt::LeftButton, {}, Slider()->rect().center());
    const std::int64_t middle = Slider()->GetValue();
    EXPECT_LE(std::abs(middle - (start + end) / 2), 2) << "the click sets the time under it";
    ASSERT_TRUE(PumpUntil([&] { return CellPicture() != before; }, 5000)) << "the seek shows its picture";
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(CellShowsCamera());
    // The key frame at or before the target, as the file says.
    const std::vector<RecordedKey> keys = RecordedKeys(bytes, camera);
    ASSERT_GE(keys.size(), 10u) << "a key frame a second";
    std::time_t expected = keys.front().clock;
    for (const RecordedKey& key : keys)
        if (key.second <= middle) expected = key.clock;
    const std::time_t clock = CellClock("", expected - 15, expected + 15);
    std::printf("local seek to %s: the picture shows %s, the key frame recorded at or before it %s (%.2f, %.2f a "
                "second later)\n",
                TimeText(middle).c_str(), TimeText(clock).c_str(), TimeText(expected).c_str(),
                ClockDistance(CellPicture(), Live(camera), clock), ClockDistance(CellPicture(), Live(camera), clock + 1));
    EXPECT_LE(std::abs(clock - expected), 1) << "seek to " << TimeText(middle) << ": the picture shows "
                                             << TimeText(clock) << ", recorded then was " << TimeText(expected);
    EXPECT_LT(ClockDistance(CellPicture(), Live(camera), clock), 0.05) << "the clock reads as none of the seconds";
    // Played on from there, the slider runs from the target.
    Notify("btnPBPlay");
    ASSERT_TRUE(PumpUntil([&] { return Slider()->GetValue() > middle; }, 5000));
    EXPECT_LE(Slider()->GetValue(), middle + 4);

    // Stop: idle, the cell cleared, the slider at its start.
    Notify("btnPBStop");
    EXPECT_EQ(Panel().Handle(), 0);
    EXPECT_FALSE(Panel().Current());
    EXPECT_EQ(Panel().ButtonState(), playback::PlaybackPanel::Buttons::kIdle);
    EXPECT_EQ(Slider()->GetValue(), Slider()->minimum());
    EXPECT_TRUE(PumpUntil([&] { return CellPicture().isNull(); }, 2000)) << "the cell is cleared";
    EXPECT_TRUE(CellStill()) << "nothing plays on";

    // The row's export: an MP4 with every frame of the recording, each decoding, as
    // long as the recording within a frame.
    exportPath = dir.File("export.mp4");
    Panel().ExportRow(0);
    ASSERT_TRUE(Panel().Exporting());
    ASSERT_TRUE(PumpUntil([&] { return !Panel().Exporting(); }, 60000));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, playback::PlaybackPanel::kExportDoneText);
    EXPECT_EQ(boxes[0].second, exportPath);
    const testing_support::Mp4Facts mp4 = testing_support::ReadMp4(exportPath);
    ASSERT_EQ(mp4.streams, 1);
    EXPECT_EQ(mp4.width, kWidth);
    EXPECT_EQ(mp4.height, kHeight);
    EXPECT_EQ(mp4.packets, frames);
    EXPECT_EQ(mp4.decoded, frames) << "every frame decodes";
    EXPECT_EQ(mp4.decodeErrors, 0);
    const double frameSeconds = 1.0 / kRate;
    const double recorded = (lastTick - firstTick) / 1000.0 + frameSeconds;  // the last frame lasts one frame
    EXPECT_NEAR(mp4.duration, recorded, frameSeconds + 0.001);
}

// The service's recordings of the camera: the search lists them and the first plays at
// once; a seek there shows the recorded second asked for; Stop ends the stream.
TEST_F(PlaybackTabWithSim, RemoteSearchPlaysTheFirstRecordingAndSeeksIntoIt) {
    Notify("playbackbtn");
    const std::time_t now = std::time(nullptr);
    Search(0, now - 4 * 24 * 3600, now);
    ASSERT_EQ(Panel().RecordMode(), playback::PlaybackPanel::kRemoteMode);
    ASSERT_TRUE(PumpUntil([&] { return Records()->GetCount() > 0; }, 15000));
    EXPECT_TRUE(boxes.empty());
    const std::string first = Records()->GetItemAt(0)->GetName();
    const std::time_t firstStart = LocalTime(RowText(0, "lbStartTime"));
    const std::time_t firstEnd = LocalTime(RowText(0, "lbEndTime"));
    ASSERT_GT(firstEnd, firstStart + 60) << first;
    EXPECT_EQ(first, RowText(0, "lbStartTime") + "~" + RowText(0, "lbEndTime"));
    EXPECT_EQ(RowText(0, "lbTransIp"), "127.0.0.1");
    EXPECT_EQ(RowText(0, "ckSxtName"), cameraName);

    // The first starts by itself (1032 answered with result 1): pictures of the camera
    // from the recording's start.
    ASSERT_TRUE(PumpUntil([&] { return Panel().Current().has_value(); }, 15000)) << "the first recording starts";
    EXPECT_EQ(Panel().Current()->key, first);
    EXPECT_EQ(Panel().Current()->result, 1);
    EXPECT_EQ(Panel().ButtonState(), playback::PlaybackPanel::Buttons::kPlaying);
    EXPECT_EQ(Slider()->minimum(), firstStart);
    EXPECT_EQ(Slider()->maximum(), firstEnd);
    ASSERT_TRUE(PumpUntil([&] { return CellShowsCamera(); }, 15000)) << "pictures in the playback cell";
    EXPECT_LE(std::abs(CellClock("回放", firstStart - 2, firstStart + 30) - firstStart), 10);

    // Paused, the slider moved into the middle (the seek is sent, space padded), and
    // resumed: the first new picture is the service's picture of that recorded second.
    Notify("btnPBPause");
    EXPECT_EQ(Panel().ButtonState(), playback::PlaybackPanel::Buttons::kPaused);
    ASSERT_TRUE(CellStill()) << "a picture came while paused";
    const std::time_t middle = firstStart + (firstEnd - firstStart) / 2;
    const QImage before = CellPicture();
    Slider()->SetValue(static_cast<int>(middle));
    ASSERT_EQ(Panel().SliderFollow().Pending(), middle);
    Notify("btnPBPlay");
    EXPECT_EQ(Panel().ButtonState(), playback::PlaybackPanel::Buttons::kPlaying);
    ASSERT_TRUE(PumpUntil([&] { return CellPicture() != before; }, 10000)) << "pictures after the seek";
    const std::time_t clock = CellClock("回放", middle - 30, middle + 30);
    std::printf("remote seek to %s: the first picture after it shows %s\n", TimeText(middle).c_str(),
                TimeText(clock).c_str());
    EXPECT_LE(std::abs(clock - middle), 1) << "seek to " << TimeText(middle) << ", the picture shows " << TimeText(clock);
    EXPECT_TRUE(CellShowsCamera());
    // The slider follows the stream again once the progress reached the target.
    ASSERT_TRUE(PumpUntil([&] { return !Panel().SliderFollow().Pending() && Slider()->GetValue() >= middle; }, 10000));
    EXPECT_LE(Slider()->GetValue(), middle + 5);

    // Stop: idle, the stream ends on the service, the cell is free.
    Notify("btnPBStop");
    EXPECT_FALSE(Panel().Current());
    EXPECT_EQ(Panel().ButtonState(), playback::PlaybackPanel::Buttons::kIdle);
    EXPECT_EQ(Slider()->GetValue(), Slider()->minimum());
    ASSERT_TRUE(PumpUntil([&] { return service->Service().Forwarding().ActiveLinks(camera) == 0; }, 10000));
    EXPECT_TRUE(PumpUntil([&] { return !media::CameraRegistry::Instance().Find(core::kPlaybackCellKey); }, 5000))
        << "the playback's camera is gone";
    EXPECT_TRUE(PumpUntil([&] { return CellPicture().isNull(); }, 5000)) << "the cell is cleared";
    EXPECT_TRUE(CellStill()) << "nothing plays on";
}
