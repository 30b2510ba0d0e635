// The live view's rules without a service: what is posted, what is told to the user.
#include <QApplication>
#include <gtest/gtest.h>

#include <functional>

#include "core/message_ids.h"
#include "ui/live_view.h"
#include "ui/toolkit/ui_executor.h"
#include "ui/tree_fixture.h"
#include "wall/video_panel_mng.h"

namespace {

class LiveViewRules : public ::testing::Test {
protected:
    void SetUp() override {
        host.trees.BuildAll(testing_support::ThreeLevelRows());
        mainWindow = platform::CreateWindowHandle([](platform::Message&) -> std::intptr_t { return 0; }, ui::UiExecutor());
        wall::WallEnvironment wallEnvironment;
        wallEnvironment.cellsSwapped = [](int, int) {};
        wallEnvironment.screenSize = [] { return QSize(1920, 1080); };
        wallEnvironment.pictureSize = [](int, const std::string&) { return QSize(); };
        panel = std::make_unique<wall::CVideoPanelMng>(mainWindow, nullptr, wallEnvironment);
        panel->resize(400, 300);
        panel->SetLayout(4);
        ui::LiveViewEnvironment environment;
        environment.postTask = [this](platform::Message m) {
            posted.push_back(m.id);
            return true;
        };
        environment.notice = [this](const std::string& a, const std::string& b) { notices.emplace_back(a, b); };
        environment.renew = [this](const std::string&, const std::string&) {
            if (duringRenewal) duringRenewal();  // what happens while the dialog runs
            return renewal;
        };
        environment.talkAddress = [this](const std::string&) { return talkAddress; };
        live = std::make_unique<ui::CLiveView>(host.trees, environment);
        live->SetWall(panel.get());
    }
    void TearDown() override {
        live.reset();
        panel.reset();
        platform::DestroyWindowHandle(mainWindow);
    }
    control::ItemPtr Item(const std::string& id) { return host.trees.FindItem(ui::CCameraTrees::kLive, id); }
    void Send(std::uint32_t id, const std::string& camera, std::intptr_t lParam = 0) {
        platform::Message m(id, 0, lParam, platform::MakePayload(camera));
        EXPECT_TRUE(live->HandleMessage(m));
    }
    // 1030 and 1042 about a cell; without a camera id when `camera` is empty.
    void SendCell(std::uint32_t id, int cell, std::intptr_t code, const std::string& camera = {}) {
        platform::Message m(id, static_cast<std::uintptr_t>(cell), code);
        if (!camera.empty()) m = platform::Message(id, static_cast<std::uintptr_t>(cell), code, platform::MakePayload(camera));
        EXPECT_TRUE(live->HandleMessage(m));
    }
    bool Tick(std::uintptr_t timer, std::intptr_t control = 0) {
        platform::Message m(core::kWmTimer, timer, control);
        return live->HandleMessage(m);
    }

    testing_support::TreeHost host;
    platform::WindowHandle mainWindow = 0;
    std::unique_ptr<wall::CVideoPanelMng> panel;
    std::unique_ptr<ui::CLiveView> live;
    std::vector<std::uint32_t> posted;
    std::vector<std::pair<std::string, std::string>> notices;
    std::optional<ui::RenewalReply> renewal;
    std::function<void()> duringRenewal;
    control::TransportAddress talkAddress;
};

TEST_F(LiveViewRules, RenewalRefusalsAreToldAndOpenNothing) {
    // c3 is active and lapsed.
    for (int status : {-2, -3, 0, 5}) {
        renewal = ui::RenewalReply{status, "", "c3", ""};
        notices.clear();
        live->OpenWithChecks(host.Node("c3"));
        ASSERT_EQ(notices.size(), 1u) << status;
        EXPECT_EQ(notices[0].first, ui::RenewalFailureText(status));
        EXPECT_EQ(notices[0].second, "续费失败");
    }
    renewal.reset();  // the dialog was left: OpenCamera refuses the lapsed camera itself
    live->OpenWithChecks(host.Node("c3"));
    EXPECT_TRUE(posted.empty());
    renewal = ui::RenewalReply{1, "365", "c3", "2027-12-08"};
    live->OpenWithChecks(host.Node("c3"));
    EXPECT_EQ(posted, std::vector<std::uint32_t>{core::kTaskOpenCamera});
    EXPECT_EQ(host.Text("c3", "expired"), "2027-12-08");
    EXPECT_EQ(Item("c3")->expiryDate, "2027-12-08");
}

// The renewal dialog runs its own event loop; a tree refresh meanwhile frees the node
// the double-click came from and replaces the camera's row.
TEST_F(LiveViewRules, RenewalCarriesOnWithTheCamerasRowsAfterTheDialog) {
    renewal = ui::RenewalReply{1, "365", "c3", "2027-12-08"};
    duringRenewal = [this] { host.trees.BuildAll(testing_support::ThreeLevelRows()); };
    const control::ItemPtr before = Item("c3");
    live->OpenWithChecks(host.Node("c3"));
    ASSERT_NE(Item("c3"), before) << "the refresh made a new row";
    EXPECT_FALSE(Item("c3")->expired);
    EXPECT_EQ(Item("c3")->expiryDate, "2027-12-08");
    EXPECT_EQ(host.Text("c3", "expired"), "2027-12-08");
    EXPECT_TRUE(Item("c3")->live);
    EXPECT_EQ(posted, std::vector<std::uint32_t>{core::kTaskOpenCamera});
    EXPECT_EQ(panel->CellEntry(0), Item("c3"));

    // The camera left the tree while the dialog ran: nothing is opened or told.
    posted.clear();
    duringRenewal = [this] {
        auto rows = testing_support::ThreeLevelRows();
        std::erase_if(rows, [](const control::ItemPtr& row) { return row->id == "c3"; });
        host.trees.BuildAll(rows);
    };
    host.trees.BuildAll(testing_support::ThreeLevelRows());
    renewal = ui::RenewalReply{-2, "", "c3", ""};
    live->OpenWithChecks(host.Node("c3"));
    EXPECT_TRUE(posted.empty());
    EXPECT_TRUE(notices.empty());
}

TEST_F(LiveViewRules, TalkNeedsALiveCameraAndAConnectedCaptureSide) {
    Send(core::kTalkOnRequest, "c1");
    EXPECT_TRUE(posted.empty()) << "not live: nothing";
    live->OpenCamera(host.Node("c1"), -1);
    posted.clear();
    talkAddress.status = -3;
    Send(core::kTalkOnRequest, "c1");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], std::make_pair(std::string("采集端还未连上！"), std::string("错误")));
    talkAddress.status = -1;
    Send(core::kTalkOnRequest, "c1");
    EXPECT_EQ(notices.size(), 1u) << "other statuses are silent";
    EXPECT_TRUE(posted.empty());
    // Listening and recording relays only for live cameras; their replies set the flags.
    Send(core::kListenOnRequest, "c1");
    Send(core::kRecordOnRequest, "c2");
    EXPECT_EQ(posted, std::vector<std::uint32_t>{core::kTaskStartListen});
    Send(core::kListenStarted, "c1", 1);
    EXPECT_TRUE(Item("c1")->listening);
    Send(core::kListenStopped, "c1", 1);
    EXPECT_FALSE(Item("c1")->listening);

    // Refusals keep the marks off and say why: no output device, no microphone, or
    // neither (the server said no).
    notices.clear();
    Send(core::kListenStarted, "c1", core::kNoAudioOutput);
    Send(core::kListenStarted, "c1", 0);
    EXPECT_FALSE(Item("c1")->listening);
    Item("c1")->talking = true;  // as the talk request left it
    Send(core::kTalkRefused, "c1", core::kNoMicrophone);
    EXPECT_FALSE(Item("c1")->talking);
    Send(core::kTalkRefused, "c1", 0);
    const std::vector<std::pair<std::string, std::string>> told = {
        {"没有音频输出设备", "错误"}, {"打开声音失败", "错误"}, {"没有麦克风", "错误"}, {"打开对讲失败", "错误"}};
    EXPECT_EQ(notices, told);
    // About a camera closed meanwhile nothing is said.
    live->CloseCamera(host.Node("c1"));
    Send(core::kListenStarted, "c1", core::kNoAudioOutput);
    EXPECT_EQ(notices.size(), told.size());
}

TEST_F(LiveViewRules, FailedOpensForgetAStaleAddressAndReconnectNoticesNeedALiveCamera) {
    Item("c1")->forwardingIp = "10.0.0.9";
    Item("c1")->forwardingPort = 9000;
    live->OpenCamera(host.Node("c1"), -1);
    SendCell(core::kAppNotify, 0, core::kReconnecting);
    EXPECT_EQ(panel->Cell(0)->Caption().toStdString(), "重连中,请稍后…");
    SendCell(core::kCellResult, 0, -8);
    EXPECT_TRUE(Item("c1")->forwardingIp.empty());
    EXPECT_EQ(Item("c1")->forwardingPort, 0);
    EXPECT_FALSE(Item("c1")->live);
    EXPECT_EQ(host.Image("c1", "sxt_logo"), ui::CTreeList::kIconCameraActive);
    panel->SetCaption(0, "", true);
    SendCell(core::kAppNotify, 0, core::kReconnecting);
    EXPECT_TRUE(panel->Cell(0)->Caption().isEmpty()) << "not live any more";
    SendCell(core::kCellResult, 0, -7);
    EXPECT_EQ(panel->Cell(0)->Caption().toStdString(), "无流媒体服务器");
    EXPECT_FALSE(Tick(100, 1)) << "a control's timer of that id is not the cell's";
    EXPECT_EQ(panel->Cell(0)->Caption().toStdString(), "无流媒体服务器");
    EXPECT_TRUE(Tick(100));
    EXPECT_TRUE(panel->Cell(0)->Caption().isEmpty());
    EXPECT_FALSE(Tick(3));
}

// A cell waiting for its reconnection keeps its camera: live in the tree, not free,
// not opened twice, showing the notice; until the supervisor gives it up. Notices
// about a camera the cell no longer shows change nothing.
TEST_F(LiveViewRules, AReconnectingCellKeepsItsCameraUntilGivenUp) {
    live->OpenCamera(host.Node("c1"), -1);
    Item("c1")->forwardingIp = "10.0.0.9";
    Item("c1")->forwardingPort = 9000;
    platform::Message reconnecting(core::kAppNotify, 0, core::kReconnecting, platform::MakePayload(std::string("c1")));
    ASSERT_TRUE(live->HandleMessage(reconnecting));
    EXPECT_EQ(panel->Cell(0)->Caption().toStdString(), "重连中,请稍后…");
    EXPECT_TRUE(Item("c1")->live);
    EXPECT_EQ(host.Image("c1", "sxt_logo"), ui::CTreeList::kIconCameraLive);
    live->OpenCamera(host.Node("c1"), -1);
    EXPECT_EQ(panel->FindCellByCameraId("c1"), 0) << "not opened into a second cell";
    int free = 0;
    platform::WindowHandle window = 0;
    ASSERT_TRUE(panel->FindFreeCell(free, window));
    EXPECT_EQ(free, 1) << "the waiting cell is not free";

    // Stale: about another camera than the cell shows.
    SendCell(core::kAppNotify, 0, core::kConnectionFailed, "c4");
    SendCell(core::kCellResult, 0, -7, "c4");
    EXPECT_TRUE(Item("c1")->live);
    EXPECT_EQ(panel->Cell(0)->Caption().toStdString(), "重连中,请稍后…");

    platform::Message givenUp(core::kAppNotify, 0, core::kConnectionFailed, platform::MakePayload(std::string("c1")));
    ASSERT_TRUE(live->HandleMessage(givenUp));
    EXPECT_FALSE(Item("c1")->live);
    EXPECT_TRUE(Item("c1")->forwardingIp.empty());
    EXPECT_EQ(host.Image("c1", "sxt_logo"), ui::CTreeList::kIconCameraActive);
    EXPECT_EQ(panel->Cell(0)->Caption().toStdString(), "连接转发服务器失败") << "the cell says why it is empty";
}

}  // namespace
