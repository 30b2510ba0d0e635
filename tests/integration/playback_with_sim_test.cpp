// Remote playback end to end against the simulated service, through the task handlers
// of the search (1047), the start (1032) and the commands (1033): the recordings of a
// camera are found, the first plays in the playback cell with the recorded time in its
// picture and in the progress reports, and pause, resume, seek, stop and the end of the
// recording do what the playback panel relies on.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

#include "control/control_client.h"
#include "core/log_file.h"
#include "core/message_ids.h"
#include "integration/sim_fixture.h"
#include "media/camera_registry.h"
#include "media/video_target.h"
#include "platform/paths.h"
#include "sim/camera_picture.h"
#include "support/pump_events.h"
#include "tasks/playback_tasks.h"
#include "ui/toolkit/ui_executor.h"
#include "wall/video_panel_mng.h"

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

// The picture a display surface holds (the software surface: blue, green, red, unused).
QImage SurfacePicture(const media::VideoTarget& target) {
    auto surface = target.Current();
    if (!surface || !surface->Bits() || surface->Type() != media::kSurfacePlain) return {};
    std::lock_guard lock(surface->Mutex());
    QImage image(surface->Bits(), surface->Width(), surface->Height(), surface->Pitch(), QImage::Format_RGB32);
    return image.copy();
}

// How far the clock of `shown` is from the one in the service's picture of the
// recording at `when`: the share of the clock band's pixels that are text (white) in
// one picture and not in the other, per text pixel of the reference.
double ClockDistance(const QImage& shown, const std::string& name, std::time_t when) {
    QImage reference(shown.size(), QImage::Format_RGB32);
    sim::PictureText text{kCamera, name, TimeText(when), "回放", 0, 1};
    sim::DrawCameraPicture(reference, text, sim::SceneView{});
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

// The recorded second whose picture the shown one is, among `from`..`to`.
std::time_t ShownClock(const QImage& shown, const std::string& name, std::time_t from, std::time_t to) {
    std::time_t best = -1;
    double bestDistance = 1e18;
    for (std::time_t t = from; t <= to; ++t)
        if (const double d = ClockDistance(shown, name, t); d < bestDistance) bestDistance = d, best = t;
    return best;
}

class PlaybackWithSim : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        service = std::make_unique<testing_support::SimulatedService>(
            20, [](sim::SimConfig& config) { config.clipSeconds = 2; });
        core::AppConfig config;
        service->PointAt(config, "demo", "larkview");
        ControlClient::Timing timing;
        timing.keepAliveWakeMs = 50;
        timing.requestTimeoutMs = 5000;
        client = std::make_unique<ControlClient>(timing, config);
        ASSERT_EQ(client->Connect(), 0);
        ASSERT_EQ(client->Login(), 1);
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
    const QImage shown = SurfacePicture(*target);
    ASSERT_FALSE(shown.isNull());
    ASSERT_EQ(shown.width(), kWidth);
    const std::time_t clock = ShownClock(shown, name, middle - 5, middle + 5);
    std::printf("seek to %s: the picture shows %s, the last report %s; clock distance %.2f, %.2f a second off, "
                "%.2f at the recording's start\n",
                TimeText(middle).c_str(), TimeText(clock).c_str(), TimeText(LastPosition()).c_str(),
                ClockDistance(shown, name, clock), ClockDistance(shown, name, clock + 1),
                ClockDistance(shown, name, firstStart));
    EXPECT_LE(std::abs(clock - middle), 1) << "the drawn clock is the recorded time";
    EXPECT_LE(std::abs(clock - LastPosition()), 1) << "the report is the time of the picture shown";
    // A clock that is the recorded time matches to a few edge pixels (one wrong digit
    // leaves about a tenth of the text apart).
    EXPECT_LT(ClockDistance(shown, name, clock), 0.05) << "the picture's clock is none of the seconds around the seek";

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
