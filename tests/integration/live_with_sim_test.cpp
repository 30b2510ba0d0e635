// Live viewing end to end against the simulated service: the camera tree of the demo
// account, a video wall, the task threads with the open, close and alarm tasks, and
// the live view between them, as the main window wires them. Cameras open into cells
// and show pictures, failures show in the cells, talk requests obey the one-talkback
// rule, lapsed cameras are renewed, the pan-tilt-zoom buttons steer the simulated
// camera, and the alarm search pages through the first camera's 120 alarms.
// Pictures go to $LARKVIEW_SCREENSHOTS when set (docs/screenshots is filled this way).
#include "support/cell_picture.h"
#include "support/pump_events.h"
#include "support/screenshots.h"
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>

#include "tasks/alarm_tasks.h"
#include "core/message_ids.h"
#include "session/item_table.h"
#include "tasks/live_tasks.h"
#include "core/log_file.h"
#include "session/login_sequence.h"
#include "session/reconnect_supervisor.h"
#include "session/reconnection_table.h"
#include "core/task_threads.h"
#include "control/control_client.h"
#include "integration/sim_fixture.h"
#include "media/camera_registry.h"
#include "platform/paths.h"
#include "platform/thread_messages.h"
#include "support/modal_driver.h"
#include "ui/alarm_panel.h"
#include "ui/alarm_search_wnd.h"
#include "ui/live_view.h"
#include "ui/payment_dlg.h"
#include "ui/toolkit/list.h"
#include "ui/toolkit/ui_executor.h"
#include "ui/tree_fixture.h"
#include "wall/video_panel_mng.h"

using control::ControlClient;

using testing_support::PumpUntil;
using testing_support::ShowsCameraPicture;

namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
// Seeded camera k has the id 31000001 + k; camera 0 has a pan-tilt-zoom head and 120
// alarms, 3 is offline, 5 has lapsed.
std::string CameraId(int k) { return std::to_string(31000001 + k); }

class LiveWithSim : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        service = std::make_unique<testing_support::SimulatedService>(
            40, [](sim::SimConfig& simConfig) { simConfig.clipSeconds = 1; });
        sim::ServiceStore& store = service->Service().Store();
        // Small, slow pictures keep the decoders light; the lapsed camera is connected,
        // so that its renewal is what stands between the user and its picture.
        sim::CameraVideo video;
        video.width = kWidth;
        video.height = kHeight;
        video.frameRate = 10;
        ASSERT_TRUE(store.SetCameraVideo("", video));
        video.panTiltZoom = true;
        ASSERT_TRUE(store.SetCameraVideo(CameraId(0), video));
        ASSERT_TRUE(store.SetCameraState(CameraId(5), true, "2020-01-01"));
        ASSERT_TRUE(store.SetCameraPlan(CameraId(9), 0));

        client = service->LoggedInClient(config, true);
        ASSERT_TRUE(client);
        ASSERT_TRUE(session::RefreshItemTable(*client, table, nullptr));
        host.trees.BuildAll(table);

        notify = platform::CreateWindowHandle([this](platform::Message& m) -> std::intptr_t { return OnNotify(m); },
                                              ui::UiExecutor());
        ASSERT_TRUE(pump.Start());
        tasks::LiveTaskEnvironment tasks;
        tasks.requestAddress = [this](const std::string& id) { return client->RequestForwardingAddress(id); };
        tasks.postNotify = [this](platform::Message m) { return platform::PostWindowMessage(Notified(), std::move(m)); };
        tasks.password = [] { return std::string(); };
        dispatcher.Register(core::kTaskOpenCamera,
                            [this, tasks](platform::Message& m) { tasks::HandleOpenCamera(m, reconnection, tasks); });
        dispatcher.Register(core::kTaskCloseCell,
                            [this, tasks](platform::Message& m) { tasks::HandleCloseCell(m, reconnection, tasks); });
        dispatcher.Register(core::kTaskLiveStreamStopped, [this, tasks](platform::Message& m) {
            tasks::HandleLiveStreamStopped(m, reconnection, tasks);
        });
        dispatcher.Register(core::kTaskStartTalk, [this](platform::Message& m) {
            std::lock_guard lock(mutex);
            if (auto* request = platform::PayloadAs<core::TalkRequest>(m)) talks.push_back(*request);
        });
        tasks::AlarmTaskEnvironment alarms;
        alarms.search = [this](const tasks::AlarmSearchRequest& r, control::AlarmSearchResult& out) {
            return client->SearchAlarms(r.startTime, r.endTime, r.nodeId, r.cameraId, out);
        };
        alarms.postNotify = tasks.postNotify;
        dispatcher.Register(core::kTaskAlarmSearch, [alarms](platform::Message& m) { tasks::HandleAlarmSearch(m, alarms); });

        media::CameraEnvironment camera;
        camera.postToMainWindow = [this](platform::Message m) { return platform::PostWindowMessage(notify, std::move(m)); };
        camera.postToTaskThread = [this](platform::Message m) { return PostTask(std::move(m)); };
        camera.addresses = [this](const std::string& id) { return client->RequestForwardingAddress(id); };
        camera.linkTiming.superviseWakeMs = 50;
        camera.linkTiming.replyTimeoutMs = 5000;
        camera.linkTiming.connectTimeoutMs = 5000;
        camera.displayTiming = {10, 600000};
        media::CameraRegistry::SetEnvironmentForNewCameras(camera);

        wall::WallEnvironment wallEnvironment;
        wallEnvironment.cellsSwapped = [](int, int) {};
        wallEnvironment.screenSize = [] { return QSize(1920, 1080); };
        wallEnvironment.pictureSize = [](int, const std::string&) { return QSize(kWidth, kHeight); };
        panel = std::make_unique<wall::CVideoPanelMng>(notify, nullptr, wallEnvironment);
        panel->resize(2 * kWidth + 6, 2 * kHeight + 6);
        panel->show();
        panel->SetLayout(4);

        ui::LiveViewEnvironment environment;
        environment.postTask = [this](platform::Message m) {
            Record(m.id);
            return PostTask(std::move(m));
        };
        environment.notice = [this](const std::string& text, const std::string& second) {
            notices.emplace_back(text, second);
        };
        environment.renew = [this](const std::string& id, const std::string& name) { return Renew(id, name); };
        environment.talkAddress = [this](const std::string& id) { return client->RequestForwardingAddressWithNode(id); };
        environment.cameraOfCell = [](int cell) { return media::CameraRegistry::Instance().Find(cell); };
        environment.setTimer = [this](std::uintptr_t id, unsigned ms) {
            auto& timer = timers[id];
            if (!timer) {
                timer = std::make_unique<QTimer>();
                QObject::connect(timer.get(), &QTimer::timeout, [this, id] {
                    platform::Message tick(core::kWmTimer, id, 0);  // as the window's paint manager sends it
                    live->HandleMessage(tick);
                });
            }
            timer->start(static_cast<int>(ms));
        };
        environment.killTimer = [this](std::uintptr_t id) {
            if (auto it = timers.find(id); it != timers.end()) it->second->stop();
        };
        environment.cellTextMs = 400;
        live = std::make_unique<ui::CLiveView>(host.trees, environment);
        live->SetWall(panel.get());
        host.Show();
    }

    void TearDown() override {
        supervisor.reset();
        live.reset();
        media::CameraRegistry::DestroyAll();
        media::CameraRegistry::SetEnvironmentForNewCameras(std::nullopt);
        pump.Stop();
        panel.reset();
        timers.clear();
        platform::DestroyWindowHandle(notify);
        client.reset();
        service.reset();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }

    bool PostTask(platform::Message m) { return platform::PostThreadMessage(pump.ThreadId(), std::move(m)); }
    platform::WindowHandle Notified() const { return alarmWindow ? alarmWindow.load() : notify; }
    void Record(std::uint32_t id) {
        std::lock_guard lock(mutex);
        ++posted[id];
    }
    int Posted(std::uint32_t id) {
        std::lock_guard lock(mutex);
        return posted[id];
    }
    std::intptr_t OnNotify(platform::Message& m) {
        {
            std::lock_guard lock(mutex);
            if (m.id == core::kCellResult) results.emplace_back(static_cast<int>(m.wParam), static_cast<int>(m.lParam));
            if (m.id == core::kAppNotify) appNotices.emplace_back(static_cast<int>(m.wParam), static_cast<int>(m.lParam));
        }
        live->HandleMessage(m);
        return 0;
    }
    std::optional<ui::RenewalReply> Renew(const std::string& id, const std::string& name) {
        ui::CPaymentDlg::Environment environment;
        environment.sendRenewal = [this](const std::string& camera) {
            return client->SendGenericRequest(74, {{"cameraId", camera}});
        };
        environment.subscribe = [this](platform::WindowHandle w) { client->SubscribeRenewal(w); };
        environment.unsubscribe = [this](platform::WindowHandle w) { client->UnsubscribeRenewal(w); };
        ui::CPaymentDlg dialog(id, name, 0, environment);
        if (dialog.DoModal() != ui::kResultOk) return std::nullopt;
        return dialog.Reply();
    }

    ui::TreeNode* Node(const std::string& id) { return host.Node(id); }
    control::ItemPtr Item(const std::string& id) { return host.trees.FindItem(ui::CCameraTrees::kLive, id); }
    void DoubleClick(const std::string& id) {
        ui::TNotifyUI msg{"itemdbclick", host.Row(id)};
        ASSERT_TRUE(live->HandleNotify(msg));
    }
    void Button(const char* type, const std::string& id) {
        ui::TNotifyUI msg{type, host.Row(id)};
        ASSERT_TRUE(live->HandleNotify(msg));
    }
    std::shared_ptr<media::CCamera> Camera(int cell) { return media::CameraRegistry::Instance().Find(cell); }
    bool Streaming(int cell) {
        auto camera = Camera(cell);
        return camera && camera->IsOpen() && panel->Cell(cell)->Presents() > 2;
    }
    bool ShowsPicture(int cell, const std::string& id) {
        return ShowsCameraPicture(*panel->Cell(cell)->Target(), panel->Cell(cell)->size(), kWidth, kHeight, id);
    }
    std::string Shot(const std::string& name) { return testing_support::ScreenshotPath(dir.Path(), name); }

    testing_support::TempDir dir;
    core::AppConfig config;
    std::unique_ptr<testing_support::SimulatedService> service;
    std::unique_ptr<ControlClient> client;
    session::ItemTable table;
    testing_support::TreeHost host{320, 600};
    platform::WindowHandle notify = 0;
    std::atomic<platform::WindowHandle> alarmWindow{0};
    core::WorkerPool pool{6};
    core::TaskDispatcher dispatcher;
    core::TaskPump pump{pool, dispatcher};
    session::ReconnectionTable reconnection;
    std::unique_ptr<session::ReconnectSupervisor> supervisor;
    std::unique_ptr<wall::CVideoPanelMng> panel;
    std::map<std::uintptr_t, std::unique_ptr<QTimer>> timers;
    std::unique_ptr<ui::CLiveView> live;

    std::mutex mutex;
    std::map<std::uint32_t, int> posted;
    std::vector<std::pair<int, int>> results;
    std::vector<std::pair<int, int>> appNotices;
    std::vector<core::TalkRequest> talks;
    std::vector<std::pair<std::string, std::string>> notices;
};

}  // namespace

TEST_F(LiveWithSim, DoubleClickedCameraShowsItsPictureAndTheLiveIcons) {
    const std::string id = CameraId(0);
    DoubleClick(id);
    EXPECT_TRUE(Item(id)->live);
    EXPECT_EQ(panel->CellEntry(0), Item(id));
    EXPECT_EQ(host.Image(id, "sxt_logo"), ui::CTreeList::kIconCameraLive);
    EXPECT_EQ(host.Image(id, "sxt_start"), ui::CTreeList::kIconStop);
    ASSERT_TRUE(PumpUntil([&] { return ShowsPicture(0, id); }, 20000)) << "cell 0 does not show the camera";
    EXPECT_EQ(Camera(0)->CameraId(), id);
    EXPECT_FALSE(Item(id)->forwardingIp.empty()) << "1060 cached the fetched address";

    // "sxt_start" on a live camera closes it.
    Button("sxt_start", id);
    EXPECT_FALSE(Item(id)->live);
    EXPECT_EQ(panel->CellEntry(0), nullptr);
    EXPECT_EQ(host.Image(id, "sxt_start"), ui::CTreeList::kIconPlay);
    ASSERT_TRUE(PumpUntil([&] { return !Camera(0)->IsOpen(); }, 5000));
}

TEST_F(LiveWithSim, AnOfflineCameraIsReportedAndNothingOpens) {
    const std::string id = CameraId(3);
    DoubleClick(id);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].first, "摄像头 " + Item(id)->name + " 不在线！");
    EXPECT_EQ(Posted(core::kTaskOpenCamera), 0);
    EXPECT_FALSE(Item(id)->live);
}

TEST_F(LiveWithSim, ANodeOpensItsOnlineCamerasIntoTheNextCellsGrowingTheLayout) {
    // The first site holds cameras 0..7: 3 is offline and 5 lapsed.
    ui::TreeNode* site = Node(CameraId(0))->Parent();
    ASSERT_NE(site, nullptr);
    DoubleClick(site->Id());
    const std::vector<int> expected = {0, 1, 2, 4, 6, 7};
    EXPECT_EQ(panel->Layout(), 9) << "six cameras outgrow four cells";
    for (std::size_t cell = 0; cell < expected.size(); ++cell) {
        control::ItemPtr entry = panel->CellEntry(static_cast<int>(cell));
        ASSERT_NE(entry, nullptr) << cell;
        EXPECT_EQ(entry->id, CameraId(expected[cell])) << cell;
    }
    EXPECT_EQ(Posted(core::kTaskOpenCamera), 6);
    ASSERT_TRUE(PumpUntil(
        [&] {
            for (std::size_t cell = 0; cell < expected.size(); ++cell)
                if (!Streaming(static_cast<int>(cell))) return false;
            return true;
        },
        30000));

    // "node_close" on the site, even when the service now calls it offline, closes them.
    host.trees.Index(ui::CCameraTrees::kLive).Find(site)->active = false;
    Button("node_start", CameraId(0));  // a camera's "node_start" is only its node's
    Button("node_close", site->Id());
    for (int k : expected) EXPECT_FALSE(Item(CameraId(k))->live) << k;
    EXPECT_EQ(Posted(core::kTaskCloseCell), 6);
    ASSERT_TRUE(PumpUntil([&] { return !Camera(0)->IsOpen() && !Camera(5)->IsOpen(); }, 5000));
    const int opens = Posted(core::kTaskOpenCamera);
    Button("node_start", site->Id());
    EXPECT_EQ(Posted(core::kTaskOpenCamera), opens) << "a node without online cameras opens nothing";
}

TEST_F(LiveWithSim, OpeningIntoACellThatShowsAnotherCameraClosesItFirst) {
    live->OpenCamera(Node(CameraId(0)), -1);
    live->OpenCamera(Node(CameraId(1)), -1);
    ASSERT_EQ(panel->CellEntry(1), Item(CameraId(1)));
    ASSERT_TRUE(PumpUntil([&] { return Streaming(1); }, 20000));
    // The cell toolbar asks for camera 2 in cell 1.
    platform::SendWindowMessage(notify, platform::Message(core::kOpenCameraRequest, 0, 1,
                                                          platform::MakePayload(CameraId(2))));
    EXPECT_FALSE(Item(CameraId(1))->live);
    EXPECT_EQ(host.Image(CameraId(1), "sxt_logo"), ui::CTreeList::kIconCameraActive);
    EXPECT_TRUE(Item(CameraId(2))->live);
    EXPECT_EQ(panel->CellEntry(1), Item(CameraId(2)));
    EXPECT_EQ(Posted(core::kTaskCloseCell), 0) << "the open task closes the cell's old session itself";
    ASSERT_TRUE(PumpUntil([&] { return Streaming(1) && Camera(1)->CameraId() == CameraId(2); }, 20000));
    EXPECT_TRUE(PumpUntil([&] { return service->Service().Forwarding().ActiveLinks(CameraId(1)) == 0; }, 5000));

    // The toolbar's close.
    platform::SendWindowMessage(notify, platform::Message(core::kCloseCameraRequest, 0, 0,
                                                          platform::MakePayload(CameraId(2))));
    EXPECT_FALSE(Item(CameraId(2))->live);
    EXPECT_EQ(panel->FindCellByCameraId(CameraId(2)), -1);
}

TEST_F(LiveWithSim, OutsideTheViewingPlanTheCellSaysSoUntilUsedAgainAndTheIconsReset) {
    service->Service().Forwarding().SetOpenRefusal(-2);
    const std::string id = CameraId(1);
    DoubleClick(id);
    ASSERT_TRUE(PumpUntil([&] { return !Item(id)->live; }, 10000));
    EXPECT_EQ(panel->Cell(0)->Caption().toStdString(), "不在开放时间段内");
    EXPECT_EQ(host.Image(id, "sxt_logo"), ui::CTreeList::kIconCameraActive);
    EXPECT_EQ(host.Image(id, "sxt_start"), ui::CTreeList::kIconPlay);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(results, (std::vector<std::pair<int, int>>{{0, -2}}));
    }
    // The reason outlasts the notices' time (shortened here from ten seconds), so the
    // cell never turns empty without a word; closing the wall takes it away.
    PumpUntil([] { return false; }, 1000);
    EXPECT_EQ(panel->Cell(0)->Caption().toStdString(), "不在开放时间段内");
    live->CloseAll();
    EXPECT_TRUE(panel->Cell(0)->Caption().isEmpty());
    EXPECT_EQ(panel->CellEntry(0), nullptr);
}

TEST_F(LiveWithSim, OnlyOneTalkbackAtATime) {
    live->OpenCamera(Node(CameraId(0)), -1);
    live->OpenCamera(Node(CameraId(1)), -1);
    auto talk = [&](int k) {
        platform::SendWindowMessage(notify, platform::Message(core::kTalkOnRequest, 0, 0,
                                                              platform::MakePayload(CameraId(k))));
    };
    talk(0);
    ASSERT_TRUE(PumpUntil([&] { std::lock_guard lock(mutex); return talks.size() == 1; }, 5000));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(talks[0].cameraId, CameraId(0));
        EXPECT_FALSE(talks[0].nodeId.empty());
        EXPECT_FALSE(talks[0].ip.empty());
        EXPECT_GT(talks[0].port, 0);
    }
    EXPECT_TRUE(Item(CameraId(0))->talking);
    // The talk task reports the talkback open.
    platform::SendWindowMessage(notify, platform::Message(core::kTalkStateChanged, 0, 1,
                                                          platform::MakePayload(CameraId(0))));
    EXPECT_TRUE(live->TalkActive());
    talk(1);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], std::make_pair(std::string("对不起，语音对讲同时只能开一个！"), std::string("错误")));
    EXPECT_EQ(Posted(core::kTaskStartTalk), 1) << "the second talkback posts nothing";
    EXPECT_FALSE(Item(CameraId(1))->talking);
}

TEST_F(LiveWithSim, ALapsedCameraIsRenewedThenOpens) {
    const std::string id = CameraId(5);
    ASSERT_TRUE(Item(id)->active);
    ASSERT_TRUE(Item(id)->expired);

    // Left alone: nothing opens.
    testing_support::ModalDriver driver;
    driver.Then([](ui::WindowImplBase& dialog) {
        dynamic_cast<QPushButton*>(dialog.m_PaintManager.FindControl("BtnIgnore"))->click();
    });
    DoubleClick(id);
    EXPECT_EQ(Posted(core::kTaskOpenCamera), 0);
    EXPECT_TRUE(notices.empty());

    // The balance does not cover it.
    ASSERT_TRUE(service->Service().Store().SetBalance(10001, 10));
    driver.Then([](ui::WindowImplBase& dialog) {
        dynamic_cast<QPushButton*>(dialog.m_PaintManager.FindControl("BtnPayment"))->click();
    });
    DoubleClick(id);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], std::make_pair(std::string("账户余额不足!"), std::string("续费失败")));
    EXPECT_EQ(Posted(core::kTaskOpenCamera), 0);
    EXPECT_TRUE(Item(id)->expired);

    // Paid: renewed, the row shows the new date, and the camera opens.
    ASSERT_TRUE(service->Service().Store().SetBalance(10001, 1000));
    driver.Then([](ui::WindowImplBase& dialog) {
        dynamic_cast<QPushButton*>(dialog.m_PaintManager.FindControl("BtnPayment"))->click();
    });
    DoubleClick(id);
    EXPECT_EQ(driver.seen, (std::vector<std::string>{"PaymentWnd", "PaymentWnd", "PaymentWnd"}));
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_FALSE(Item(id)->expired);
    EXPECT_FALSE(Item(id)->expiryDate.empty());
    EXPECT_EQ(host.Text(id, "expired"), Item(id)->expiryDate);
    EXPECT_FALSE(Node(id)->IsExpired());
    EXPECT_TRUE(Item(id)->live);
    ASSERT_TRUE(PumpUntil([&] { return Streaming(0); }, 20000)) << "the forwarding server serves it again";
}

TEST_F(LiveWithSim, PanTiltButtonsSteerTheSelectedCellsCamera) {
    const std::string id = CameraId(0);
    auto& forwarding = service->Service().Forwarding();
    // An empty selected cell sends nothing.
    panel->Select(0);
    EXPECT_FALSE(live->PanTilt("yt_up", true));
    EXPECT_FALSE(live->PanTilt("yt_up", false));

    live->OpenCamera(Node(id), -1);
    ASSERT_TRUE(PumpUntil([&] { return Streaming(0); }, 20000));
    ui::CButtonUI button;
    button.setObjectName("yt_up");
    ui::TNotifyUI press{"buttondown", &button};
    EXPECT_TRUE(live->HandlePanTilt(press));
    ASSERT_TRUE(PumpUntil([&] { return forwarding.PanTiltCommands(id).size() == 1; }, 5000));
    EXPECT_EQ(forwarding.PanTiltCommands(id)[0], std::make_pair(1, 3));
    EXPECT_TRUE(forwarding.Head(id).moving);
    const double before = forwarding.Head(id).view.centerY;
    QThread::msleep(100);
    EXPECT_LT(forwarding.Head(id).view.centerY, before) << "the view moves up";

    ui::TNotifyUI release{"click", &button};
    EXPECT_TRUE(live->HandlePanTilt(release));
    ASSERT_TRUE(PumpUntil([&] { return forwarding.PanTiltCommands(id).size() == 2; }, 5000));
    EXPECT_EQ(forwarding.PanTiltCommands(id)[1], std::make_pair(15, 3));
    EXPECT_FALSE(forwarding.Head(id).moving);

    // Any other control's click sends nothing.
    ui::CButtonUI other;
    other.setObjectName("BtnGet");
    ui::TNotifyUI click{"click", &other};
    EXPECT_FALSE(live->HandlePanTilt(click));
    QThread::msleep(50);
    EXPECT_EQ(forwarding.PanTiltCommands(id).size(), 2u);
}

TEST_F(LiveWithSim, AlarmSearchPagesThroughTheFirstCamerasAlarmsWithPictures) {
    ui::CAlarmSearchWnd::Environment environment;
    environment.postTask = [this](platform::Message m) { return PostTask(std::move(m)); };
    environment.setNotifyWindow = [this](platform::WindowHandle w) { alarmWindow = w == notify ? 0 : w; };
    environment.pictureFolder = dir.File("alarmPictures");
    ui::CAlarmSearchWnd window(CameraId(0), notify, environment);
    ASSERT_TRUE(window.Create(0, ui::CAlarmSearchWnd::kCaption));
    window.GetWidget()->resize(ui::CAlarmSearchWnd::kWidth, ui::CAlarmSearchWnd::kHeight);
    window.ShowWindow(true);
    auto* list = window.m_PaintManager.FindControl<ui::CListUI>("AlarmList");
    ASSERT_NE(list, nullptr);
    auto click = [&](const char* name) { dynamic_cast<QPushButton*>(window.m_PaintManager.FindControl(name))->click(); };

    click("BtnSearch");
    ASSERT_TRUE(PumpUntil([&] { return list->GetCount() == 50; }, 10000));
    EXPECT_EQ(window.Rows().Size(), 120u);
    click("BtnLoad");
    EXPECT_EQ(list->GetCount(), 100);
    click("BtnLoad");
    EXPECT_EQ(list->GetCount(), 120);
    // The next page starts at row 120's time: row 120 comes again and is not listed
    // twice; a new alarm of that same second, recorded meanwhile, is.
    const std::string last = window.Rows().times[119];
    ASSERT_TRUE(service->Service().Store().AddAlarm(CameraId(0), "移动侦测", "新的报警", last));
    click("BtnLoad");
    ASSERT_TRUE(PumpUntil([&] { return list->GetCount() > 120; }, 10000)) << "the next page did not come";
    EXPECT_EQ(list->GetCount(), 121);
    EXPECT_EQ(window.GetItemText(120, 5), "新的报警");
    EXPECT_EQ(window.GetItemText(120, 4), last);

    // The picture of the chosen row, from the service's master server.
    list->SelectItem(7);
    ui::TNotifyUI activate{"itemactivate", list->GetItemAt(7)};
    window.Notify(activate);
    ASSERT_TRUE(PumpUntil([&] { return !window.PictureFile().empty(); }, 10000));
    EXPECT_EQ(window.PictureUrl(), window.Rows().pictureUrls[7]);
    EXPECT_FALSE(QImage(QString::fromStdString(window.PictureFile())).isNull());
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(window.GetWidget()->grab().toImage().save(QString::fromStdString(Shot("alarm_search.png"))));
}

TEST_F(LiveWithSim, PushedAlarmsReachTheAlarmTabAndItsNotice) {
    ui::AlarmPanelEnvironment environment;
    environment.listenForPushes = [this](std::function<void(const control::AlarmRecord&)> listener) {
        client->InstallAlarmPushHandler(std::move(listener));
    };
    environment.noticeMs = 60000;
    ui::CAlarmCtrl tab(nullptr, environment);
    tab.resize(900, 420);
    tab.show();
    ASSERT_GE(service->Service().Control().PushRandomAlarms(), 1);
    ui::CAlarmPanel* alarms = tab.Panel();
    ASSERT_TRUE(PumpUntil([&] { return alarms->PushedAlarms().size() == 1; }, 5000));
    EXPECT_FALSE(alarms->PushedAlarms().front().cameraName.empty());
    ASSERT_TRUE(alarms->Notice() && alarms->Notice()->IsShown());
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(alarms->Notice()->GetWidget()->grab().toImage().save(QString::fromStdString(Shot("alarm_notice.png"))));
    ASSERT_GE(service->Service().Control().PushRandomAlarms(), 1);
    ASSERT_TRUE(PumpUntil([&] { return alarms->PushedAlarms().size() == 2; }, 5000));
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(tab.grab().toImage().save(QString::fromStdString(Shot("alarm_tab.png"))));
}

// The server sends "stop" on a live camera's link: the cell is not left dead. Its
// stream ends, the cell enters the reconnection table (the cell says it reconnects),
// and the supervisor's next pass opens the camera again in the same cell.
TEST_F(LiveWithSim, ALiveCameraStoppedByTheServerComesBackInItsCell) {
    session::SupervisorEnvironment environment;
    environment.requestAddress = [this](const std::string& id) { return client->RequestForwardingAddress(id); };
    environment.cellWindow = [](int cell) { return media::CameraRegistry::Instance().GetOrCreate(cell)->DisplayWindow(); };
    environment.postNotify = [this](platform::Message m) { return platform::PostWindowMessage(notify, std::move(m)); };
    environment.postTask = [this](platform::Message m) { return PostTask(std::move(m)); };
    environment.intervalMs = 300;
    supervisor = std::make_unique<session::ReconnectSupervisor>(reconnection, environment);
    ASSERT_TRUE(supervisor->Start());

    const std::string id = CameraId(1);
    DoubleClick(id);
    ASSERT_TRUE(PumpUntil([&] { return Streaming(0) && ShowsPicture(0, id); }, 20000));
    auto& forwarding = service->Service().Forwarding();
    const std::uint64_t opens = forwarding.GetStats().opens;
    ASSERT_EQ(forwarding.StopCamera(id), 1);

    ASSERT_TRUE(PumpUntil([&] {
        std::lock_guard lock(mutex);
        return std::count(appNotices.begin(), appNotices.end(), std::make_pair(0, int{core::kReconnecting})) > 0;
    }, 5000)) << "the cell is told it reconnects";
    ASSERT_TRUE(PumpUntil([&] { return forwarding.GetStats().opens > opens; }, 10000)) << "no reopen";
    const int presents = panel->Cell(0)->Presents();
    ASSERT_TRUE(PumpUntil([&] { return Streaming(0) && panel->Cell(0)->Presents() > presents + 5; }, 10000))
        << "pictures flow again in the same cell";
    EXPECT_EQ(Camera(0)->CameraId(), id);
    EXPECT_EQ(panel->CellEntry(0), Item(id));
    EXPECT_TRUE(Item(id)->live);
    EXPECT_TRUE(reconnection.Snapshot().empty()) << "the reopen ends the pending reconnection";
}

// An open whose cached forwarding address no longer answers (-4) puts the cell in
// the reconnection table. Until the supervisor's reopen the cell keeps its camera: live
// in the tree, not taken as free, not opened a second time, and saying it reconnects;
// after the reopen it plays with the same marks.
TEST_F(LiveWithSim, ACellWhoseOpenFailsWaitsForItsReconnectionWithItsCamera) {
    session::SupervisorEnvironment environment;
    environment.requestAddress = [this](const std::string& id) { return client->RequestForwardingAddress(id); };
    environment.cellWindow = [](int cell) { return media::CameraRegistry::Instance().GetOrCreate(cell)->DisplayWindow(); };
    environment.postNotify = [this](platform::Message m) { return platform::PostWindowMessage(notify, std::move(m)); };
    environment.postTask = [this](platform::Message m) { return PostTask(std::move(m)); };
    environment.intervalMs = 1500;
    supervisor = std::make_unique<session::ReconnectSupervisor>(reconnection, environment);

    const std::string id = CameraId(1);
    Item(id)->forwardingIp = "127.0.0.1";
    Item(id)->forwardingPort = 1;  // nothing listens there
    DoubleClick(id);
    ASSERT_TRUE(PumpUntil([&] { return reconnection.Snapshot().count(0) == 1; }, 10000));
    ASSERT_TRUE(PumpUntil([&] { return panel->Cell(0)->Caption().toStdString() == "重连中,请稍后…"; }, 5000));
    EXPECT_TRUE(Item(id)->live);
    EXPECT_EQ(host.Image(id, "sxt_logo"), ui::CTreeList::kIconCameraLive);
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(results.empty()) << "no failed-open result";
    }
    DoubleClick(id);
    live->OpenCamera(Node(CameraId(2)), -1);
    EXPECT_EQ(panel->FindCellByCameraId(id), 0) << "the camera is not opened twice";
    EXPECT_EQ(panel->FindCellByCameraId(CameraId(2)), 1) << "the waiting cell is not free";

    ASSERT_TRUE(supervisor->Start());
    ASSERT_TRUE(PumpUntil([&] { return Streaming(0) && reconnection.Snapshot().empty(); }, 20000));
    EXPECT_EQ(Camera(0)->CameraId(), id);
    EXPECT_TRUE(Item(id)->live);
    EXPECT_EQ(host.Image(id, "sxt_logo"), ui::CTreeList::kIconCameraLive);
    EXPECT_EQ(panel->CellEntry(0), Item(id));
    EXPECT_NE(Item(id)->forwardingPort, 1) << "the address that works is cached";
}

// A stop that arrives after the user closed the cell is stale: nothing reopens.
TEST_F(LiveWithSim, AStaleLiveStopChangesNothing) {
    const std::string id = CameraId(1);
    DoubleClick(id);
    ASSERT_TRUE(PumpUntil([&] { return Streaming(0); }, 20000));
    Button("sxt_start", id);  // the user closes it
    ASSERT_TRUE(PumpUntil([&] { return !Camera(0)->IsOpen(); }, 5000));
    platform::Message stop(core::kTaskLiveStreamStopped, 0, 0, platform::MakePayload(id));
    tasks::LiveTaskEnvironment tasks;
    tasks::HandleLiveStreamStopped(stop, reconnection, tasks);
    EXPECT_TRUE(reconnection.Snapshot().empty());
}
