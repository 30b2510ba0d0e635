#include "mainwin/main_win.h"

#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>
#include <ctime>

#include "core/message_ids.h"
#include "core/app_config.h"
#include "core/log_file.h"
#include "mainwin/control_helpers.h"
#include "mainwin/settings_panels.h"
#include "mainwin/small_dialogs.h"
#include "mainwin/tree_refresh.h"
#include "tasks/tree_refresh_task.h"
#include "mainwin/wall_memory.h"
#include "ui/message_box.h"
#include "ui/pickers.h"

namespace mainwin {
namespace {

constexpr const char* kTabButtons[] = {"previewbtn", "playbackbtn", "alarmbtn", "mapbtn", "settingbtn", "Messagebtn"};
constexpr const char* kTabImageStems[] = {"preview", "playback", "alarm", "map", "Setting", "message"};
constexpr const char* kPanelNames[] = {"PreviewPannel", "PlayBackPanel", "SettingPanel",
                                       "MessagePanel",  "AlarmPanel",    "MapPanel"};
constexpr int kLayoutCounts[] = {1, 4, 9, 16, 25, 36, 49, 64, 6, 8};
constexpr const char* kCellCameraButtons[] = {"yt_up",      "yt_down",     "yt_left",      "yt_right",
                                              "yt_ZoomIn",  "yt_ZoomOut",  "yt_FocusNear", "yt_FocusFar",
                                              "yt_IrisOpen", "yt_IrisClose", "BtnGet",      "BtnSet"};
constexpr const char* kSideButtons[] = {"BtnNodeTree", "BtnPTZCtrl", "BtnRemoteCtrl"};

struct TextLimit {
    const char* name;
    int characters;
};
constexpr TextLimit kTextLimits[] = {{"reQXCIP", 64},          {"reQXCMask", 64},      {"reQXCGate", 64},
                                     {"reQXCPort", 8},         {"reQXCCamName", 32},   {"reQXCPaswd", 32},
                                     {"edAccUsrNickName", 32}, {"edAccPswd", 12},      {"edAccUserName", 12},
                                     {"edAccOnlineMax", 9},    {"edAllAccOnlineMax", 9}};

struct OptionPage {
    const char* option;
    const char* tabLayout;
    int page;
};
constexpr OptionPage kOptionPages[] = {
    {"devicelist", "tabDevs", 0},          {"grouplist", "tabDevs", 1},
    {"ptzcontrol", "tabCtrls", 0},         {"videoparam", "tabCtrls", 1},
    {"optCamGroupConfig", "tabSettingGroup", 0}, {"optPlayPlanConfig", "tabSettingGroup", 1},
    {"optSearchDeviceConfig", "tabSettingGroup", 2}, {"optSaveManageConfig", "tabSettingGroup", 3},
    {"optVersionConfig", "tabSettingGroup", 4}};

struct Placeholder {
    const char* edit;
    const char* text;
};
constexpr Placeholder kPlaceholders[] = {{"search_edit", "请输入关键字"},
                                         {"rePmsFindUsrList", "请输入用户名！"},
                                         {"edGroupName", "请输入分组名称！"}};

std::string ImageAttr(const std::string& stem, int state) { return "file='Image\\" + stem + std::to_string(state) + ".png'"; }

QSize ScreenSizeOf(const MainWinEnvironment& env) {
    if (env.wallEnvironment) {
        const wall::WallEnvironment wallEnv = env.wallEnvironment();
        if (wallEnv.screenSize) return wallEnv.screenSize();
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(1920, 1080);
}

// Calls `react` for every event of the watched object (a resize, a move).
class EventHook final : public QObject {
public:
    EventHook(QObject* watched, std::function<void(QEvent*)> react) : QObject(watched), react_(std::move(react)) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        react_(event);
        return false;
    }

private:
    std::function<void(QEvent*)> react_;
};

// Turns the host's moves into message 3 for the window, as the toolbar must follow.
class MoveWatcher final : public QObject {
public:
    MoveWatcher(platform::WindowHandle window, QObject* parent) : QObject(parent), window_(window) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Move) platform::PostWindowMessage(window_, platform::Message(core::kWindowMoved, 0, 0));
        return false;
    }

private:
    platform::WindowHandle window_;
};

}  // namespace

CMainWin::CMainWin(MainWinEnvironment environment) : env_(std::move(environment)) {
    // The alarm tab comes from its own part; the skin is built after this.
    ui::AlarmPanelEnvironment alarms =
        env_.alarmPanelEnvironment ? env_.alarmPanelEnvironment() : ui::AlarmPanelEnvironment::Application();
    alarms.menuPicked = [this](const std::string& item, const std::string& id) { OnCameraMenu(item, id); };
    alarms.showAlarmTab = [this] { SelectTab(kAlarm); };
    ui::RegisterAlarmPanel(factory_, std::move(alarms));
}

CMainWin::~CMainWin() {
    // A local playback draws into the playback wall: it ends before the wall goes.
    playback_.reset();
    live_.reset();
    // Replies arriving from now on find no window; the queue itself lives on in the
    // callback until the control client lets go of it.
    replies_->SetWindow(0);
    if (env_.installReplyQueue) env_.installReplyQueue(nullptr);
    DestroyHandle();
}

bool CMainWin::PostTask(platform::Message message) {
    const std::uint32_t id = message.id;
    const bool posted = env_.postTask && env_.postTask(std::move(message));
    if (!posted) core::LogWrite("PostThreadMessage dwLastErr: %d\n", static_cast<int>(id));
    return posted;
}

void CMainWin::InitWindow() {
    auto& pm = m_PaintManager;
    // 1. Save management, the reply queue.
    saveManage_.Bind(pm);
    saveManage_.Fill(core::AppConfig::Instance());
    saveManage_.SetSavedHandler(env_.applyRecordingSettings);
    replies_->SetWindow(GetHWND());
    CFeedBackDlg::RegisterReplyHandler(*replies_, GetHWND());
    CPwdChangeDlg::RegisterReplyHandler(*replies_, GetHWND(), passwordChange_);
    if (env_.installReplyQueue) env_.installReplyQueue(replies_.get());
    core::LogWrite("init main window");

    // 2. Controls, the user name, text limits, the record mode.
    FindControls();
    SetText(pm.FindControl("username"), core::AppConfig::Instance().currentUserName);
    SetTextLimits();
    for (const char* name : {"edAccExpireTime", "edAllAccExpireTime"})
        if (auto* edit = pm.FindControl<ui::CEditUI>(name)) ui::OpenOnClick(edit, [this, edit] { OpenDatePicker(edit); });

    // 3. The panels of the tabs.
    FillPanelMap();

    // 4. The LAN device manager belongs to the device search; it starts with it.

    // 5. The first tab and the trees.
    trees_.Bind(pm);
    SelectTab(kPreview);
    trees_.BuildAll(env_.rows ? env_.rows() : std::vector<control::ItemPtr>{});
    core::LogWrite("tree loaded");

    // 6. Layout buttons, and the buttons that act on the selected cell's camera.
    layoutButtons_.clear();
    for (int count : kLayoutCounts)
        if (ui::CControlUI* button = pm.FindControl("Win" + std::to_string(count))) layoutButtons_.push_back(button);
    cellCameraButtons_.clear();
    for (const char* name : kCellCameraButtons)
        if (ui::CControlUI* button = pm.FindControl(name)) {
            cellCameraButtons_.push_back(button);
            if (QWidget* widget = button->GetWidget())
                widget->setToolTip(widget->toolTip().isEmpty() ? QString(kChooseLiveCellTip)
                                                               : widget->toolTip() + "（" + kChooseLiveCellTip + "）");
        }

    // 7. The playback search covers today.
    SetSearchDates();

    // 8. Sub-accounts, user groups and messages.
    SendStartupRequests();

    // 9. Version, status bar.
    FillVersionPanel(pm);
    statusBar_.Bind(pm);
    statusBar_.Start();
    pm.SetTimer(nullptr, kStatusTimer, 1000);

    // 10. The walls, over their places.
    CreateWalls();
    InstallMoveWatcher();
    SetUpTreeColumn();
    SetUpLiveView();
    SetUpPlayback();

    // 11. From now on the task threads report here.
    if (env_.setNotifyWindow) env_.setNotifyWindow(GetHWND());

    // 12. Rights, and ready.
    ApplyRights();
    MarkSideButtons();
    initialised_ = true;
    UpdateControlStates();
    if (GetWidget()) OnSize(GetWidget()->width(), GetWidget()->height());
    if (liveWall_) liveWall_->setFocus(Qt::OtherFocusReason);
    RestoreWallLayout();
    core::LogWrite("main window init complete");
}

void CMainWin::RestoreWallLayout() {
    const core::AppConfig& config = core::AppConfig::Instance();
    wallUser_ = config.LoginUserName();
    if (wallUser_.empty()) wallUser_ = config.currentUserName;
    if (!liveWall_ || !live_) return;
    const std::optional<SavedWall> saved = LoadWall(WallMemoryFile(wallUser_));
    if (!saved) return;
    liveWall_->Select(saved->selected);
    liveWall_->SetLayout(saved->layout, false);
    for (const auto& [cell, id] : saved->cells) {
        // A camera that left the tree (or went offline, or lapsed) is not opened again.
        if (ui::TreeNode* node = trees_.FindNode(ui::CCameraTrees::kLive, id)) live_->OpenCamera(node, cell);
    }
}

void CMainWin::SaveWallLayout() {
    if (!liveWall_ || wallUser_.empty()) return;
    SavedWall wall;
    wall.layout = liveWall_->Layout();
    wall.selected = liveWall_->Selected();
    for (int cell = 0; cell < wall::kCellCount; ++cell)
        if (const control::ItemPtr row = liveWall_->CellEntry(cell); row && row->live) wall.cells.emplace_back(cell, row->id);
    const std::string file = WallMemoryFile(wallUser_);
    if (!SaveWall(file, wall)) core::LogWrite("wall layout not saved to %s", file.c_str());
}

void CMainWin::FindControls() {
    auto& pm = m_PaintManager;
    showPanel_ = pm.FindControl("ShowPanel");
    playArea_ = pm.FindControl("RdPlayPanel");
    if (auto* backStage = pm.FindControl<ui::CButtonUI>("OpBackStage")) {
        const QString address = QString::fromStdString(core::AppConfig::Instance().managementAddress).trimmed();
        const QString tip = address.isEmpty() ? QStringLiteral("管理后台（未配置地址）") : QStringLiteral("管理后台：") + address;
        backStage->setToolTip(Qt::convertFromPlainText(tip));
    }
    for (const char* combo : {"Resolution", "Quality", "Frame", "cbRecordMode"}) AdoptComboItems(pm.FindControl<ui::CComboUI>(combo));
}

void CMainWin::SetTextLimits() {
    for (const TextLimit& limit : kTextLimits) {
        ui::CControlUI* control = m_PaintManager.FindControl(limit.name);
        if (!control) {
            core::LogWrite("main skin lacks %s", limit.name);
            continue;
        }
        SetTextLimit(control, limit.characters);
    }
}

void CMainWin::FillPanelMap() {
    panels_.clear();
    for (const char* name : kPanelNames)
        if (ui::CControlUI* panel = m_PaintManager.FindControl(name)) panels_[name] = panel;
}

void CMainWin::SetSearchDates() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char start[64], stop[64];
    std::snprintf(start, sizeof start, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, 0, 0, 0);
    std::snprintf(stop, sizeof stop, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, 23, 59, 59);
    SetText(m_PaintManager.FindControl("ckSchTimeStart"), start);
    SetText(m_PaintManager.FindControl("ckSchTimeStop"), stop);
}

void CMainWin::SendStartupRequests() {
    if (!env_.sendRequest) return;
    env_.sendRequest(43, {{"start", "0"}, {"count", "100"}});
    env_.sendRequest(63, {});
    messageListFlag_ = true;
    env_.sendRequest(60, {});
}

void CMainWin::CreateWalls() {
    QWidget* host = GetWidget();
    if (!host) return;
    const wall::WallEnvironment wallEnv = env_.wallEnvironment ? env_.wallEnvironment() : wall::WallEnvironment::Application();
    liveWall_ = new wall::CVideoPanelMng(GetHWND(), host, wallEnv);
    liveWall_->setObjectName("VideoPanelMng");
    liveWall_->setProperty("controlId", kLiveWallId);
    liveWall_->show();
    liveWall_->raise();
    playbackWall_ = new wall::CVideoPanelMng(GetHWND(), host, wallEnv);
    playbackWall_->setObjectName("PlayBackWnd");
    playbackWall_->setProperty("controlId", kPlaybackWallId);
    playbackWall_->SetLayout(1);
    playbackWall_->hide();
}

void CMainWin::InstallMoveWatcher() {
    if (!GetWidget() || moveWatcher_) return;
    moveWatcher_ = new MoveWatcher(GetHWND(), GetWidget());
    GetWidget()->installEventFilter(moveWatcher_);
}

void CMainWin::SetUpTreeColumn() {
    QWidget* host = GetWidget();
    if (!host) return;
    wallPlace_ = host->findChild<QWidget*>("wallPlace");
    playbackPlace_ = host->findChild<QWidget*>("pbWallPlace");
    if (playbackPlace_) {
        new EventHook(playbackPlace_, [this](QEvent* event) {
            if (event->type() == QEvent::Resize || event->type() == QEvent::Move || event->type() == QEvent::Show)
                if (QWidget* window = GetWidget()) PlacePlaybackWall(window->width(), window->height());
        });
    }
    treeSplitter_ = host->findChild<QSplitter*>("previewSplitter");
    treeColumn_ = host->findChild<QWidget*>("previewSide");
    if (wallPlace_) {
        // The wall follows its place wherever the layout or the splitter moves it.
        new EventHook(wallPlace_, [this](QEvent* event) {
            if (event->type() == QEvent::Resize || event->type() == QEvent::Move || event->type() == QEvent::Show)
                if (QWidget* window = GetWidget()) PlaceLiveWall(window->width(), window->height());
        });
    }
    if (!treeSplitter_ || !treeColumn_ || treeSplitter_->indexOf(treeColumn_) < 0) return;
    const int column = treeSplitter_->indexOf(treeColumn_);
    for (int i = 0; i < treeSplitter_->count(); ++i) treeSplitter_->setStretchFactor(i, i == column ? 0 : 1);
    if (QSplitterHandle* handle = treeSplitter_->handle(column)) handle->setToolTip(kTreeColumnHandleTip);
    // The remembered width is given once the splitter has its real size.
    new EventHook(treeSplitter_, [this](QEvent* event) {
        if (event->type() == QEvent::Resize && !treeWidthApplied_) ApplyTreeColumnWidth();
    });
    treeWidthSaver_ = new QTimer(treeSplitter_);
    treeWidthSaver_->setSingleShot(true);
    treeWidthSaver_->setInterval(500);
    QObject::connect(treeWidthSaver_, &QTimer::timeout, treeSplitter_, [this] {
        if (treeColumn_) core::AppConfig::Instance().SaveTreeColumnWidth(treeColumn_->width());
    });
    QObject::connect(treeSplitter_, &QSplitter::splitterMoved, treeSplitter_, [this](int, int) {
        if (treeWidthSaver_) treeWidthSaver_->start();
    });
    ApplyTreeColumnWidth();
}

void CMainWin::ApplyTreeColumnWidth() {
    if (!treeSplitter_ || !treeColumn_) return;
    const int column = treeSplitter_->indexOf(treeColumn_);
    const int total = treeSplitter_->width() - treeSplitter_->handleWidth() * (treeSplitter_->count() - 1);
    const int wanted = std::clamp(TreeColumnWidth(), treeColumn_->minimumWidth(), treeColumn_->maximumWidth());
    // Before the window has its size the splitter is too small to tell.
    if (column < 0 || total < wanted + 200) return;
    QList<int> sizes = treeSplitter_->sizes();
    int others = total - wanted;
    for (int i = 0; i < sizes.size(); ++i) sizes[i] = i == column ? wanted : std::exchange(others, 0);
    treeSplitter_->setSizes(sizes);
    treeWidthApplied_ = true;
}

int CMainWin::TreeColumnWidth() const {
    const int remembered = core::AppConfig::Instance().treeColumnWidth;
    return remembered > 0 ? remembered : kDefaultTreeColumnWidth;
}

void CMainWin::ApplyRights() {
    auto& pm = m_PaintManager;
    rights_.clear();
    if (!env_.requestAuthorityList || !env_.requestAuthorityList(rights_)) rights_.clear();
    const bool ptz = rights_.find("CLOUD_DECK") != std::string::npos;
    const bool media = rights_.find("MEDIA_PARAMS") != std::string::npos;
    const bool playback = rights_.find("VIDEO_PLAYBACK") != std::string::npos;
    if (!ptz && !media) {
        SetVisible(pm.FindControl("controlpanel"), false);
        SetVisible(pm.FindControl("btnShowCtrlPanel"), false);
    }
    if (!ptz) {
        SetVisible(pm.FindControl("optionPanel"), false);
        if (media)
            if (auto* option = pm.FindControl<ui::COptionUI>("videoparam")) option->Selected(true);
    }
    if (!media) {
        SetVisible(pm.FindControl("optionPanel"), false);
        if (ptz)
            if (auto* option = pm.FindControl<ui::COptionUI>("ptzcontrol")) option->Selected(true);
    }
    if (!playback) SetVisible(pm.FindControl("playbackbtn"), false);
    // The side buttons offer only what the account may use, and no choice of one.
    controlPanelAllowed_ = ptz || media;
    SetVisible(pm.FindControl("BtnPTZCtrl"), ptz);
    SetVisible(pm.FindControl("BtnRemoteCtrl"), media);
    SetVisible(pm.FindControl("BtnNodeTree"), ptz || media);
    SetVisible(pm.FindControl("sideButtons"), ptz || media);
    if (core::AppConfig::Instance().AccountKind() == 2) {
        SetVisible(pm.FindControl("settingbtn"), false);
        SetVisible(pm.FindControl("Messagebtn"), true);
    }
}

void CMainWin::SelectTab(int tab) {
    if (tab < kPreview || tab > kMessage) return;
    auto& pm = m_PaintManager;
    // 1. Every button back to its plain images.
    for (int i = 0; i < 6; ++i) {
        auto* button = pm.FindControl<ui::CButtonUI>(kTabButtons[i]);
        if (!button) continue;
        button->SetNormalImage(ImageAttr(kTabImageStems[i], 1));
        button->SetHotImage(ImageAttr(kTabImageStems[i], 2));
        button->SetPushedImage(ImageAttr(kTabImageStems[i], 3));
    }
    // 2. Walls that are not this tab's.
    if (tab != kPreview && liveWall_) liveWall_->hide();
    if (tab != kPlayback && playbackWall_) playbackWall_->hide();
    // 3. The chosen button and its panel.
    if (auto* button = pm.FindControl<ui::CButtonUI>(kTabButtons[tab])) {
        if (tab == kSetting) {
            button->SetNormalImage("file='Image\\setting4.png' source='0,0,102,48'");
            button->SetHotImage("file='Image\\Setting4.png'");
            button->SetPushedImage("file='Image\\Setting4.png'");
        } else {
            const std::string selected = ImageAttr(tab == kMessage ? "message" : kTabImageStems[tab], 4);
            button->SetNormalImage(selected);
            button->SetHotImage(selected);
            button->SetPushedImage(selected);
        }
    }
    auto showOnly = [this](const char* name) {
        for (auto& [panelName, panel] : panels_) panel->SetVisible(panelName == name);
    };
    switch (tab) {
        case kPreview:
            showOnly("PreviewPannel");
            SetVisible(pm.FindControl("hlMainSearch"), true);
            SetVisible(pm.FindControl("hlUsernamePos"), false);
            if (liveWall_) {
                liveWall_->show();
                liveWall_->raise();
            }
            break;
        case kPlayback:
            showOnly("PlayBackPanel");
            if (playbackWall_) {
                playbackWall_->show();
                playbackWall_->raise();
            }
            SetVisible(pm.FindControl("hlMainSearch"), false);
            SetVisible(pm.FindControl("hlUsernamePos"), true);
            break;
        case kAlarm: showOnly("AlarmPanel"); break;
        case kMap:
            // The map page says that there is no map yet; without it the tab shows nothing new.
            if (panels_.count("MapPanel")) showOnly("MapPanel");
            break;
        case kSetting:
            showOnly("SettingPanel");
            SetVisible(pm.FindControl("hlMainSearch"), false);
            SetVisible(pm.FindControl("hlUsernamePos"), true);
            break;
        case kMessage: showOnly("MessagePanel"); break;
    }
    tab_ = tab;
}

void CMainWin::OnOptionSelected(ui::CControlUI* sender) {
    const std::string name = sender->GetName();
    for (const OptionPage& entry : kOptionPages) {
        if (name != entry.option) continue;
        auto* option = dynamic_cast<ui::COptionUI*>(sender);
        if (option && !option->IsSelected()) return;  // the option that lost the selection
        auto* tabs = m_PaintManager.FindControl<ui::CTabLayoutUI>(entry.tabLayout);
        if (tabs && tabs->GetCurSel() != entry.page) tabs->SelectItem(entry.page);
        MarkSideButtons();
        return;
    }
}

void CMainWin::ShowSideView(SideView view) {
    auto& pm = m_PaintManager;
    if (view != SideView::kTree && !controlPanelAllowed_) return;
    if (view == SideView::kTree) {
        // The tree at its full height, on its device page.
        if (auto* devices = pm.FindControl<ui::COptionUI>("devicelist"); devices && !devices->IsSelected())
            devices->Selected(true);
        SetVisible(pm.FindControl("controlpanel"), false);
    } else {
        SetVisible(pm.FindControl("controlpanel"), true);
        const char* page = view == SideView::kPanTilt ? "ptzcontrol" : "videoparam";
        if (auto* option = pm.FindControl<ui::COptionUI>(page); option && !option->IsSelected()) option->Selected(true);
        // An account with only one of the two pages has no option strip: the page is set here.
        if (auto* tabs = pm.FindControl<ui::CTabLayoutUI>("tabCtrls"))
            tabs->SelectItem(view == SideView::kPanTilt ? 0 : 1);
    }
    MarkSideButtons();
}

CMainWin::SideView CMainWin::CurrentSideView() const {
    const ui::CControlUI* panel = m_PaintManager.FindControl("controlpanel");
    if (!panel || !panel->IsVisible()) return SideView::kTree;
    const auto* tabs = m_PaintManager.FindControl<ui::CTabLayoutUI>("tabCtrls");
    return tabs && tabs->GetCurSel() == 1 ? SideView::kRemote : SideView::kPanTilt;
}

void CMainWin::MarkSideButtons() {
    const SideView view = CurrentSideView();
    const SideView views[] = {SideView::kTree, SideView::kPanTilt, SideView::kRemote};
    for (int i = 0; i < 3; ++i) {
        auto* button = m_PaintManager.FindControl<ui::CButtonUI>(kSideButtons[i]);
        if (!button || button->property("current").toBool() == (views[i] == view)) continue;
        // The skin marks the button of what the column shows.
        button->setProperty("current", views[i] == view);
        button->style()->unpolish(button);
        button->style()->polish(button);
    }
}

void CMainWin::UpdateControlStates() {
    if (!initialised_ || !liveWall_) return;
    const int cell = liveWall_->Selected();
    const control::ItemPtr entry = liveWall_->CellEntry(cell);
    const bool connected = entry && entry->live && env_.cellSessionConnected && env_.cellSessionConnected(cell);
    for (ui::CControlUI* button : cellCameraButtons_)
        if (button->IsEnabled() != connected) button->SetEnabled(connected);
    bool anyOpen = false;
    for (int i = 0; i < wall::kCellCount && !anyOpen; ++i) anyOpen = liveWall_->CellEntry(i) != nullptr;
    if (ui::CControlUI* closeAll = m_PaintManager.FindControl("close_all"); closeAll && closeAll->IsEnabled() != anyOpen)
        closeAll->SetEnabled(anyOpen);
}

void CMainWin::OnFocusChange(ui::CControlUI* sender, bool gotFocus) {
    const std::string name = sender->GetName();
    for (const Placeholder& placeholder : kPlaceholders) {
        if (name != placeholder.edit) continue;
        if (gotFocus) {
            if (sender->GetText() == placeholder.text) sender->SetText("");
        } else if (sender->GetText().empty()) {
            sender->SetText(placeholder.text);
        }
        return;
    }
}

void CMainWin::OnStatusTick() {
    const std::uint64_t bytes = env_.takeReceivedBytes ? env_.takeReceivedBytes() : 0;
    statusBar_.Tick(bytes, trees_.RootNodeCount());
    // A camera that connected or went away meanwhile.
    UpdateControlStates();
    WriteWindowPictureOnce();
}

// A test hook for looking at the running program from outside: with the environment
// variable LARKVIEW_WINDOW_PICTURE naming a file, the window writes a picture of
// itself there (the format its extension names) once the first cell has shown a
// second of a camera's pictures, and logs where that cell lies in the picture.
void CMainWin::WriteWindowPictureOnce() {
    static const QString file = qEnvironmentVariable("LARKVIEW_WINDOW_PICTURE");
    if (file.isEmpty() || windowPictureWritten_ || !liveWall_ || !GetWidget()) return;
    const wall::MyVideoPanel* cell = liveWall_->Cell(0);
    if (!cell || !cell->isVisible() || cell->CameraPresents() < 25) return;
    windowPictureWritten_ = true;
    const QPoint place = GetWidget()->mapFromGlobal(cell->mapToGlobal(QPoint(0, 0)));
    const bool written = GetWidget()->grab().save(file);
    core::LogWrite("window picture %s %s: cell 0 at %d,%d size %dx%d", written ? "written to" : "could not be written to",
                   file.toLocal8Bit().constData(), place.x(), place.y(), cell->width(), cell->height());
}

bool CMainWin::RequestTreeRefresh() {
    if (refreshRunning_) {
        ui::ShowMessageBox(kRefreshingText, GetHWND(), 0, kNoticeCaption);
        return false;
    }
    refreshRunning_ = true;
    if (!PostTask(platform::Message(core::kTaskRefreshTree, 0, 0))) {
        // Nothing will answer: the next click may try again.
        refreshRunning_ = false;
        return false;
    }
    return true;
}

void CMainWin::OpenManagementPage() {
    const std::string configured = QString::fromStdString(core::AppConfig::Instance().managementAddress).trimmed().toStdString();
    if (configured.empty()) {
        const QString file = QString::fromStdString(core::AppConfig::Instance().SavePathFilePath());
        ui::ShowMessageBox(kNoManagementAddressText, GetHWND(), 0,
                           QString(kNoManagementAddressHint).arg(file).toStdString());
        return;
    }
    // Only a web address written as one goes to the browser: a bare word such as a
    // program name must not be guessed into "http://word".
    const QUrl url(QString::fromStdString(configured), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty()) {
        core::LogWrite("management address not a web address: %s\n", configured.c_str());
        ui::ShowMessageBox(kBadManagementAddressText, GetHWND(), 0, configured);
        return;
    }
    const std::string address = url.toString().toStdString();
    if (env_.openUrl && env_.openUrl(address)) return;
    // No browser took it: the user can still open the address by hand.
    core::LogWrite("management page not opened: %s\n", address.c_str());
    ui::ShowMessageBox(kPageNotOpenedText, GetHWND(), 0, address);
}

bool CMainWin::ResponseDefaultKeyEvent(int key) {
    if (key == Qt::Key_Escape) {
        if (liveWall_ && liveWall_->IsFullScreen()) liveWall_->FullScreen(false);
        if (playbackWall_ && playbackWall_->IsFullScreen()) playbackWall_->FullScreen(false);
        return true;  // never closes the main window
    }
    return false;
}

void CMainWin::OnClose() {
    // Before the logout's teardown closes the cameras: the wall as the user sees it.
    SaveWallLayout();
    if (env_.stopDeviceManager) env_.stopDeviceManager();
}

void CMainWin::PlaceLiveWall(int width, int height) {
    if (!initialised_ || !showPanel_ || !liveWall_) return;
    const QSize screen = ScreenSizeOf(env_);
    const bool screenSized = width == screen.width() && height == screen.height();
    if (screenSized && liveWall_->IsFullScreen())
        liveWall_->setGeometry(0, 0, screen.width(), screen.height());
    else if (wallPlace_ && GetWidget())
        liveWall_->setGeometry(QRect(wallPlace_->mapTo(GetWidget(), QPoint(0, 0)), wallPlace_->size()));
    else
        liveWall_->setGeometry(10, 115, std::max(0, width - 282), std::max(0, height - 170));
}

void CMainWin::OnSize(int width, int height) {
    if (!initialised_) return;
    if (!treeWidthApplied_) ApplyTreeColumnWidth();
    PlaceLiveWall(width, height);
    PlacePlaybackWall(width, height);
}

void CMainWin::PlacePlaybackWall(int width, int height) {
    if (!initialised_ || !playArea_ || !playbackWall_) return;
    const QSize screen = ScreenSizeOf(env_);
    const bool screenSized = width == screen.width() && height == screen.height();
    if (screenSized && playbackWall_->IsFullScreen())
        playbackWall_->setGeometry(0, 0, screen.width(), screen.height());
    else if (playbackPlace_ && GetWidget())
        playbackWall_->setGeometry(QRect(playbackPlace_->mapTo(GetWidget(), QPoint(0, 0)), playbackPlace_->size()));
    else
        playbackWall_->setGeometry(255, 113, std::max(0, width - 515), std::max(0, height - 340));
}

const std::string& CMainWin::RecordMode() const {
    static const std::string none;
    return playback_ ? playback_->RecordMode() : none;
}

void CMainWin::SetUpPlayback() {
    playback::PlaybackEnvironment env;
    env.postTask = [this](platform::Message message) { return PostTask(std::move(message)); };
    const platform::WindowHandle window = GetHWND();
    env.messageBox = [window](const std::string& first, const std::string& second) {
        ui::ShowMessageBox(first, window, 0, second);
    };
    env.recordRoot = [] { return core::AppConfig::Instance().recordSavePath; };
    env.nowMs = env_.playbackClockMs;
    env.refreshTree = [this] { RequestTreeRefresh(); };
    env.chooseSaveFile = env_.chooseSaveFile;
    if (!env.chooseSaveFile)
        env.chooseSaveFile = [this](const std::string& title, const std::string& suggested, const std::string& filter) {
            return QFileDialog::getSaveFileName(GetWidget(), QString::fromStdString(title),
                                                QString::fromStdString(suggested), QString::fromStdString(filter))
                .toStdString();
        };
    env.engine = env_.playbackEngine ? env_.playbackEngine() : nullptr;
    playback_ = std::make_unique<playback::PlaybackPanel>(std::move(env));
    playback_->Bind(m_PaintManager, trees_, playbackWall_, GetHWND());
}

void CMainWin::OnGetMinMaxInfo(QSize& minimum, QSize& maximum) {
    // The window manager keeps a maximised window in the work area; full screen needs
    // the whole screen, so that is the largest size allowed.
    maximum = ScreenSizeOf(env_).expandedTo(minimum);
}

control::ItemPtr CMainWin::LiveItem(const std::string& cameraId) const {
    if (cameraId.empty()) return nullptr;
    return trees_.FindItem(ui::CCameraTrees::kLive, cameraId);
}

}  // namespace mainwin
