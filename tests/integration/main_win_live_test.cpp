// The main window against the simulated service: its camera tree opens cameras into
// its live wall, the pan-tilt-zoom buttons steer the selected camera, listening and
// talkback without sound devices say so, "全部打开" leaves no cell empty without a
// word and "全部关闭" leaves nothing behind, the wall comes back at the next login,
// pushed alarms reach the alarm tab, and sixteen cells each show their own camera.
// Pictures of the window (4 and 16 live cells, the alarm tab) go to
// $LARKVIEW_SCREENSHOTS when set.
#include "support/cell_picture.h"
#include "support/pump_events.h"
#include "support/rendered_text.h"
#include "support/screenshots.h"
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "tasks/alarm_tasks.h"
#include "core/message_ids.h"
#include "session/item_table.h"
#include "tasks/live_tasks.h"
#include "tasks/media_tasks.h"
#include "core/log_file.h"
#include "session/login_sequence.h"
#include "session/reconnection_table.h"
#include "core/task_threads.h"
#include "control/control_client.h"
#include "integration/sim_fixture.h"
#include "libs/chime/chime.h"
#include "libs/earshot/earshot.h"
#include "mainwin/wall_memory.h"
#include "ui/pop_up_dlg.h"
#include "mainwin/main_win.h"
#include "media/camera_registry.h"
#include "platform/paths.h"
#include "platform/thread_messages.h"
#include "ui/alarm_panel.h"
#include "ui/toolkit/control.h"
#include "ui/tree_list.h"
#include "wall/win_sub.h"

using control::ControlClient;

using testing_support::PumpUntil;

namespace {

constexpr const char* kMarkupName = "<b>x</b><a href=x>y</a>";
constexpr int kWidth = 352;
constexpr int kHeight = 288;
std::string CameraId(int k) { return std::to_string(31000001 + k); }
// Seeded cameras that are online, in service and always within their viewing plan.
std::vector<int> Watchable(int count) {
    std::vector<int> ks;
    for (int k = 0; static_cast<int>(ks.size()) < count; ++k)
        if (k % 11 != 5 && k % 7 != 3 && k % 17 != 9) ks.push_back(k);
    return ks;
}

class MainWinLive : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        service = std::make_unique<testing_support::SimulatedService>(
            40, [](sim::SimConfig& simConfig) { simConfig.clipSeconds = 1; });
        sim::CameraVideo video;
        video.width = kWidth;
        video.height = kHeight;
        video.frameRate = 8;
        ASSERT_TRUE(service->Service().Store().SetCameraVideo("", video));
        video.panTiltZoom = true;
        ASSERT_TRUE(service->Service().Store().SetCameraVideo(CameraId(0), video));
        // A name from the service is shown as typed, never rendered as markup.
        ASSERT_TRUE(service->Service().Store().SetCameraName(CameraId(0), kMarkupName));
        client = service->LoggedInClient(config, false);
        ASSERT_TRUE(client);
        ASSERT_TRUE(session::RefreshItemTable(*client, table, nullptr));

        ASSERT_TRUE(pump.Start());
        tasks::LiveTaskEnvironment tasks;
        tasks.requestAddress = [this](const std::string& id) { return client->RequestForwardingAddress(id); };
        tasks.postNotify = [this](platform::Message m) { return platform::PostWindowMessage(notify, std::move(m)); };
        tasks.password = [] { return std::string(); };
        dispatcher.Register(core::kTaskOpenCamera,
                            [this, tasks](platform::Message& m) { tasks::HandleOpenCamera(m, reconnection, tasks); });
        dispatcher.Register(core::kTaskCloseCell,
                            [this, tasks](platform::Message& m) { tasks::HandleCloseCell(m, reconnection, tasks); });
        tasks::MediaTaskEnvironment media;
        media.postNotify = tasks.postNotify;
        dispatcher.Register(core::kTaskStartListen, [media](platform::Message& m) { tasks::HandleStartListen(m, media); });
        dispatcher.Register(core::kTaskStartTalk, [media](platform::Message& m) { tasks::HandleStartTalk(m, media); });
        // The wall is kept per user: the session's user is demo.
        core::LoginSession session;
        session.loginUserName = "demo";
        core::AppConfig::Instance().SetSession(session);

        media::CameraEnvironment camera;
        camera.postToMainWindow = [this](platform::Message m) { return platform::PostWindowMessage(notify, std::move(m)); };
        camera.postToTaskThread = [this](platform::Message m) {
            return platform::PostThreadMessage(pump.ThreadId(), std::move(m));
        };
        camera.addresses = [this](const std::string& id) { return client->RequestForwardingAddress(id); };
        camera.displayTiming = {10, 600000};
        media::CameraRegistry::SetEnvironmentForNewCameras(camera);

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
        env.liveEnvironment = [this](platform::WindowHandle, ui::CPaintManagerUI&) {
            ui::LiveViewEnvironment live;
            live.notice = [this](const std::string& text, const std::string&) { notices.push_back(text); };
            live.talkAddress = [this](const std::string& id) { return client->RequestForwardingAddressWithNode(id); };
            live.cameraOfCell = [](int cell) { return media::CameraRegistry::Instance().Find(cell); };
            return live;
        };
        env.alarmPanelEnvironment = [this] {
            ui::AlarmPanelEnvironment alarms;
            alarms.listenForPushes = [this](std::function<void(const control::AlarmRecord&)> listener) {
                client->InstallAlarmPushHandler(std::move(listener));
            };
            alarms.noticeMs = 60000;
            return alarms;
        };
        OpenWindow();
    }
    void OpenWindow() {
        window = std::make_unique<mainwin::CMainWin>(env);
        ASSERT_TRUE(window->Create(0, "Larkview"));
        window->GetWidget()->resize(1280, 860);
        window->ShowWindow(true);
        ASSERT_TRUE(PumpUntil([&] { return window->IsInitialised() && window->LiveWall(); }, 5000));
        ASSERT_EQ(notify, window->GetHWND());
    }
    void TearDown() override {
        chime::SetSinkFactory({});
        earshot::SetSourceFactory({});
        core::AppConfig::Instance().SetSession({});
        window.reset();
        media::CameraRegistry::DestroyAll();
        media::CameraRegistry::SetEnvironmentForNewCameras(std::nullopt);
        pump.Stop();
        client.reset();
        service.reset();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }

    ui::CTreeList* Tree() { return window->Trees().GetTree(ui::CCameraTrees::kLive); }
    void DoubleClick(int k) {
        ui::TreeNode* node = Tree()->FindById(CameraId(k));
        ASSERT_NE(node, nullptr);
        window->m_PaintManager.SendNotify(node->Element(), "itemdbclick");
    }
    bool Streaming(int cell) {
        auto camera = media::CameraRegistry::Instance().Find(cell);
        return camera && camera->IsOpen() && window->LiveWall()->Cell(cell)->Presents() > 2;
    }
    bool AllStreaming(int cells) {
        for (int cell = 0; cell < cells; ++cell)
            if (!Streaming(cell)) return false;
        return true;
    }
    void Notify(const char* control, const char* type) {
        ui::CControlUI* sender = window->m_PaintManager.FindControl(control);
        ASSERT_NE(sender, nullptr) << control;
        window->m_PaintManager.SendNotify(sender, type);
    }
    std::string Shot(const std::string& name) { return testing_support::ScreenshotPath(dir.Path(), name); }

    testing_support::TempDir dir;
    core::AppConfig config;
    std::unique_ptr<testing_support::SimulatedService> service;
    std::unique_ptr<ControlClient> client;
    session::ItemTable table;
    platform::WindowHandle notify = 0;
    core::WorkerPool pool{6};
    core::TaskDispatcher dispatcher;
    core::TaskPump pump{pool, dispatcher};
    session::ReconnectionTable reconnection;
    mainwin::MainWinEnvironment env;
    std::unique_ptr<mainwin::CMainWin> window;
    std::vector<std::string> notices;
};

}  // namespace

TEST_F(MainWinLive, TreeDoubleClicksFillTheWallAndThePanTiltButtonsSteer) {
    // At the window's default width the tree row of camera 0 shows its whole name as
    // typed: the drawn text is as wide as the literal name (markup would be a bold "x"
    // and a link "y"), measured from the rendered row.
    ui::TreeNode* named = Tree()->FindById(CameraId(0));
    ASSERT_NE(named, nullptr);
    ASSERT_GE(named->Level(), 3) << "a camera deep in the tree, where the room is least";
    ASSERT_TRUE(Tree()->BringIntoView(named));
    PumpUntil([] { return false; }, 100);
    const QRect nameCell = Tree()->CellRect(*named->Element(), *named->Element()->FindCell("sxt_text"));
    const int nameWidth = Tree()->viewport()->fontMetrics().horizontalAdvance(kMarkupName);
    EXPECT_GE(nameCell.width(), nameWidth);
    EXPECT_GE(testing_support::InkWidth(Tree()->viewport()->grab().toImage(), nameCell), nameWidth * 9 / 10);
    EXPECT_TRUE(Tree()->ToolTipAt(nameCell.center()).contains(kMarkupName));

    Notify("Win4", "click");
    ASSERT_EQ(window->LiveWall()->Layout(), 4);
    const std::vector<int> cameras = Watchable(4);
    for (int k : cameras) DoubleClick(k);
    for (std::size_t cell = 0; cell < cameras.size(); ++cell) {
        ASSERT_NE(window->LiveWall()->CellEntry(static_cast<int>(cell)), nullptr);
        EXPECT_EQ(window->LiveWall()->CellEntry(static_cast<int>(cell))->id, CameraId(cameras[cell]));
    }
    ui::TreeNode* first = Tree()->FindById(CameraId(0));
    EXPECT_EQ(first->Element()->FindCell("sxt_logo")->GetBkImage(), ui::CTreeList::kIconCameraLive);
    ASSERT_TRUE(PumpUntil([&] { return AllStreaming(4); }, 30000));
    PumpUntil([] { return false; }, 300);
    EXPECT_TRUE(window->GetWidget()->grab().toImage().save(QString::fromStdString(Shot("main_wall_4_cells.png"))));

    // The toolbar of cell 0 names its camera as typed: the drawn text is as wide as the
    // literal name, not as a bold "x" and a link "y".
    window->LiveWall()->ShowToolbar(0);
    ASSERT_NE(window->LiveWall()->Toolbar(), nullptr);
    ui::CControlUI* toolbarName = window->LiveWall()->Toolbar()->m_PaintManager.FindControl("sxtName");
    ASSERT_NE(toolbarName, nullptr);
    PumpUntil([] { return false; }, 100);
    const int literalWidth = toolbarName->GetWidget()->fontMetrics().horizontalAdvance(kMarkupName);
    EXPECT_GT(testing_support::InkWidth(toolbarName->GetWidget()->grab().toImage()), literalWidth * 6 / 10);
    QLabel rendered(kMarkupName);  // the same name left to Qt's automatic format
    rendered.setFont(toolbarName->GetWidget()->font());
    rendered.adjustSize();
    EXPECT_LT(testing_support::InkWidth(rendered.grab().toImage()), literalWidth * 6 / 10) << "the measure can fail";

    // An offline camera is refused with a notice.
    DoubleClick(3);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].rfind("摄像头 ", 0), 0u);

    // Listening without an output device: the user is told, and the toolbar's listen
    // button stays off. Talkback without a microphone likewise.
    wall::CWinSub& bar = *window->LiveWall()->Toolbar();
    auto image = [&](const char* button) { return bar.m_PaintManager.FindControl(button)->GetBkImage(); };
    chime::SetSinkFactory([](const chime::AudioFormat&) { return nullptr; });
    bar.Click("btnAudio");
    ASSERT_TRUE(PumpUntil([&] { return notices.size() == 2; }, 10000));
    EXPECT_EQ(notices[1], "没有音频输出设备");
    EXPECT_FALSE(window->LiveWall()->CellEntry(0)->listening);
    EXPECT_EQ(image("btnAudio"), "file='Image\\sound.png'");
    earshot::SetSourceFactory([] { return std::unique_ptr<earshot::CaptureSource>(); });
    bar.Click("btnTalkback");
    ASSERT_TRUE(PumpUntil([&] { return notices.size() == 3; }, 15000));
    EXPECT_EQ(notices[2], "没有麦克风");
    EXPECT_FALSE(window->LiveWall()->CellEntry(0)->talking);
    EXPECT_EQ(image("btnTalkback"), "file='Image\\Talk_On.png'");
    notices.resize(1);

    // "yt_up" pressed and released over cell 0's camera.
    window->LiveWall()->Select(0);
    Notify("yt_up", "buttondown");
    Notify("yt_up", "click");
    auto& forwarding = service->Service().Forwarding();
    ASSERT_TRUE(PumpUntil([&] { return forwarding.PanTiltCommands(CameraId(0)).size() == 2; }, 5000));
    EXPECT_EQ(forwarding.PanTiltCommands(CameraId(0))[0].first, 1);
    EXPECT_EQ(forwarding.PanTiltCommands(CameraId(0))[1].first, 15);

    // The real buttons: a release off the button, and the window losing the activation
    // while a button is held, stop the head too.
    auto codes = [&] {
        std::vector<int> out;
        for (const auto& [code, speed] : forwarding.PanTiltCommands(CameraId(0))) out.push_back(code);
        return out;
    };
    auto* up = window->m_PaintManager.FindControl<ui::CButtonUI>("yt_up");
    auto* left = window->m_PaintManager.FindControl<ui::CButtonUI>("yt_left");
    ASSERT_TRUE(up && left);
    QTest::mousePress(up, Qt::LeftButton);
    QTest::mouseRelease(up, Qt::LeftButton, {}, QPoint(-30, up->height() + 30));
    ASSERT_TRUE(PumpUntil([&] { return codes().size() == 4; }, 5000));
    EXPECT_EQ(codes(), (std::vector<int>{1, 15, 1, 15}));
    EXPECT_FALSE(forwarding.Head(CameraId(0)).moving);

    window->GetWidget()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window->GetWidget()));
    QTest::mousePress(left, Qt::LeftButton);
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    QTest::mouseRelease(left, Qt::LeftButton);
    ASSERT_TRUE(PumpUntil([&] { return codes().size() >= 6; }, 5000));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(codes(), (std::vector<int>{1, 15, 1, 15, 3, 15})) << "one stop for the press";
    EXPECT_FALSE(forwarding.Head(CameraId(0)).moving);

    // "close_all" empties the wall.
    Notify("close_all", "click");
    for (int cell = 0; cell < 4; ++cell) EXPECT_EQ(window->LiveWall()->CellEntry(cell), nullptr);
}

// "全部打开": every cell shows pictures or says why it cannot; "全部关闭" leaves no
// caption and no toolbar; the wall as the user left it comes back at the next login,
// without the cameras that left the tree.
TEST_F(MainWinLive, OpenAllSaysWhyAndTheWallComesBackAtTheNextLogin) {
    // A smaller tree: the cameras from the thirteenth on go offline. Of the rest, one
    // is outside its viewing hours and one loses its capture side after the tree came.
    auto& store = service->Service().Store();
    for (int k = 12; k < 40; ++k) ASSERT_TRUE(store.SetCameraState(CameraId(k), false, "2099-12-31"));
    ASSERT_TRUE(store.SetCameraPlan(CameraId(4), 999));  // a plan without a single period
    // The seeded data puts camera 9 on working-day hours; the test must not depend on the clock.
    ASSERT_TRUE(store.SetCameraPlan(CameraId(9), 0));
    table.Clear();
    ASSERT_TRUE(session::RefreshItemTable(*client, table, nullptr));
    window->Trees().BuildAll(table.Snapshot());
    ASSERT_TRUE(store.SetCameraState(CameraId(6), false, "2099-12-31"));
    const std::vector<int> opened = {0, 1, 2, 4, 6, 7, 8, 9, 11};  // online, in service

    wall::CVideoPanelMng& wall = *window->LiveWall();
    Notify("start_all", "click");
    EXPECT_EQ(wall.Layout(), 9) << "grown to hold every camera";
    for (std::size_t cell = 0; cell < opened.size(); ++cell)
        ASSERT_EQ(wall.CellEntry(static_cast<int>(cell))->id, CameraId(opened[cell])) << cell;
    auto caption = [&](int cell) { return wall.Cell(cell)->Caption().toStdString(); };
    auto settled = [&] {
        for (int cell = 0; cell < static_cast<int>(opened.size()); ++cell)
            if (!Streaming(cell) && caption(cell).empty()) return false;
        return true;
    };
    ASSERT_TRUE(PumpUntil(settled, 60000)) << "a cell stayed empty without a word";
    EXPECT_EQ(caption(3), "不在开放时间段内");
    EXPECT_EQ(caption(4), "摄像头不在线");
    for (int cell : {0, 1, 2, 5, 6, 7, 8}) EXPECT_TRUE(Streaming(cell) && caption(cell).empty()) << cell;
    EXPECT_FALSE(wall.CellEntry(3)->live);

    wall.ShowToolbar(0);
    QWidget* strip = wall.Toolbar()->GetWidget();
    ASSERT_TRUE(strip->isVisible());
    Notify("close_all", "click");
    for (int cell = 0; cell < wall::kCellCount; ++cell) {
        EXPECT_EQ(wall.CellEntry(cell), nullptr) << cell;
        EXPECT_EQ(caption(cell), "") << cell;
    }
    EXPECT_FALSE(strip->isVisible()) << "no toolbar over an empty cell";

    // The wall of the next login: a sixteen-cell layout with three cameras placed by
    // hand, one of which is gone from the tree by then.
    Notify("Win16", "click");
    ASSERT_TRUE(window->OpenCamera(window->Trees().FindItem(ui::CCameraTrees::kLive, CameraId(0)), 5));
    ASSERT_TRUE(window->OpenCamera(window->Trees().FindItem(ui::CCameraTrees::kLive, CameraId(1)), 2));
    ASSERT_TRUE(window->OpenCamera(window->Trees().FindItem(ui::CCameraTrees::kLive, CameraId(2)), 9));
    window->Close(ui::kResultOk);  // the window saves the wall as it closes
    window.reset();
    media::CameraRegistry::DestroyAll();
    const std::string file = mainwin::WallMemoryFile("DEMO");
    EXPECT_EQ(file, mainwin::WallMemoryFile("demo")) << "user names compare without case";
    const std::optional<mainwin::SavedWall> saved = mainwin::LoadWall(file);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->layout, 16);

    // The next login fetches the camera list anew.
    table.Clear();
    ASSERT_TRUE(session::RefreshItemTable(*client, table, nullptr));
    env.rows = [this] {
        std::vector<control::ItemPtr> rows = table.Snapshot();
        std::erase_if(rows, [](const control::ItemPtr& row) { return row->id == CameraId(1); });
        return rows;
    };
    OpenWindow();
    wall::CVideoPanelMng& again = *window->LiveWall();
    EXPECT_EQ(again.Layout(), 16);
    ASSERT_NE(again.CellEntry(5), nullptr);
    EXPECT_EQ(again.CellEntry(5)->id, CameraId(0));
    ASSERT_NE(again.CellEntry(9), nullptr);
    EXPECT_EQ(again.CellEntry(9)->id, CameraId(2));
    EXPECT_EQ(again.CellEntry(2), nullptr) << "the camera that left the tree is skipped";
    ASSERT_TRUE(PumpUntil([&] { return Streaming(5) && Streaming(9); }, 30000));

    // Another user starts with the default wall.
    window->Close(ui::kResultOk);
    window.reset();
    media::CameraRegistry::DestroyAll();
    table.Clear();
    ASSERT_TRUE(session::RefreshItemTable(*client, table, nullptr));
    core::LoginSession other;
    other.loginUserName = "zhangwei";
    core::AppConfig::Instance().SetSession(other);
    OpenWindow();
    EXPECT_EQ(window->LiveWall()->Layout(), 4);
    for (int cell = 0; cell < wall::kCellCount; ++cell) EXPECT_EQ(window->LiveWall()->CellEntry(cell), nullptr);
}

TEST_F(MainWinLive, PushedAlarmsReachTheAlarmTab) {
    auto* tab = dynamic_cast<ui::CAlarmCtrl*>(window->m_PaintManager.FindControl("AlarmPanel"));
    ASSERT_NE(tab, nullptr);
    ASSERT_NE(tab->Panel(), nullptr);
    Notify("alarmbtn", "click");
    EXPECT_TRUE(tab->isVisible());
    for (int i = 0; i < 2; ++i) ASSERT_GE(service->Service().Control().PushRandomAlarms(), 1);
    sim::AlarmRow marked;
    marked.cameraId = CameraId(0);
    marked.cameraName = kMarkupName;
    marked.nodeName = "<i>site</i>";
    marked.kindName = "移动侦测";
    marked.msg = "<a href=x>open</a>";
    marked.time = "2026-12-09 10:00:00";
    ASSERT_EQ(service->Service().Control().PushAlarm(10001, marked), 1);
    ASSERT_TRUE(PumpUntil([&] { return tab->Panel()->PushedAlarms().size() == 3; }, 5000));
    ASSERT_TRUE(tab->Panel()->Notice() && tab->Panel()->Notice()->IsShown());
    // The notice and the newest row of the list show the markup as typed.
    ui::CControlUI* noticeCamera = tab->Panel()->Notice()->m_PaintManager.FindControl("lbNoticeCamera");
    ASSERT_NE(noticeCamera, nullptr);
    const QString noticeText = QString::fromStdString(std::string("<i>site</i> · ") + kMarkupName);
    EXPECT_GT(testing_support::InkWidth(noticeCamera->GetWidget()->grab().toImage()),
              noticeCamera->GetWidget()->fontMetrics().horizontalAdvance(noticeText) * 6 / 10);
    PumpUntil([] { return false; }, 200);
    EXPECT_TRUE(window->GetWidget()->grab().toImage().save(QString::fromStdString(Shot("main_alarm_tab.png"))));
}

// Sixteen cameras double-clicked into a sixteen-cell wall: each cell shows its own camera.
TEST_F(MainWinLive, SixteenLiveCellsEachShowTheirCamera) {
    Notify("Win16", "click");
    const std::vector<int> cameras = Watchable(16);
    for (int k : cameras) DoubleClick(k);
    wall::CVideoPanelMng& wall = *window->LiveWall();
    auto showsItsCamera = [&](int cell) {
        return testing_support::ShowsCameraPicture(*wall.Cell(cell)->Target(), wall.Cell(cell)->size(), kWidth, kHeight,
                                                   CameraId(cameras[static_cast<std::size_t>(cell)]));
    };
    ASSERT_TRUE(PumpUntil([&] { return AllStreaming(16); }, 60000));
    for (int cell = 0; cell < 16; ++cell)
        EXPECT_TRUE(PumpUntil([&] { return showsItsCamera(cell); }, 10000)) << "cell " << cell;
    EXPECT_TRUE(window->GetWidget()->grab().toImage().save(QString::fromStdString(Shot("main_wall_16_cells.png"))));
}
