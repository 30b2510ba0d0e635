// The main window against the real skin: start-up, the message table before and after
// InitWindow, keys, tabs, rights, the tree refresh, video parameters, the status bar
// and cell texts, and the exit dialog's results.
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <set>
#include <thread>

#include "core/message_ids.h"
#include "main_win_fixture.h"
#include "mainwin/tree_refresh.h"
#include "tasks/tree_refresh_task.h"
#include "mainwin/video_params.h"
#include "platform/ini_file.h"
#include "ui/pop_up_dlg.h"

using testing_support::MainWinTest;
using testing_support::TextOf;
using namespace mainwin;

namespace {

// Records what the message table does with messages that arrive during InitWindow.
class EarlyMessagesWin final : public CMainWin {
public:
    using CMainWin::CMainWin;
    void InitWindow() override {
        for (std::uint32_t id : {core::kCellResult, core::kAppNotify}) {
            platform::Message message(id, 0, core::kReconnecting);
            bool handled = true;
            HandleMessage(message, handled);
            earlyHandled.push_back(handled);
        }
        CMainWin::InitWindow();
    }
    std::vector<bool> earlyHandled;
};

}  // namespace

TEST_F(MainWinTest, StartUpSendsItsRequestsRegistersItselfAndFillsItsPages) {
    Open();
    ASSERT_TRUE(window->IsInitialised());
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].first, 43);
    EXPECT_EQ(requests[0].second, (Params{{"start", "0"}, {"count", "100"}}));
    EXPECT_EQ(requests[1], (std::pair<int, Params>{63, {}}));
    EXPECT_EQ(requests[2], (std::pair<int, Params>{60, {}}));
    EXPECT_TRUE(window->MessageListRequested());
    EXPECT_EQ(notifyWindow, window->GetHWND());
    EXPECT_EQ(installedQueue, &window->Replies());
    EXPECT_EQ(TextOf(*window, "username"), "demo");
    EXPECT_EQ(window->CurrentTab(), CMainWin::kPreview);
    EXPECT_EQ(TextOf(*window, "ckSchTimeStart").substr(10), " 00:00:00");
    EXPECT_EQ(TextOf(*window, "ckSchTimeStop").substr(10), " 23:59:59");
    EXPECT_EQ(TextOf(*window, "VSWSoftVersion"), "V1.1.1.0");
    EXPECT_EQ(TextOf(*window, "VSWIssueDate"), "2026年12月8日");
    EXPECT_EQ(TextOf(*window, "VMSavePathEdit"), "/tmp/records");
    EXPECT_EQ(TextOf(*window, "VMSaveTimecb"), "20天");
    EXPECT_EQ(TextOf(*window, "VMFileSizecb"), "50分钟");
    EXPECT_NE(window->Trees().FindItem(ui::CCameraTrees::kLive, "c4"), nullptr) << "the trees are built";
    ASSERT_NE(window->LiveWall(), nullptr);
    ASSERT_NE(window->PlaybackWall(), nullptr);
    EXPECT_TRUE(window->LiveWall()->isVisible());
    EXPECT_FALSE(window->PlaybackWall()->isVisible());
    EXPECT_EQ(window->PlaybackWall()->Layout(), 1);
    // Over its place in the skin: inside the window's 1-pixel frame, 10 pixels from the
    // edge and from the tree column, below the title bar and the layout buttons.
    EXPECT_EQ(window->LiveWall()->geometry(), QRect(11, 116, 1280 - 32 - CMainWin::kDefaultTreeColumnWidth, 800 - 172));
    EXPECT_EQ(window->Panels().size(), 6u) << "five panels and the map's notice";
    EXPECT_TRUE(window->Replies().HasHandler(51)) << "the feedback answer is the window's own";
}

TEST_F(MainWinTest, TheTreeColumnTakesTheWidthTheUserDragsItToAndTheWallFollows) {
    Open();
    QWidget* host = window->GetWidget();
    auto* splitter = host->findChild<QSplitter*>("previewSplitter");
    auto* column = host->findChild<QWidget*>("previewSide");
    auto* place = host->findChild<QWidget*>("wallPlace");
    ASSERT_TRUE(splitter && column && place);
    EXPECT_EQ(column->width(), CMainWin::kDefaultTreeColumnWidth);
    auto overPlace = [&] { return QRect(place->mapTo(host, QPoint(0, 0)), place->size()); };

    // The handle dragged 80 pixels to the left.
    QSplitterHandle* handle = splitter->handle(1);
    ASSERT_NE(handle, nullptr);
    const QPoint grip = handle->mapToGlobal(handle->rect().center());
    // The handle moves with the drag: each point is placed from the screen.
    auto mouse = [&](QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
        QMouseEvent event(type, handle->mapFromGlobal(global), global, Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(handle, &event);
    };
    mouse(QEvent::MouseButtonPress, grip, Qt::LeftButton);
    mouse(QEvent::MouseMove, grip - QPoint(40, 0), Qt::LeftButton);
    mouse(QEvent::MouseMove, grip - QPoint(80, 0), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, grip - QPoint(80, 0), Qt::NoButton);
    QApplication::processEvents();
    const int dragged = CMainWin::kDefaultTreeColumnWidth + 80;
    EXPECT_EQ(column->width(), dragged);
    EXPECT_EQ(window->LiveWall()->geometry(), overPlace());

    // A larger window gives its room to the wall; the column keeps its width.
    host->resize(1500, 900);
    QApplication::processEvents();
    EXPECT_EQ(column->width(), dragged);
    EXPECT_EQ(window->LiveWall()->geometry(), overPlace());
    EXPECT_EQ(window->LiveWall()->width(), 1500 - 32 - dragged);

    // Remembered in the settings, and the next window starts with it.
    ASSERT_TRUE(QTest::qWaitFor([] { return core::AppConfig::Instance().treeColumnWidth == 80 + CMainWin::kDefaultTreeColumnWidth; }, 3000));
    EXPECT_EQ(platform::ReadProfileString("MainWin", "TreeWidth", "", core::AppConfig::Instance().SavePathFilePath()),
              std::to_string(dragged));
    window.reset();
    Open();
    EXPECT_EQ(window->GetWidget()->findChild<QWidget*>("previewSide")->width(), dragged);
}

TEST_F(MainWinTest, MessagesBeforeInitWindowHasFinishedGoToTheBaseClass) {
    auto early = std::make_unique<EarlyMessagesWin>(Environment());
    ASSERT_TRUE(early->Create(0, "远程监控"));
    EXPECT_EQ(early->earlyHandled, (std::vector<bool>{false, false}));
    // Once initialised the same messages are the window's.
    ASSERT_TRUE(early->OpenCamera(Row("c4"), 0));
    bool handled = false;
    platform::Message later(core::kCellResult, 0, -7);
    early->HandleMessage(later, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(early->LiveWall()->Cell(0)->Caption().toStdString(), "无流媒体服务器");
}

TEST_F(MainWinTest, EscapeIsAlwaysHandledAndOnlyLeavesFullScreen) {
    Open();
    EXPECT_TRUE(window->ResponseDefaultKeyEvent(Qt::Key_Escape)) << "nothing in full screen";
    EXPECT_FALSE(window->IsClosed());
    EXPECT_FALSE(window->ResponseDefaultKeyEvent(Qt::Key_Return));
    window->LiveWall()->FullScreen(true);
    ASSERT_TRUE(window->LiveWall()->IsFullScreen());
    QTest::keyClick(window->GetWidget(), Qt::Key_Escape);
    EXPECT_FALSE(window->LiveWall()->IsFullScreen());
    EXPECT_FALSE(window->IsClosed());
}

TEST_F(MainWinTest, UpdataTwiceShowsTheRefreshingNoticeAndPostsOnce) {
    Open();
    std::string notice, caption;
    boxes.Then([&](ui::WindowImplBase& box) {
        notice = TextOf(box, "TextOne");
        caption = TextOf(box, "TextTwo");
        box.Close(ui::kResultOk);
    });
    Click("updata");
    Click("updata");
    EXPECT_EQ(TaskIds(), (std::vector<std::uint32_t>{core::kTaskRefreshTree}));
    EXPECT_EQ(notice, "正在刷新，请耐心稍等");
    EXPECT_EQ(caption, "提示");
    EXPECT_TRUE(window->RefreshRunning());
    // The result ends the refresh; a failure says so.
    boxes.Then([&](ui::WindowImplBase& box) {
        notice = TextOf(box, "TextOne");
        box.Close(ui::kResultOk);
    });
    Send(platform::Message(core::kTreeRefreshed, 1, 0));
    EXPECT_EQ(notice, "刷新失败，请检查网络状态");
    EXPECT_FALSE(window->RefreshRunning());
    Click("updata");
    EXPECT_EQ(tasks.size(), 2u);
}

TEST_F(MainWinTest, ARefreshThatCannotBePostedDoesNotBlockTheNextOne) {
    Open();
    refusePosts = true;
    EXPECT_FALSE(window->RequestTreeRefresh());
    EXPECT_FALSE(window->RefreshRunning());
    refusePosts = false;
    EXPECT_TRUE(window->RequestTreeRefresh());
    EXPECT_TRUE(boxes.seen.empty());
}

TEST_F(MainWinTest, ARefreshClosesCamerasThatLeftTheTreeAndKeepsTheOthersMarks) {
    Open();
    auto* wall = window->LiveWall();
    ASSERT_TRUE(window->OpenCamera(Row("c1"), 0));
    ASSERT_TRUE(window->OpenCamera(Row("c4"), 0));
    const int cellOfC1 = wall->FindCellByCameraId("c1");
    const int cellOfC4 = wall->FindCellByCameraId("c4");
    ASSERT_GE(cellOfC1, 0);
    ASSERT_GE(cellOfC4, 0);
    Row("c4")->recording = true;
    // The new list no longer has c1; c4 comes as a fresh row.
    auto old = rows;
    rows = {old[0], old[1], old[2], old[4], old[5], testing_support::CameraRow("c4", "n3", "浦东机场", true)};
    tasks.clear();
    window->RequestTreeRefresh();
    Send(platform::Message(core::kTreeRefreshed, 0, 0));
    EXPECT_FALSE(window->RefreshRunning());
    EXPECT_FALSE(old[3]->live) << "c1 is no longer live";
    EXPECT_EQ(wall->CellEntry(cellOfC1), nullptr);
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[1].id, core::kTaskCloseCell);
    EXPECT_EQ(static_cast<int>(tasks[1].wParam), cellOfC1);
    const control::ItemPtr c4 = wall->CellEntry(cellOfC4);
    ASSERT_NE(c4, nullptr);
    EXPECT_EQ(c4, rows.back()) << "the cell follows the new row";
    EXPECT_TRUE(c4->live);
    EXPECT_TRUE(c4->recording);
}

TEST_F(MainWinTest, AFrameRateTheComboDoesNotOfferLeavesItAsItWas) {
    Open();
    auto* frame = Control<ui::CComboUI>("Frame");
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->GetCount(), 11);
    frame->SelectItem(3);
    Send(platform::Message(core::kVideoParametersRead, 0, 0, platform::MakePayload(VideoParamRecord{0, 704, 576, 2, 25, 1})));
    EXPECT_EQ(frame->GetCurSel(), 3);
    EXPECT_EQ(TextOf(*window, "nowfbl"), "704X576");
    EXPECT_EQ(Control<ui::CComboUI>("Quality")->GetCurSel(), 2);
    EXPECT_TRUE(Control<ui::COptionUI>("Recorder")->IsSelected());
    Send(platform::Message(core::kVideoParametersRead, 0, 0, platform::MakePayload(VideoParamRecord{0, 352, 288, 0, 15, 0})));
    EXPECT_EQ(frame->GetCurSel(), 7);
    EXPECT_FALSE(Control<ui::COptionUI>("Recorder")->IsSelected());
}

TEST_F(MainWinTest, SetPostsTheChosenParametersOnlyForAConnectedLiveCell) {
    Open();
    Click("BtnSet");
    EXPECT_TRUE(tasks.empty()) << "the selected cell holds no camera";
    ASSERT_TRUE(window->OpenCamera(Row("c1"), 0));
    const int cell = window->LiveWall()->FindCellByCameraId("c1");
    window->LiveWall()->Select(cell);
    Control<ui::CComboUI>("Resolution")->SelectItem(2);
    Control<ui::CComboUI>("Quality")->SelectItem(4);
    Control<ui::CComboUI>("Frame")->SelectItem(7);
    Control<ui::COptionUI>("Recorder")->Selected(true, false);
    tasks.clear();
    sessionConnected = false;
    Click("BtnSet");
    EXPECT_TRUE(tasks.empty()) << "the session is not connected";
    sessionConnected = true;
    Click("BtnSet");
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].id, core::kTaskWriteVideoParameters);
    const auto* record = platform::PayloadAs<VideoParamRecord>(tasks[0]);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->cell, cell);
    EXPECT_EQ(record->width, 352);
    EXPECT_EQ(record->height, 288);
    EXPECT_EQ(record->quality, 4);
    EXPECT_EQ(record->frameRate, 15);
    EXPECT_EQ(record->recorder, 1);
    Click("BtnGet");
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[1].id, core::kTaskReadVideoParameters);
    EXPECT_EQ(static_cast<int>(tasks[1].wParam), cell);

    // "自动" asks for what the cell can show, not for the largest size.
    Control<ui::CComboUI>("Resolution")->SelectItem(0);
    EXPECT_EQ(Control<ui::CComboUI>("Resolution")->GetText(), "自动");
    Click("BtnSet");
    ASSERT_EQ(tasks.size(), 3u);
    const auto* automatic = platform::PayloadAs<VideoParamRecord>(tasks[2]);
    ASSERT_NE(automatic, nullptr);
    const QWidget* shown = window->LiveWall()->Cell(cell);
    const std::pair<int, int> pixels{qRound(shown->width() * shown->devicePixelRatioF()),
                                     qRound(shown->height() * shown->devicePixelRatioF())};
    EXPECT_LT(pixels.first, 1000) << "a cell of a wall of several cells";
    EXPECT_EQ((std::pair{automatic->width, automatic->height}), AutomaticResolution(pixels));
    EXPECT_NE((std::pair{automatic->width, automatic->height}), (std::pair{1920, 1080}));
}

TEST_F(MainWinTest, AnAccountOfKindTwoSeesTheMessageButtonAndNoSettingButton) {
    core::LoginSession session = core::AppConfig::Instance().Session();
    session.accountKind = 2;
    core::AppConfig::Instance().SetSession(session);
    Open();
    EXPECT_FALSE(Visible("settingbtn"));
    EXPECT_TRUE(Visible("Messagebtn"));
    requests.clear();
    Click("Messagebtn");
    EXPECT_EQ(window->CurrentTab(), CMainWin::kMessage);
    EXPECT_EQ(requests, (std::vector<std::pair<int, Params>>{{60, {}}}));
    EXPECT_TRUE(window->TakeMessageListFlag());
    EXPECT_FALSE(window->MessageListRequested());
}

TEST_F(MainWinTest, AnAccountHolderSeesTheSettingButtonAndNoMessageButton) {
    Open();
    EXPECT_TRUE(Visible("settingbtn"));
    EXPECT_FALSE(Visible("Messagebtn"));
}

TEST_F(MainWinTest, TheMapTabHidesBothWallsAndSaysThereIsNoMapYet) {
    Open();
    Click("settingbtn");
    EXPECT_TRUE(Visible("SettingPanel"));
    EXPECT_FALSE(Visible("PreviewPannel"));
    Click("playbackbtn");
    EXPECT_TRUE(window->PlaybackWall()->isVisible());
    EXPECT_FALSE(window->LiveWall()->isVisible());
    EXPECT_TRUE(Visible("PlayBackPanel"));
    Click("mapbtn");
    EXPECT_EQ(window->CurrentTab(), CMainWin::kMap);
    EXPECT_FALSE(window->LiveWall()->isVisible());
    EXPECT_FALSE(window->PlaybackWall()->isVisible());
    EXPECT_TRUE(Visible("MapPanel")) << "the map tab says that there is no map yet";
    EXPECT_FALSE(Visible("PlayBackPanel")) << "and shows no other tab's column";
    Click("previewbtn");
    EXPECT_TRUE(window->LiveWall()->isVisible());
    EXPECT_TRUE(Visible("PreviewPannel"));
    EXPECT_FALSE(Visible("PlayBackPanel"));
    EXPECT_TRUE(Visible("hlMainSearch"));
    EXPECT_FALSE(Visible("hlUsernamePos"));
}

namespace {

// What a user can see of the window, and what it has asked of the rest of the program.
struct Look {
    std::vector<std::string> controls;  // name, shown, enabled, checked, page, text
    int tab = -1, layout = 0, selected = -1;
    bool fullScreen = false;
    std::size_t tasks = 0, requests = 0, urls = 0, modals = 0, popups = 0;
    const QWidget* focus = nullptr;
    bool operator==(const Look&) const = default;
};

}  // namespace

// Every button a user can see on every tab and page is either disabled or does
// something that shows: a page, a dialog, a menu, a picker, a request, a task.
TEST_F(MainWinTest, EveryVisibleButtonOfTheWindowDoesSomethingOrIsDisabled) {
    Open();
    QWidget* host = window->GetWidget();
    wall::CVideoPanelMng* wall = window->LiveWall();
    sessionConnected = false;  // no camera session: what needs one is disabled
    chosenFolder = "/tmp/elsewhere";
    const std::set<std::string> ticking = {"Time", "CPUValue", "NetSpeed", "nodecount"};
    auto popups = [host] {
        std::size_t shown = 0;
        for (QWidget* top : QApplication::topLevelWidgets()) shown += top != host && top->isVisible();
        return shown;
    };
    auto look = [&] {
        Look seen;
        for (QWidget* widget : host->findChildren<QWidget*>()) {
            const std::string name = widget->objectName().toStdString();
            if (name.empty() || name.rfind("qt_", 0) == 0 || ticking.count(name)) continue;
            std::string state = name + (widget->isVisibleTo(host) ? " shown" : " hidden") +
                                (widget->isEnabled() ? "" : " disabled");
            if (auto* button = qobject_cast<QAbstractButton*>(widget)) state += button->isChecked() ? " checked" : "";
            if (auto* pages = qobject_cast<QStackedWidget*>(widget)) state += " page " + std::to_string(pages->currentIndex());
            if (auto* edit = qobject_cast<QLineEdit*>(widget)) state += " " + edit->text().toStdString();
            if (auto* label = qobject_cast<QLabel*>(widget)) state += " " + label->text().toStdString();
            seen.controls.push_back(state);
        }
        seen.tab = window->CurrentTab();
        seen.layout = wall->Layout();
        seen.selected = wall->Selected();
        seen.fullScreen = wall->IsFullScreen() || window->PlaybackWall()->IsFullScreen();
        seen.tasks = tasks.size();
        seen.requests = requests.size();
        seen.urls = openedUrls.size();
        seen.modals = boxes.seen.size();
        seen.popups = popups();
        seen.focus = host->focusWidget();
        return seen;
    };
    // The same start for every button: a camera in cell 0, chosen, nothing over the window.
    auto settle = [&](int tab, const std::function<void()>& page) {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top != host && top->isVisible()) top->close();
        QApplication::processEvents();
        if (wall->IsFullScreen()) wall->FullScreen(false);
        if (window->PlaybackWall()->IsFullScreen()) window->PlaybackWall()->FullScreen(false);
        if (!wall->CellEntry(0)) window->OpenCamera(Row("c1"), 0);
        wall->Select(0);
        window->SelectTab(tab);
        window->ShowSideView(CMainWin::SideView::kPanTilt);
        if (page) page();
        window->UpdateControlStates();
        QApplication::processEvents();
    };
    // A click that would change nothing from where the window stands (the tab already
    // open, the layout already chosen) is tried from elsewhere.
    const std::map<std::string, int> tabButtons = {{"previewbtn", CMainWin::kPreview}, {"playbackbtn", CMainWin::kPlayback},
                                                   {"alarmbtn", CMainWin::kAlarm},     {"mapbtn", CMainWin::kMap},
                                                   {"settingbtn", CMainWin::kSetting}, {"Messagebtn", CMainWin::kMessage}};
    auto elsewhere = [&](const std::string& name, QAbstractButton* button) {
        if (auto tab = tabButtons.find(name); tab != tabButtons.end() && window->CurrentTab() == tab->second)
            window->SelectTab(tab->second == CMainWin::kPreview ? CMainWin::kSetting : CMainWin::kPreview);
        if (name.rfind("Win", 0) == 0 && wall->Layout() == std::atoi(name.c_str() + 3))
            wall->SetLayout(wall->Layout() == 4 ? 9 : 4);
        using View = CMainWin::SideView;
        const std::map<std::string, View> sides = {{"BtnNodeTree", View::kTree}, {"BtnPTZCtrl", View::kPanTilt},
                                                   {"BtnRemoteCtrl", View::kRemote}};
        if (auto side = sides.find(name); side != sides.end() && window->CurrentSideView() == side->second)
            window->ShowSideView(side->second == View::kTree ? View::kPanTilt : View::kTree);
        // A chosen option of a group: another of its group first.
        const QVariant group = button->property("group");
        if (button->isChecked() && group.isValid())
            for (auto* other : host->findChildren<ui::COptionUI*>())
                if (other != button && other->property("group") == group) {
                    other->Selected(true);
                    break;
                }
        QApplication::processEvents();
    };

    std::set<std::string> walked;
    std::vector<std::string> silent;
    auto walk = [&](int tab, const std::function<void()>& page = {}) {
        settle(tab, page);
        std::vector<QPointer<QAbstractButton>> buttons;
        for (auto* button : host->findChildren<QAbstractButton*>())
            if (!button->objectName().isEmpty() && button->isVisibleTo(host) && dynamic_cast<ui::CControlUI*>(button))
                buttons.emplace_back(button);
        for (const QPointer<QAbstractButton>& button : buttons) {
            const std::string name = button ? button->objectName().toStdString() : std::string();
            if (!button || walked.count(name)) continue;
            settle(tab, page);
            if (!button->isVisibleTo(host) || !button->isEnabled()) continue;
            elsewhere(name, button);
            button->setFocus();  // a click's own focus is nothing to see
            QApplication::processEvents();
            const Look before = look();
            // On the label's first letters: a check box takes clicks on its text only.
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(std::min(24, button->width() / 2), button->height() / 2));
            QApplication::processEvents();
            walked.insert(name);
            if (look() == before) silent.push_back(name);
        }
    };
    auto choose = [this](const char* option) {
        return [this, option] { Control<ui::COptionUI>(option)->Selected(true); };
    };
    walk(CMainWin::kPreview);
    walk(CMainWin::kPreview, choose("videoparam"));
    walk(CMainWin::kPreview, choose("grouplist"));
    walk(CMainWin::kPlayback);
    walk(CMainWin::kAlarm);
    walk(CMainWin::kMap);
    for (const char* page : {"optCamGroupConfig", "optPlayPlanConfig", "optSearchDeviceConfig", "optSaveManageConfig",
                             "optVersionConfig"})
        walk(CMainWin::kSetting, choose(page));
    settle(CMainWin::kPreview, {});

    std::string names;
    for (const std::string& name : silent) names += name + " ";
    EXPECT_TRUE(silent.empty()) << "buttons that do nothing one can see: " << names;
    for (const char* expected : {"menu", "exituser", "OpBackStage", "BtnNodeTree", "BtnPTZCtrl", "BtnRemoteCtrl", "mapbtn",
                                 "btnShowCtrlPanel", "close_all", "btnAP", "ckSchTimeStart", "btnVMSave", "searchbtn"})
        EXPECT_TRUE(walked.count(expected)) << expected << " was not walked";
    // Disabled only while they cannot act: with a connected camera in the chosen cell
    // the pan-tilt-zoom and video-parameter buttons work.
    for (const char* name : {"yt_up", "BtnGet", "BtnSet"}) EXPECT_FALSE(Control(name)->IsEnabled()) << name;
    sessionConnected = true;
    window->UpdateControlStates();
    for (const char* name : {"yt_up", "BtnGet", "BtnSet"}) EXPECT_TRUE(Control(name)->IsEnabled()) << name;
    Click("close_all");
    for (const char* name : {"yt_up", "BtnGet", "BtnSet", "close_all"}) EXPECT_FALSE(Control(name)->IsEnabled()) << name;
}

TEST_F(MainWinTest, TheChosenTabButtonWearsItsSelectedPictures) {
    Open();
    auto* setting = Control<ui::CButtonUI>("settingbtn");
    auto* preview = Control<ui::CButtonUI>("previewbtn");
    EXPECT_EQ(preview->GetNormalImage(), "file='Image\\preview4.png'");
    Click("settingbtn");
    EXPECT_EQ(setting->GetNormalImage(), "file='Image\\setting4.png' source='0,0,102,48'");
    EXPECT_EQ(setting->GetHotImage(), "file='Image\\Setting4.png'");
    EXPECT_EQ(preview->GetNormalImage(), "file='Image\\preview1.png'");
    EXPECT_EQ(preview->GetHotImage(), "file='Image\\preview2.png'");
    EXPECT_EQ(preview->GetPushedImage(), "file='Image\\preview3.png'");
    int shown = 0;
    for (const auto& [name, panel] : window->Panels()) shown += panel->IsVisible();
    EXPECT_EQ(shown, 1);
}

TEST_F(MainWinTest, RightsHideWhatTheAccountMayNotUse) {
    rightsAnswered = false;  // no answer: every right is missing
    Open();
    EXPECT_FALSE(Visible("controlpanel"));
    EXPECT_FALSE(Visible("btnShowCtrlPanel"));
    EXPECT_FALSE(Visible("optionPanel"));
    EXPECT_FALSE(Visible("playbackbtn"));
    EXPECT_EQ(window->Rights(), "");
}

TEST_F(MainWinTest, WithVideoParametersOnlyTheirPageIsChosen) {
    rights = "MEDIA_PARAMS;VIDEO_PLAYBACK;";
    Open();
    EXPECT_TRUE(Visible("controlpanel"));
    EXPECT_FALSE(Visible("optionPanel"));
    EXPECT_TRUE(Control<ui::COptionUI>("videoparam")->IsSelected());
    EXPECT_EQ(Control<ui::CTabLayoutUI>("tabCtrls")->GetCurSel(), 1);
    EXPECT_TRUE(Visible("playbackbtn"));
}

TEST_F(MainWinTest, OptionGroupsTurnTheirPages) {
    Open();
    Control<ui::COptionUI>("grouplist")->Selected(true);
    EXPECT_EQ(Control<ui::CTabLayoutUI>("tabDevs")->GetCurSel(), 1);
    Control<ui::COptionUI>("optVersionConfig")->Selected(true);
    EXPECT_EQ(Control<ui::CTabLayoutUI>("tabSettingGroup")->GetCurSel(), 4);
    Control<ui::COptionUI>("optSaveManageConfig")->Selected(true);
    EXPECT_EQ(Control<ui::CTabLayoutUI>("tabSettingGroup")->GetCurSel(), 3);
}

TEST_F(MainWinTest, PlaceholdersLeaveOnFocusAndComeBackWhenEmpty) {
    Open();
    ui::CControlUI* search = Control("search_edit");
    ASSERT_EQ(search->GetText(), "请输入关键字");
    window->m_PaintManager.SendNotify(search, ui::notify::kSetFocus);
    EXPECT_EQ(search->GetText(), "");
    window->m_PaintManager.SendNotify(search, ui::notify::kKillFocus);
    EXPECT_EQ(search->GetText(), "请输入关键字");
    search->SetText("西湖");
    window->m_PaintManager.SendNotify(search, ui::notify::kKillFocus);
    window->m_PaintManager.SendNotify(search, ui::notify::kSetFocus);
    EXPECT_EQ(search->GetText(), "西湖") << "a typed text is no placeholder";
}

TEST_F(MainWinTest, FlagsFollowTheTaskResultsOfLiveCamerasOnly) {
    Open();
    Send(WithId(core::kListenStarted, "c1", 1));
    EXPECT_FALSE(Row("c1")->listening) << "not live";
    ASSERT_TRUE(window->OpenCamera(Row("c1"), 0));
    Send(WithId(core::kListenStarted, "c1", 0));
    EXPECT_FALSE(Row("c1")->listening) << "the start failed";
    Send(WithId(core::kListenStarted, "c1", 1));
    EXPECT_TRUE(Row("c1")->listening);
    Send(WithId(core::kListenStopped, "c1", 1));
    EXPECT_FALSE(Row("c1")->listening);
    Send(WithId(core::kRecordStarted, "c1", 1));
    EXPECT_TRUE(Row("c1")->recording);
    Send(WithId(core::kRecordStopped, "c1", 1));
    EXPECT_FALSE(Row("c1")->recording);
    Send(WithId(core::kTalkStateChanged, "c1", 1));
    EXPECT_TRUE(window->Live()->TalkActive());
    EXPECT_TRUE(Row("c1")->talking);
    Send(WithId(core::kTalkRefused, "c1"));
    EXPECT_FALSE(Row("c1")->talking);
    EXPECT_TRUE(window->Live()->TalkActive()) << "only 1058 ends the talk-active state";
    Send(WithId(core::kListenStarted, "no-such-camera", 1));  // ignored, payload freed
    Send(platform::Message(core::kListenStarted, 0, 1));      // no id at all
}

TEST_F(MainWinTest, ToolbarRequestsAreRelayedWithTheirOwnIdOnlyForLiveCameras) {
    Open();
    Send(WithId(core::kListenOnRequest, "c1"));
    EXPECT_TRUE(tasks.empty());
    ASSERT_TRUE(window->OpenCamera(Row("c1"), 0));
    tasks.clear();
    for (std::uint32_t id : {core::kListenOnRequest, core::kListenOffRequest, core::kRecordOnRequest, core::kRecordOffRequest, core::kTalkOffRequest})
        Send(WithId(id, "c1"));
    EXPECT_EQ(TaskIds(), (std::vector<std::uint32_t>{core::kTaskStartListen, core::kTaskStopListen, core::kTaskStartRecord,
                                                     core::kTaskStopRecord, core::kTaskStopTalk}));
    for (const auto& task : tasks) {
        const auto* id = platform::PayloadAs<std::string>(task);
        ASSERT_NE(id, nullptr);
        EXPECT_EQ(*id, "c1");
    }
}

TEST_F(MainWinTest, ToolbarOpenAndCloseReachTheWall) {
    Open();
    Send(WithId(core::kOpenCameraRequest, "c4", 5));
    EXPECT_EQ(window->LiveWall()->FindCellByCameraId("c4"), 5);
    ASSERT_EQ(tasks.size(), 1u);
    const auto* open = platform::PayloadAs<core::OpenRequest>(tasks[0]);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->cell, 5);
    EXPECT_EQ(open->cameraId, "c4");
    Send(WithId(core::kCloseCameraRequest, "c4"));
    EXPECT_EQ(window->LiveWall()->FindCellByCameraId("c4"), -1);
    EXPECT_FALSE(Row("c4")->live);
    EXPECT_EQ(tasks.back().id, core::kTaskCloseCell);
}

TEST_F(MainWinTest, ForwardingAddressesAreStoredInTheRow) {
    Open();
    Send(platform::Message(core::kForwardingAddressFetched, 0, 0,
                           platform::MakePayload(core::ForwardingAddressNotice{"c4", "127.0.0.1", 19001})));
    EXPECT_EQ(Row("c4")->forwardingIp, "127.0.0.1");
    EXPECT_EQ(Row("c4")->forwardingPort, 19001);
}

TEST_F(MainWinTest, TheStatusBarTicksAndCellTextsExpire) {
    Open();
    receivedBytes = 5000;
    Send(platform::Message(core::kWmTimer, kStatusTimer, 0));
    EXPECT_EQ(TextOf(*window, "NetSpeed"), "4KB");
    EXPECT_EQ(TextOf(*window, "nodecount"), "1") << "one area, 华东区, whether a permission tree is placed or not";
    EXPECT_EQ(TextOf(*window, "Time").size(), 8u);
    EXPECT_NE(TextOf(*window, "CPUValue").find('%'), std::string::npos);
    Send(platform::Message(core::kWmTimer, kStatusTimer, 0));
    EXPECT_EQ(TextOf(*window, "NetSpeed"), "0KB") << "the counter starts again each second";

    // A reconnecting camera's notice goes with the window's timer of its cell.
    ASSERT_TRUE(window->OpenCamera(Row("c1"), 7));
    Send(platform::Message(core::kAppNotify, 7, core::kReconnecting, platform::MakePayload(std::string("c1"))));
    EXPECT_EQ(window->LiveWall()->Cell(7)->Caption().toStdString(), "重连中,请稍后…");
    Send(platform::Message(core::kWmTimer, ui::kCellTextTimerBase + 7, 1));  // a control's timer of that id
    EXPECT_EQ(window->LiveWall()->Cell(7)->Caption().toStdString(), "重连中,请稍后…");
    Send(platform::Message(core::kWmTimer, ui::kCellTextTimerBase + 7, 0));
    EXPECT_EQ(window->LiveWall()->Cell(7)->Caption().toStdString(), "");
}

TEST_F(MainWinTest, QueuedRepliesAreDrainedOnTheWindowsThread) {
    Open();
    std::vector<std::string> seen;
    window->Replies().RegisterHandler(63, [&](const control::ControlMessage& reply) {
        seen.push_back(reply.Param("userGroupIdList"));
    });
    auto callback = window->Replies().Callback();
    std::thread reader([&] {
        callback(1, 63, {{"userGroupIdList", "1;2"}}, nullptr);
        callback(2, 999, {}, nullptr);  // no handler: dropped
        callback(3, 63, {{"userGroupIdList", "3"}}, nullptr);
    });
    reader.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 2000));
    EXPECT_EQ(seen, (std::vector<std::string>{"1;2", "3"}));
    EXPECT_EQ(window->Replies().Size(), 0u);
}

TEST_F(MainWinTest, TheExitDialogsResultsDecideWhetherTheWindowCloses) {
    Open();
    boxes.Then([](ui::WindowImplBase& dialog) {
        EXPECT_EQ(dialog.GetWindowClassName(), "ShutDownWnd");
        dialog.m_PaintManager.SendNotify(dialog.m_PaintManager.FindControl("CloseBtn"), ui::notify::kClick);
    });
    Click("closebtn");
    EXPECT_FALSE(window->IsClosed()) << "33 keeps the window";
    for (auto [button, code] : {std::pair{"change_user", ui::kResultChangeUser}, std::pair{"shut_down", ui::kResultOk}}) {
        window.reset();
        Open();
        const std::string name = button;
        boxes.Then([this](ui::WindowImplBase&) { QTimer::singleShot(0, [this] { Click("closebtn"); }); });
        boxes.Then([name](ui::WindowImplBase& dialog) {
            dialog.m_PaintManager.SendNotify(dialog.m_PaintManager.FindControl(name), ui::notify::kClick);
        });
        EXPECT_EQ(window->ShowModal(), code) << name;
    }
    // "退出" asks with the same dialog: staying keeps the window, leaving ends the program.
    window.reset();
    Open();
    boxes.Then([](ui::WindowImplBase& dialog) {
        EXPECT_EQ(dialog.GetWindowClassName(), "ShutDownWnd");
        dialog.m_PaintManager.SendNotify(dialog.m_PaintManager.FindControl("CloseBtn"), ui::notify::kClick);
    });
    Click("exituser");
    EXPECT_FALSE(window->IsClosed()) << "the user chose to stay";
    EXPECT_EQ(boxes.Pending(), 0u);
    boxes.Then([this](ui::WindowImplBase&) { QTimer::singleShot(0, [this] { Click("exituser"); }); });
    boxes.Then([](ui::WindowImplBase& dialog) {
        EXPECT_EQ(dialog.GetWindowClassName(), "ShutDownWnd");
        dialog.m_PaintManager.SendNotify(dialog.m_PaintManager.FindControl("shut_down"), ui::notify::kClick);
    });
    EXPECT_EQ(window->ShowModal(), ui::kResultOk) << "exituser ends the program once confirmed";
}

TEST_F(MainWinTest, TheManagementPageGoesToTheDesktopsUrlHandlerOnlyAndAFailureIsShown) {
    // No address configured, or one that is no web address: the user is told, nothing opens.
    std::string notice;
    auto read = [&notice](ui::WindowImplBase& box) {
        notice = TextOf(box, "TextOne") + "|" + TextOf(box, "TextTwo");
        box.Close(ui::kResultOk);
    };
    for (const char* address : {"", "  ", "iexplore.exe", "ftp://127.0.0.1/manage", "javascript:alert(1)"}) {
        core::AppConfig::Instance().managementAddress = address;
        window.reset();
        Open();
        boxes.Then(read);
        Click("OpBackStage");
        EXPECT_TRUE(openedUrls.empty()) << address;
        const bool none = QString(address).trimmed().isEmpty();
        EXPECT_EQ(notice.substr(0, notice.find('|')),
                  none ? "未配置管理后台地址" : "管理后台地址无效（应以 http:// 或 https:// 开头）：") << address;
        if (none) {
            EXPECT_NE(notice.find("mngAddr"), std::string::npos) << "where to set it";
        }
    }
    core::AppConfig::Instance().managementAddress = " http://127.0.0.1/manage ";
    window.reset();
    Open();
    EXPECT_NE(Control<ui::CButtonUI>("OpBackStage")->toolTip().indexOf("http://127.0.0.1/manage"), -1);
    Click("OpBackStage");
    EXPECT_EQ(openedUrls, std::vector<std::string>{"http://127.0.0.1/manage"});

    // No handler took it: no other program is tried, and the user gets the address.
    openedUrls.clear();
    urlOpens = false;
    boxes.Then(read);
    Click("OpBackStage");
    EXPECT_EQ(openedUrls, std::vector<std::string>{"http://127.0.0.1/manage"});
    EXPECT_EQ(notice, "无法打开管理页面，请在浏览器中打开：|http://127.0.0.1/manage");
}

TEST_F(MainWinTest, OpenFailuresShowTheirTextAndEndTheLiveMark) {
    Open();
    ASSERT_TRUE(window->OpenCamera(Row("c4"), 0));
    const int cell = window->LiveWall()->FindCellByCameraId("c4");
    Row("c4")->forwardingIp = "127.0.0.1";
    Row("c4")->forwardingPort = 19001;
    Send(platform::Message(core::kCellResult, static_cast<std::uintptr_t>(cell), -8));
    EXPECT_FALSE(Row("c4")->live);
    EXPECT_EQ(Row("c4")->forwardingIp, "") << "the next open asks for a new address";
    EXPECT_EQ(Row("c4")->forwardingPort, 0);
    Send(platform::Message(core::kCellResult, static_cast<std::uintptr_t>(cell), -2));
    EXPECT_EQ(window->LiveWall()->Cell(cell)->Caption().toStdString(), "不在开放时间段内");
    Send(platform::Message(core::kCellResult, 999, -7));  // no such cell: ignored
}
