// A camera end to end: a forwarding server streaming H.264, the camera's link, queue,
// stages and play thread, and an offscreen video window; plus the registry.
#include <gtest/gtest.h>

#include <QImage>
#include <fstream>
#include <future>
#include <thread>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "session/app_instance.h"
#include "core/message_ids.h"
#include "session/camera_hooks.h"
#include "core/log_file.h"
#include "app/program_wiring.h"
#include "media/camera_registry.h"
#include "media/memory_return.h"
#include "media/decoder_stage.h"
#include "ui/toolkit/ui_executor.h"
#include "media/video_output_widget.h"
#include "media/yuv_convert.h"
#include "media_test_support.h"
#include "platform/paths.h"
#include "transport/fake_forwarding_server.h"

using namespace media;
using testing_support::FakeForwardingServer;

namespace {

struct Posted {
    std::uint32_t id;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::string text;
};

// Collects posted messages, from any thread.
class Mailbox {
public:
    bool Post(platform::Message message) {
        Posted posted{message.id, message.wParam, message.lParam, {}};
        if (auto* text = platform::PayloadAs<std::string>(message)) posted.text = *text;
        if (auto* notice = platform::PayloadAs<core::ForwardingAddressNotice>(message))
            posted.text = notice->cameraId + "@" + notice->ip + ":" + std::to_string(notice->port);
        if (auto* notice = platform::PayloadAs<core::ReplayPositionNotice>(message)) posted.text = notice->text;
        std::lock_guard lock(mutex_);
        messages_.push_back(posted);
        return true;
    }
    std::vector<Posted> All() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    int Count(std::uint32_t id) {
        int n = 0;
        for (const auto& m : All()) n += m.id == id;
        return n;
    }

private:
    std::mutex mutex_;
    std::vector<Posted> messages_;
};

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        std::ofstream(dir.File("waiting.bmp"), std::ios::binary) << testing_support::ReadWholeFile(MEDIA_WAITING_BMP);
        ForgetWaitingPicture();
        CameraEnvironment environment;
        environment.postToMainWindow = [this](platform::Message m) { return mainWindow.Post(std::move(m)); };
        environment.postToTaskThread = [this](platform::Message m) { return tasks.Post(std::move(m)); };
        environment.addresses = [this](const std::string& id) { return AddressFor(id); };
        environment.linkTiming.replyTimeoutMs = 2000;
        environment.linkTiming.connectTimeoutMs = 2000;
        environment.displayTiming = displayTiming;
        Adjust(environment);
        CameraRegistry::SetEnvironmentForNewCameras(environment);
        server.SetScript([this](const control::ControlMessage& m) -> std::vector<std::string> {
            if (m.msgType == 1) return {FakeForwardingServer::Reply(1, {{"result", openResult}})};
            return {};
        });
        widget.resize(352, 288);
        widget.show();
        notifyWindow = platform::CreateWindowHandle(
            [this](platform::Message& m) -> std::intptr_t {
                notices.Post(std::move(m));
                return 0;
            },
            ui::UiExecutor());
    }
    void TearDown() override {
        CameraRegistry::DestroyAll();
        CameraRegistry::SetEnvironmentForNewCameras(std::nullopt);
        platform::DestroyWindowHandle(notifyWindow);
        ForgetWaitingPicture();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }
    virtual void Adjust(CameraEnvironment&) {}
    virtual control::TransportAddress AddressFor(const std::string&) { return {}; }

    std::shared_ptr<CCamera> OpenCamera(int cell = 2, const std::string& id = "1001") {
        auto camera = CameraRegistry::Instance().GetOrCreate(cell);
        EXPECT_EQ(camera->Open(id, "127.0.0.1", server.Port(), widget.Handle(), "pw"), 1);
        return camera;
    }
    void Stream(const media_testing::Clip& clip, std::uint32_t announcedWidth = 0, std::uint32_t announcedHeight = 0,
                std::uint32_t firstTimestamp = 1000) {
        const std::uint32_t w = announcedWidth ? announcedWidth : clip.width;
        const std::uint32_t h = announcedHeight ? announcedHeight : clip.height;
        for (std::size_t i = 0; i < clip.units.size(); ++i)
            server.PushAll(media_testing::CompactFrame(w, h, 25, firstTimestamp + static_cast<std::uint32_t>(i) * 40, clip.units[i]));
    }
    // True once the window's surface shows `picture` (I420) within one step.
    bool SurfaceShows(const std::uint8_t* picture, int width, int height) {
        auto surface = widget.Target()->Current();
        if (!surface || surface->Width() != width || surface->Height() != height || surface->Type() != kSurfacePlain)
            return false;
        std::lock_guard lock(surface->Mutex());
        return media_testing::MaxBgrDifference(surface->Bits(), surface->Pitch(), picture, width, height) <= 1;
    }
    std::string Log() {
        core::LogFile::Destroy();
        return dir.Read("appLogs/Manage.log");
    }

    testing_support::TempDir dir;
    DisplayTiming displayTiming{10, 60000};
    Mailbox mainWindow, tasks, notices;
    FakeForwardingServer server;
    std::string openResult = "1";
    VideoOutputWidget widget;
    platform::WindowHandle notifyWindow = 0;
};

}  // namespace

TEST_F(CameraTest, OpenShowsTheWaitingPictureThenTheDecodedPictures) {
    if (widget.UsesGpu()) GTEST_SKIP() << "pixels are compared on the software surface";
    const auto& clip = media_testing::ClipOf(352, 288, 25);
    ASSERT_EQ(clip.ReferenceCount(), 25u);
    auto camera = OpenCamera();
    EXPECT_TRUE(camera->IsOpen());
    EXPECT_EQ(camera->CameraId(), "1001");
    EXPECT_EQ(camera->StageCount(), 3u);
    EXPECT_TRUE(camera->PlayThreadRunning());

    // Before any picture: the waiting picture.
    auto waiting = LoadWaitingPicture();
    ASSERT_TRUE(waiting);
    std::vector<std::uint8_t> waitingI420(waiting->size());
    std::copy_n(waiting->data(), 352 * 288, waitingI420.begin());
    std::copy_n(waiting->data() + 352 * 288 * 5 / 4, 176 * 144, waitingI420.begin() + 352 * 288);
    std::copy_n(waiting->data() + 352 * 288, 176 * 144, waitingI420.begin() + 352 * 288 * 5 / 4);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return SurfaceShows(waitingI420.data(), 352, 288); }, 5000));

    Stream(clip);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return SurfaceShows(clip.ReferencePicture(24), 352, 288); }, 15000))
        << "the last picture of the clip reaches the surface";
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.Presents() > 2; }, 2000));
    media_testing::PumpUntil([] { return false; }, 50);
    const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_LE(media_testing::MaxBgrDifference(shown.constBits(), static_cast<int>(shown.bytesPerLine()),
                                              clip.ReferencePicture(24), 352, 288), 1);
    EXPECT_EQ(tasks.Count(core::kTaskCloseCell), 0);
    EXPECT_NE(Log().find("127.0.0.1:" + std::to_string(server.Port()) + "连接转发成功！"), std::string::npos);
}

TEST_F(CameraTest, StreamLargerThanAnnouncedIsShownAtItsRealSize) {
    if (widget.UsesGpu()) GTEST_SKIP() << "pixels are compared on the software surface";
    const auto& clip = media_testing::ClipOf(704, 576, 10);
    widget.resize(704, 576);  // the whole picture on the surface, to compare it
    auto camera = OpenCamera();
    Stream(clip, 352, 288);
    EXPECT_TRUE(media_testing::PumpUntil([&] { return SurfaceShows(clip.ReferencePicture(9), 704, 576); }, 15000));
}

TEST_F(CameraTest, CloseTwiceSecondChangesNothing) {
    auto camera = OpenCamera();
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.Target()->Current() != nullptr; }, 5000));
    EXPECT_TRUE(camera->Close());
    EXPECT_FALSE(camera->IsOpen());
    EXPECT_EQ(camera->StageCount(), 0u);
    EXPECT_FALSE(camera->PlayThreadRunning());
    EXPECT_FALSE(camera->Link().IsConnected());
    EXPECT_EQ(camera->DisplayWindow(), 0u);
    EXPECT_EQ(widget.Target()->Current(), nullptr) << "the window is erased";
    const auto before = mainWindow.All().size();
    EXPECT_TRUE(camera->Close());
    EXPECT_EQ(mainWindow.All().size(), before);
    EXPECT_FALSE(camera->IsOpen());
}

// A Close on another thread (a logout) while an Open waits for the server's reply
// ends that Open at once: it reports the close, and no play thread, stage or link is
// left behind, also when the reply comes late. Open and Close racing on a prompt
// server always leave a consistent camera: playing with its stages, or closed.
TEST_F(CameraTest, CloseDuringAPendingOpenLeavesNothingRunning) {
    std::promise<void> asked;
    std::atomic<bool> askedOnce{false}, answer{false};
    server.SetScript([&](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType != 1) return {};
        if (!answer) {
            if (!askedOnce.exchange(true)) asked.set_value();
            return {};
        }
        return {FakeForwardingServer::Reply(1, {{"result", "1"}})};
    });
    auto camera = CameraRegistry::Instance().GetOrCreate(3);
    auto open = std::async(std::launch::async,
                           [&] { return camera->Open("1001", "127.0.0.1", server.Port(), widget.Handle(), "pw"); });
    ASSERT_EQ(asked.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto start = std::chrono::steady_clock::now();
    camera->Close();
    ASSERT_EQ(open.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500))
        << "neither waits for the reply time-out";
    EXPECT_EQ(open.get(), CCamera::kClosedWhileOpening) << "not a failure worth reconnecting";
    EXPECT_FALSE(camera->IsOpen());
    EXPECT_FALSE(camera->PlayThreadRunning());
    EXPECT_EQ(camera->StageCount(), 0u);
    EXPECT_FALSE(camera->Link().IsConnected());

    answer = true;
    for (int round = 0; round < 40; ++round) {
        auto racing = std::async(std::launch::async,
                                 [&] { return camera->Open("1001", "127.0.0.1", server.Port(), widget.Handle(), "pw"); });
        if (round % 2) std::this_thread::sleep_for(std::chrono::microseconds(200 * (round % 7)));
        camera->Close();
        const int result = racing.get();
        EXPECT_TRUE(result == 1 || result == CCamera::kClosedWhileOpening) << result;
        EXPECT_EQ(camera->PlayThreadRunning(), camera->IsOpen()) << "round " << round;
        EXPECT_EQ(camera->StageCount(), camera->IsOpen() ? 3u : 0u) << "round " << round;
        camera->Close();
        ASSERT_FALSE(camera->PlayThreadRunning()) << "round " << round;
    }
}

namespace {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr bool kGlibcHeap = true;
#else
constexpr bool kGlibcHeap = false;  // sanitizers keep freed memory on purpose
#endif

double ResidentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double HeapInUseMegabytes() {
#if defined(__GLIBC__)
    return static_cast<double>(mallinfo2().uordblks) / 1048576.0;
#else
    return 0;
#endif
}
}  // namespace

// Opening and closing a wall of cameras again and again ("全部打开", "全部关闭"): each
// close frees the stream's memory (nothing stays allocated per cycle) and the process
// gives it back to the system, so it does not stay at its size with every camera
// playing nor grow from cycle to cycle.
TEST_F(CameraTest, OpenCloseCyclesGiveTheMemoryBack) {
    if (!kGlibcHeap) GTEST_SKIP() << "measures the C library's heap";
    constexpr int kCameras = 8;
    const auto& clip = media_testing::ClipOf(704, 576, 10);
    ASSERT_EQ(clip.ReferenceCount(), 10u);
    std::vector<std::unique_ptr<VideoOutputWidget>> cells;
    for (int i = 0; i < kCameras; ++i) {
        cells.push_back(std::make_unique<VideoOutputWidget>());
        cells.back()->resize(352, 288);
        cells.back()->show();
    }
    MapLargeStreamBuffers();  // as the program does at start-up
    FreedMemoryReturn::Instance().Request();
    auto settled = [](std::uint64_t returns) {
        return media_testing::PumpUntil([&] { return FreedMemoryReturn::Instance().Returns() > returns; }, 5000);
    };
    ASSERT_TRUE(settled(0));
    const double rssBefore = ResidentMegabytes();
    const double heapBefore = HeapInUseMegabytes();
    std::vector<double> rssClosed;
    double rssOpenFirst = 0;
    for (int cycle = 0; cycle < 4; ++cycle) {
        std::vector<std::shared_ptr<CCamera>> cameras;
        std::vector<int> shown;
        for (int i = 0; i < kCameras; ++i) {
            cameras.push_back(CameraRegistry::Instance().GetOrCreate(i));
            ASSERT_EQ(cameras.back()->Open(std::to_string(2000 + i), "127.0.0.1", server.Port(), cells[i]->Handle(), "pw"), 1);
            shown.push_back(cells[i]->CameraPresents());
        }
        Stream(clip);
        ASSERT_TRUE(media_testing::PumpUntil(
            [&] {
                for (int i = 0; i < kCameras; ++i)
                    if (cells[i]->CameraPresents() <= shown[i]) return false;
                return true;
            },
            15000));
        const double rssOpen = ResidentMegabytes();
        if (cycle == 0) rssOpenFirst = rssOpen;
        const std::uint64_t returns = FreedMemoryReturn::Instance().Returns();
        for (auto& camera : cameras) camera->Close();
        EXPECT_TRUE(settled(returns)) << "the closes ask for the memory to go back, once they are over";
        EXPECT_LT(HeapInUseMegabytes() - heapBefore, 3.0) << "cycle " << cycle << ": memory still allocated";
        rssClosed.push_back(ResidentMegabytes());
        EXPECT_LT(rssClosed.back() - rssBefore, 0.5 * (rssOpen - rssBefore))
            << "cycle " << cycle << ": " << rssBefore << " MB before, " << rssOpen << " MB open, " << rssClosed.back()
            << " MB closed";
    }
    const double workingSet = rssOpenFirst - rssBefore;
    EXPECT_LT(rssClosed.back() - rssClosed.front(), 0.35 * workingSet) << "grows with every cycle";
}

TEST_F(CameraTest, CloseEndsRecordingTalkbackAndListeningInThatOrder) {
    auto camera = OpenCamera(5);
    camera->SetRecording(true);
    camera->SetTalking(true);
    camera->SetListening(true);
    camera->Close();
    const auto posted = mainWindow.All();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].id, 1054u);
    EXPECT_EQ(posted[0].lParam, 1);
    EXPECT_EQ(posted[0].text, "1001");
    EXPECT_EQ(posted[1].id, 1058u);
    EXPECT_EQ(posted[1].lParam, 0);
    EXPECT_EQ(posted[1].text, "1001");
    EXPECT_EQ(posted[2].id, 1004u);
    EXPECT_EQ(posted[2].lParam, 1);
    EXPECT_EQ(posted[2].text, "1001");
    EXPECT_FALSE(camera->IsRecording() || camera->IsTalking() || camera->IsListening());
    EXPECT_TRUE(media_testing::PumpUntil([&] { return server.Count(1004) == 1; }, 2000)) << "listening is switched off";
    camera->Close();
    EXPECT_EQ(mainWindow.All().size(), 3u);
}

TEST_F(CameraTest, OpenWithAnEmptyIdFailsWithMinus7AndLeavesNoStages) {
    auto camera = CameraRegistry::Instance().GetOrCreate(1);
    EXPECT_EQ(camera->Open("", "127.0.0.1", server.Port(), widget.Handle(), "pw"), -7);
    EXPECT_EQ(camera->StageCount(), 0u);
    EXPECT_FALSE(camera->PlayThreadRunning());
    EXPECT_FALSE(camera->IsOpen());
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_NE(Log().find("127.0.0.1：" + std::to_string(server.Port()) + "连接转发失败,返回值:-7,sSxtId:0!"),
              std::string::npos);
}

TEST_F(CameraTest, StageFailureGivesMinus3WithItsLogLineAndNoStages) {
    auto camera = CameraRegistry::Instance().GetOrCreate(1);
    EXPECT_EQ(camera->Open("1001", "127.0.0.1", server.Port(), 0, "pw"), -3);
    EXPECT_EQ(camera->StageCount(), 0u);
    EXPECT_EQ(server.Connections(), 0) << "the link is not opened";
    EXPECT_NE(Log().find("1001混合器创建失败!"), std::string::npos);
}

TEST_F(CameraTest, ServerRefusalIsReturnedAndLogged) {
    openResult = "-2";
    auto camera = CameraRegistry::Instance().GetOrCreate(1);
    EXPECT_EQ(camera->Open("1001", "127.0.0.1", server.Port(), widget.Handle(), "pw"), -2);
    EXPECT_EQ(camera->StageCount(), 0u);
    EXPECT_FALSE(camera->IsOpen());
    EXPECT_NE(Log().find("连接转发失败,返回值:-2,sSxtId:1001!"), std::string::npos);
}

TEST_F(CameraTest, CommandsGoOutOnlyWhileConnected) {
    auto camera = CameraRegistry::Instance().GetOrCreate(1);
    camera->Pause();
    camera->Resume();
    camera->Seek("2014-05-06 08:00:00");
    camera->PanTilt(1);
    EXPECT_EQ(server.Connections(), 0);
    camera->Pause();
    EXPECT_TRUE(camera->IsPaused());

    OpenCamera(1);
    EXPECT_FALSE(camera->IsPaused()) << "a new stream plays";
    camera->Pause();
    camera->Resume();
    camera->Seek("2014-05-06 08:00:00");
    camera->PanTilt(3);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return server.Count(8) == 1; }, 2000));
    std::vector<int> types;
    for (const auto& m : server.Received()) {
        if (m.msgType == 0) continue;  // heartbeats
        types.push_back(m.msgType);
        if (m.msgType == 4) {
            EXPECT_EQ(m.Param("jumptime"), "2014-05-06 08:00:00");
        }
        if (m.msgType == 8) {
            EXPECT_EQ(m.Param("active"), "3");
            EXPECT_EQ(m.Param("speed"), "3");
        }
    }
    EXPECT_EQ(types, (std::vector<int>{1, 5, 6, 4, 8}));
}

TEST_F(CameraTest, ReplayModeReportsEachPictureTimeToTheNotifyWindow) {
    const auto& clip = media_testing::ClipOf(352, 288, 5);
    auto camera = OpenCamera(7);
    camera->SetReplayMode(true);
    camera->SetNotifyWindow(notifyWindow);
    Stream(clip, 0, 0, 1400000000);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return notices.Count(core::kReplayPosition) >= 5; }, 10000));
    const auto all = notices.All();
    EXPECT_EQ(all.front().text, ReplayTimeText(1400000000));
}

TEST_F(CameraTest, ReplayStopClosesTheCameraRemovesItsCellAndTellsTheNotifyWindow) {
    auto camera = OpenCamera(4);
    camera->SetReplayMode(true);
    camera->SetNotifyWindow(notifyWindow);
    std::weak_ptr<CCamera> watch = camera;
    camera.reset();
    server.PushAll(FakeForwardingServer::Reply(7, {}));
    ASSERT_TRUE(media_testing::PumpUntil([&] { return notices.Count(core::kReplayEnded) == 1; }, 5000));
    EXPECT_EQ(notices.All()[0].wParam, 4u);
    EXPECT_EQ(CameraRegistry::Instance().Count(), 0u);
    EXPECT_TRUE(media_testing::PumpUntil([&] { return watch.expired(); }, 5000)) << "released away from the link's thread";
}

// A live camera's "stop" is no end: the task threads are asked to end the stream and
// reconnect the cell; the camera itself stays open in its cell until that task runs.
TEST_F(CameraTest, LiveStopAsksTheTaskThreadsToReconnectTheCell) {
    auto camera = OpenCamera(4, "1001");
    camera->SetNotifyWindow(notifyWindow);
    server.PushAll(FakeForwardingServer::Reply(7, {}));
    ASSERT_TRUE(media_testing::PumpUntil([&] { return tasks.Count(core::kTaskLiveStreamStopped) == 1; }, 5000));
    const auto posted = tasks.All();
    EXPECT_EQ(posted.back().wParam, 4u);
    EXPECT_EQ(posted.back().text, "1001");
    media_testing::PumpUntil([] { return false; }, 100);
    EXPECT_EQ(notices.Count(core::kReplayEnded), 0);
    EXPECT_TRUE(camera->IsOpen());
    EXPECT_EQ(CameraRegistry::Instance().Find(4), camera);

    // What that task does: the stream ends, the cell keeps its window for the reopen.
    camera->EndStreamKeepingCell();
    EXPECT_FALSE(camera->IsOpen());
    EXPECT_FALSE(camera->PlayThreadRunning());
    EXPECT_EQ(camera->DisplayWindow(), widget.Handle());
}

TEST_F(CameraTest, LostConnectionTellsTheMainWindowReconnecting) {
    auto server2 = std::make_unique<FakeForwardingServer>();
    server2->SetScript([](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType == 1) return {FakeForwardingServer::Reply(1, {{"result", "1"}})};
        return {};
    });
    auto camera = CameraRegistry::Instance().GetOrCreate(6);
    ASSERT_EQ(camera->Open("1001", "127.0.0.1", server2->Port(), widget.Handle(), "pw"), 1);
    server2.reset();
    ASSERT_TRUE(media_testing::PumpUntil([&] { return mainWindow.Count(core::kAppNotify) == 1; }, 5000));
    const auto posted = mainWindow.All();
    EXPECT_EQ(posted[0].wParam, 6u);
    EXPECT_EQ(posted[0].lParam, -6);
    EXPECT_TRUE(camera->IsOpen()) << "the link's supervision recovers it";
}

namespace {

class ShortLimits : public CameraTest {
protected:
    void Adjust(CameraEnvironment& environment) override {
        environment.displayTiming = DisplayTiming{5, 300};
        environment.linkTiming.superviseWakeMs = 50;
        environment.linkTiming.silenceMs = 400;
    }
    control::TransportAddress AddressFor(const std::string&) override {
        control::TransportAddress address;
        address.status = 1;
        address.forwardingIp = "127.0.0.1";
        address.forwardingPort = std::to_string(server.Port());
        return address;
    }
};

}  // namespace

TEST_F(ShortLimits, CameraWithoutPicturesAsksOnceToBeClosed) {
    auto camera = OpenCamera(9);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return tasks.Count(core::kTaskCloseCell) == 1; }, 5000));
    media_testing::PumpUntil([] { return false; }, 400);
    const auto posted = tasks.All();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].wParam, 9u);
    EXPECT_EQ(posted[0].lParam, 1);
}

TEST_F(ShortLimits, SilentLinkReportsTheForwardingAddressAnew) {
    auto camera = OpenCamera(3, "2002");
    ASSERT_TRUE(media_testing::PumpUntil([&] { return mainWindow.Count(core::kForwardingAddressFetched) >= 1; }, 5000));
    for (const auto& m : mainWindow.All())
        if (m.id == core::kForwardingAddressFetched) {
            EXPECT_EQ(m.text, "2002@127.0.0.1:" + std::to_string(server.Port()));
        }
}

TEST_F(CameraTest, RegistryFindsCamerasByCellAndId) {
    CameraRegistry& registry = CameraRegistry::Instance();
    auto a = registry.GetOrCreate(3);
    EXPECT_EQ(registry.GetOrCreate(3), a);
    EXPECT_EQ(a->CellIndex(), 3);
    EXPECT_EQ(registry.FindById("1001"), nullptr);
    OpenCamera(3);
    EXPECT_EQ(registry.FindById("1001"), a);

    auto b = registry.GetOrCreate(8);
    registry.Assign(1, b);
    EXPECT_EQ(b->CellIndex(), 1) << "the swap gives the camera its new cell";
    EXPECT_EQ(registry.GetOrCreate(1), b);
    EXPECT_FALSE(registry.RemoveIf(3, b.get()));
    registry.Remove(3);
    EXPECT_EQ(registry.FindById("1001"), nullptr);
    EXPECT_EQ(registry.Count(), 2u);

    registry.Assign(3, a);
    CameraRegistry::DestroyAll();
    EXPECT_FALSE(CameraRegistry::Exists());
    EXPECT_FALSE(a->IsOpen()) << "DestroyAll closes every camera";
    EXPECT_EQ(CameraRegistry::Instance().Count(), 0u);
}

TEST_F(CameraTest, ApplicationHooksReachTheRegistry) {
    app::InstallProgramWiring();
    const session::CameraHooks hooks = session::InstalledCameraHooks();
    ASSERT_TRUE(hooks.createRegistry && hooks.isLive && hooks.destroyAll);
    CameraRegistry::DestroyAll();
    hooks.createRegistry();
    EXPECT_TRUE(CameraRegistry::Exists());
    auto camera = OpenCamera(2, "3003");
    EXPECT_TRUE(hooks.isLive("3003"));
    EXPECT_FALSE(hooks.isLive("3004"));

    session::CAppInteance::Instance();
    session::CAppInteance::Destroy();  // its first step closes every camera
    EXPECT_FALSE(camera->IsOpen());
    EXPECT_FALSE(hooks.isLive("3003"));
    session::InstallCameraHooks({});
}

// A camera's operations take turns: one at a time, in the order asked for, each on the
// thread that asked; an operation within an operation runs at once; work handed over by
// a link's thread waits for its turn, and the last holder of the camera that it drops
// is released on the sequence, not on the thread that handed it over.
TEST(CameraSequenceTest, OperationsTakeTurnsAndHandedOverWorkReleasesOnTheSequence) {
    auto sequence = std::make_unique<CameraSequence>();
    std::mutex mutex;
    std::vector<std::string> order;
    auto note = [&](const std::string& what) {
        std::lock_guard lock(mutex);
        order.push_back(what);
    };
    std::promise<void> entered, proceed;
    auto first = std::async(std::launch::async, [&] {
        sequence->Run([&] {
            entered.set_value();
            proceed.get_future().wait();
            note("first");
        });
    });
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    struct Held {
        std::thread::id* releasedOn;
        ~Held() { *releasedOn = std::this_thread::get_id(); }
    };
    std::thread::id releasedOn;
    std::shared_ptr<Held> held(new Held{&releasedOn});
    ASSERT_TRUE(sequence->Post([&, held] { note(sequence->InSequence() ? "posted" : "posted outside"); }));
    held.reset();  // the posted work holds it now
    EXPECT_FALSE(sequence->InSequence());
    proceed.set_value();
    auto last = std::async(std::launch::async, [&] {
        return sequence->Run([&] { return sequence->Run([] { return 7; }) * 6; });  // nested: at once
    });
    ASSERT_EQ(last.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "a nested operation waits for itself";
    EXPECT_EQ(last.get(), 42);
    first.get();
    EXPECT_EQ(order, (std::vector<std::string>{"first", "posted"}));
    EXPECT_NE(releasedOn, std::thread::id());
    EXPECT_NE(releasedOn, std::this_thread::get_id());
    sequence.reset();
}
