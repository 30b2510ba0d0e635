// Opening and closing cameras from the tree, the pan-tilt-zoom buttons and the alarm
// tab's menu: the window's entries into the live view (ui/live_view.h), which holds
// the rules and handles the live range of the window's messages itself.
#include "core/message_ids.h"
#include "core/log_file.h"
#include "mainwin/main_win.h"
#include "ui/alarm_search_wnd.h"

namespace mainwin {

void CMainWin::SetUpLiveView() {
    ui::LiveViewEnvironment environment = env_.liveEnvironment
                                              ? env_.liveEnvironment(GetHWND(), m_PaintManager)
                                              : ui::LiveViewEnvironment::Application(GetHWND(), m_PaintManager);
    environment.postTask = [this](platform::Message message) { return PostTask(std::move(message)); };
    // The cell texts use the window's own timers (100 + cell), which it clears itself.
    environment.setTimer = [this](std::uintptr_t id, unsigned ms) { m_PaintManager.SetTimer(nullptr, id, ms); };
    environment.killTimer = [this](std::uintptr_t id) { m_PaintManager.KillTimer(nullptr, id); };
    live_ = std::make_unique<ui::CLiveView>(trees_, std::move(environment));
    live_->SetWall(liveWall_);
}

namespace {

ui::TreeNode* LiveNode(ui::CCameraTrees& trees, const control::ItemPtr& item) {
    return item ? trees.FindNode(ui::CCameraTrees::kLive, item->id) : nullptr;
}

}  // namespace

void CMainWin::OpenCameraWithChecks(const control::ItemPtr& item) {
    if (live_) live_->OpenWithChecks(LiveNode(trees_, item));
}

bool CMainWin::OpenCamera(const control::ItemPtr& item, int cell) {
    if (!live_ || !item) return false;
    live_->OpenCamera(LiveNode(trees_, item), cell);
    return item->live;
}

void CMainWin::OpenNode(const control::ItemPtr& node) {
    if (!live_) return;
    if (!node)
        live_->StartAll();
    else
        live_->OpenNode(LiveNode(trees_, node));
}

void CMainWin::CloseNode(const control::ItemPtr& node) {
    if (!live_) return;
    if (!node)
        live_->CloseAll();
    else
        live_->CloseNode(LiveNode(trees_, node));
}

void CMainWin::CloseCamera(const control::ItemPtr& item) {
    if (!live_ || !item) return;
    if (ui::TreeNode* node = LiveNode(trees_, item))
        live_->CloseCamera(node);
    else
        live_->CloseById(item->id);
}

void CMainWin::CloseById(const std::string& cameraId) {
    if (live_) live_->CloseById(cameraId);
}

void CMainWin::OnPanTiltPress(ui::TNotifyUI& msg) {
    if (live_) live_->HandlePanTilt(msg);
}

void CMainWin::OnPanTiltRelease(ui::TNotifyUI& msg) {
    if (live_) live_->HandlePanTilt(msg);
}

void CMainWin::OnCameraMenu(const std::string& item, const std::string& cameraId) {
    // The alarm tab's menu acts on the camera of the chosen alarm, the window's own on
    // the selected camera; "区域" is the area that holds the camera.
    ui::TreeNode* node = cameraId.empty() ? nullptr : trees_.FindNode(ui::CCameraTrees::kLive, cameraId);
    if (item == "menu_Close") {
        if (!cameraId.empty()) CloseById(cameraId);
    } else if (item == "menu_Update") {
        RequestTreeRefresh();
    } else if (item == "menu_OpenNode") {
        if (node && node->Parent() && node->Parent()->Level() >= 0 && live_) live_->OpenNode(node->Parent());
    } else if (item == "menu_CloseNode") {
        if (node && node->Parent() && node->Parent()->Level() >= 0 && live_) live_->CloseNode(node->Parent());
    } else if (item == "menu_AlarmSearch") {
        if (!cameraId.empty()) ui::CAlarmSearchWnd::Run(cameraId, GetHWND());
    } else if (item == "menu_CloseAll") {
        if (live_) live_->CloseAll();
    } else if (item == "menu_PlayBack") {
        SelectTab(kPlayback);
    }
}

}  // namespace mainwin
