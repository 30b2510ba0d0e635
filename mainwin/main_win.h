#pragma once
// The main window of a logged-in session: the tab bar and its panels, the camera
// trees, the live and playback walls (child windows placed by OnSize), the
// pan-tilt-zoom and video-parameter controls and the status bar. It is the hub of the
// user-interface thread: notifications become commands or go to the panel handlers,
// long work is posted to the task threads, and results come back as window messages
// (main_win_messages.cpp) and as queued control replies (reply_queue.h).
//
// Files: main_win.cpp (start-up, layout, tabs, rights, option groups, placeholders),
// main_win_messages.cpp (the window-message table; the live range goes on to the live
// view), main_win_notify.cpp (notifications),
// main_win_live.cpp (opening and closing cameras from the tree and the camera menus).

#include <QPointer>
#include <QSplitter>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "control/control_types.h"
#include "mainwin/main_win_environment.h"
#include "mainwin/reply_queue.h"
#include "mainwin/settings_panels.h"
#include "mainwin/small_dialogs.h"
#include "mainwin/status_bar.h"
#include "mainwin/video_params.h"
#include "playback/playback_panel.h"
#include "ui/camera_trees.h"
#include "ui/control_factory.h"
#include "ui/live_view.h"
#include "ui/toolkit/window.h"
#include "wall/video_panel_mng.h"

namespace mainwin {

// Timers of the window: the status bar every second. The live view's cell texts use
// the window's timers too (100 + cell, ui/live_rules.h).
constexpr std::uintptr_t kStatusTimer = 3;

// Control ids of the two walls (kept for the skins' and logs' sake).
constexpr int kLiveWallId = 10086;
constexpr int kPlaybackWallId = 111000;

class CMainWin : public ui::WindowImplBase {
public:
    static constexpr const char* kRefreshingText = "正在刷新，请耐心稍等";
    static constexpr const char* kRefreshFailedText = "刷新失败，请检查网络状态";
    static constexpr const char* kNoticeCaption = "提示";
    static constexpr const char* kPageNotOpenedText = "无法打开管理页面，请在浏览器中打开：";
    static constexpr const char* kNoManagementAddressText = "未配置管理后台地址";
    // Followed by where to write it: the settings file, its section and key.
    static constexpr const char* kNoManagementAddressHint = "请在 %1 的 [ManagerSys] 中填写 mngAddr=http(s)://网址";
    static constexpr const char* kBadManagementAddressText = "管理后台地址无效（应以 http:// 或 https:// 开头）：";
    // Width of the camera-tree column until the user gives it another (remembered).
    static constexpr int kDefaultTreeColumnWidth = 330;
    static constexpr const char* kTreeColumnHandleTip = "拖动可调整设备列表的宽度";
    static constexpr const char* kNothingFoundText = "没有找到名称包含该文字的摄像头或区域：";
    static constexpr const char* kChooseLiveCellTip = "请先选中正在预览的画面";
    enum Tab { kPreview = 0, kPlayback = 1, kAlarm = 2, kMap = 3, kSetting = 4, kMessage = 5 };
    // What the side column shows under the camera tree: the tree alone ("设备"), or the
    // control panel on its pan-tilt-zoom ("云台") or video-parameter ("远程") page.
    enum class SideView { kTree, kPanTilt, kRemote };

    explicit CMainWin(MainWinEnvironment environment);
    ~CMainWin() override;

    std::string GetWindowClassName() const override { return "DUIMainFrame"; }
    std::string GetSkinFile() override { return "MainWin.xml"; }
    std::string GetSkinFolder() override { return "MainFrameWnd"; }
    ui::CControlUI* CreateControl(const std::string& className, QWidget* parent) override {
        return factory_.Create(className, parent);
    }

    void InitWindow() override;
    void Notify(ui::TNotifyUI& msg) override;
    std::intptr_t HandleMessage(platform::Message& msg, bool& handled) override;
    bool ResponseDefaultKeyEvent(int key) override;
    void OnClose() override;
    void OnSize(int width, int height) override;
    void OnGetMinMaxInfo(QSize& minimum, QSize& maximum) override;

    // --- What other subsystems hook into ---
    ui::CControlFactory& Factory() { return factory_; }
    ui::CCameraTrees& Trees() { return trees_; }
    ReplyQueue& Replies() { return *replies_; }
    // Panel handlers are offered every notification first, in the order added; the
    // first that returns true consumes it.
    using PanelHandler = std::function<bool(ui::TNotifyUI&)>;
    void AddPanelHandler(PanelHandler handler) { panelHandlers_.push_back(std::move(handler)); }
    wall::CVideoPanelMng* LiveWall() const { return liveWall_; }
    wall::CVideoPanelMng* PlaybackWall() const { return playbackWall_; }

    void SelectTab(int tab);
    int CurrentTab() const { return tab_; }
    // Requests a tree refresh (the "updata" button); false when one is running.
    bool RequestTreeRefresh();
    void ShowSideView(SideView view);
    SideView CurrentSideView() const;
    // The camera the window's camera menu acts on: the selected cell's, else the camera
    // chosen in the tree; empty when there is none.
    std::string ChosenCameraId() const;
    // Enables what can act now: pan-tilt-zoom and the video parameters need the
    // selected cell to show a connected camera, "全部关闭" an open camera.
    void UpdateControlStates();

    bool IsInitialised() const { return initialised_; }
    bool RefreshRunning() const { return refreshRunning_; }
    bool MessageListRequested() const { return messageListFlag_; }
    // The message-list reply handler reads and clears it.
    bool TakeMessageListFlag() {
        const bool was = messageListFlag_;
        messageListFlag_ = false;
        return was;
    }
    const std::string& Rights() const { return rights_; }
    const std::string& RecordMode() const;
    int RootNodeCount() const { return trees_.RootNodeCount(); }
    // Live viewing (opening, closing, cell notices, listening, recording, talk,
    // pan-tilt-zoom) and its share of the message table; null before InitWindow.
    ui::CLiveView* Live() const { return live_.get(); }
    const std::map<std::string, ui::CControlUI*>& Panels() const { return panels_; }
    // The playback tab (search, playback, export); null before InitWindow.
    playback::PlaybackPanel* Playback() const { return playback_.get(); }

    // --- Live-view commands (main_win_live.cpp) ---
    // Checks the camera (online, in service, not live) and opens it in a free cell.
    void OpenCameraWithChecks(const control::ItemPtr& item);
    // Opens the camera in `cell` (0 or below: the first free one); false when no cell.
    bool OpenCamera(const control::ItemPtr& item, int cell);
    void OpenNode(const control::ItemPtr& node);
    void CloseNode(const control::ItemPtr& node);
    void CloseCamera(const control::ItemPtr& item);
    void CloseById(const std::string& cameraId);
    // A press on a control ("buttondown"); the release: its "buttonup" or a click no
    // rule claimed.
    void OnPanTiltPress(ui::TNotifyUI& msg);
    void OnPanTiltRelease(ui::TNotifyUI& msg);

private:
    friend class MainWinTestAccess;

    // main_win.cpp
    void FindControls();
    void SetTextLimits();
    void FillPanelMap();
    void SetSearchDates();
    void SendStartupRequests();
    void CreateWalls();
    void ApplyRights();
    void OnOptionSelected(ui::CControlUI* sender);
    void OnFocusChange(ui::CControlUI* sender, bool gotFocus);
    void OnStatusTick();
    // Test hook, off unless LARKVIEW_WINDOW_PICTURE names a file (see main_win.cpp).
    void WriteWindowPictureOnce();
    void OpenManagementPage();
    void InstallMoveWatcher();
    // The splitter between the live area and the camera-tree column: the column keeps
    // its width when the window is resized, and the width the user drags it to is
    // remembered for the next start.
    void SetUpTreeColumn();
    void ApplyTreeColumnWidth();
    int TreeColumnWidth() const;
    // Puts the live wall over "wallPlace" (or at its fixed place when the skin has
    // none), or over the whole screen in full screen.
    void PlaceLiveWall(int width, int height);
    // The playback wall over "pbWallPlace" (or at its fixed place), or the whole screen.
    void PlacePlaybackWall(int width, int height);
    void SetUpPlayback();

    // main_win_notify.cpp
    bool OnClick(ui::TNotifyUI& msg);
    void OnMessageTab();
    void OnWriteVideoParameters();
    void OnExitDialog();
    void OnFeedbackDialog();
    void OnAccountDialog();
    // `asked`: the search button (an empty or unmatched text is said so), not typing.
    void RunSearch(bool asked = false);
    void OpenDatePicker(ui::CControlUI* sender);
    void OpenMainMenu(ui::CControlUI* button);
    void MarkSideButtons();

    // main_win_messages.cpp
    bool DispatchInitialised(platform::Message& msg);
    void OnShowVideoParameters(const VideoParamRecord& record);
    void OnRefreshResult(bool failed);

    // main_win_live.cpp
    void SetUpLiveView();
    // The live wall as this user left it at the last close, and saving it at this one.
    void RestoreWallLayout();
    void SaveWallLayout();
    // A pick of a camera menu (the alarm tab's, or the window's own "menu").
    void OnCameraMenu(const std::string& item, const std::string& cameraId);

    // The live row of a camera shown in the "friends" tree, or nullptr.
    control::ItemPtr LiveItem(const std::string& cameraId) const;
    bool PostTask(platform::Message message);

    MainWinEnvironment env_;
    ui::CControlFactory factory_{*this};
    ui::CCameraTrees trees_;
    std::shared_ptr<ReplyQueue> replies_ = std::make_shared<ReplyQueue>();
    std::vector<PanelHandler> panelHandlers_;
    std::unique_ptr<ui::CLiveView> live_;
    std::unique_ptr<playback::PlaybackPanel> playback_;
    StatusBar statusBar_;
    SaveManagePanel saveManage_;
    // Shared with the reply handler, which may outlive the window.
    std::shared_ptr<PendingPasswordChange> passwordChange_ = std::make_shared<PendingPasswordChange>();

    QPointer<wall::CVideoPanelMng> liveWall_;
    QPointer<wall::CVideoPanelMng> playbackWall_;
    std::map<std::string, ui::CControlUI*> panels_;
    std::vector<ui::CControlUI*> layoutButtons_;
    // Buttons that act on the selected cell's camera.
    std::vector<ui::CControlUI*> cellCameraButtons_;
    bool controlPanelAllowed_ = true;

    bool initialised_ = false;
    bool windowPictureWritten_ = false;
    std::string wallUser_;  // whose wall layout this window restores and saves
    bool refreshRunning_ = false;
    bool messageListFlag_ = false;
    int tab_ = -1;
    std::string rights_;

    // Controls looked up at start-up (absent ones stay null and are skipped).
    ui::CControlUI* showPanel_ = nullptr;
    ui::CControlUI* playArea_ = nullptr;
    ui::CControlUI* liveArea_ = nullptr;
    QObject* moveWatcher_ = nullptr;
    QPointer<QWidget> wallPlace_;
    QPointer<QWidget> playbackPlace_;
    QPointer<QSplitter> treeSplitter_;
    QPointer<QWidget> treeColumn_;
    QTimer* treeWidthSaver_ = nullptr;
    bool treeWidthApplied_ = false;
};

}  // namespace mainwin
