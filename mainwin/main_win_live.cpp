// Opening and closing cameras from the tree and the cell toolbar, the open results
// and the pan-tilt-zoom buttons. The reactions here are the plain ones the window
// needs to run; the live-view commands refine them.
#include "app/app_messages.h"
#include "app/log_file.h"
#include "mainwin/main_win.h"

namespace mainwin {
namespace {

void SetTreeIcons(ui::CCameraTrees& trees, const std::string& id, bool live) {
    ui::CTreeList* tree = trees.GetTree(ui::CCameraTrees::kLive);
    ui::TreeNode* node = trees.FindNode(ui::CCameraTrees::kLive, id);
    if (tree && node && node->Element()) tree->SetLiveIcons(node->Element(), live);
}

bool Openable(const control::ItemPtr& item) {
    return item && item->kind == control::ITEMINFO::kCamera && item->active && !item->expired && !item->live;
}

}  // namespace

void CMainWin::OpenCameraWithChecks(const control::ItemPtr& item) {
    if (Openable(item)) OpenCamera(item, 0);
}

bool CMainWin::OpenCamera(const control::ItemPtr& item, int cell) {
    if (!liveWall_ || !item || item->kind != control::ITEMINFO::kCamera) return false;
    int index = cell;
    platform::WindowHandle window = 0;
    if (!liveWall_->FindFreeCell(index, window)) return false;
    item->live = true;
    SetTreeIcons(trees_, item->id, true);
    liveWall_->SetCellEntry(index, item);
    liveWall_->SetCaption(index, "", true);
    app::OpenRequest request{index, static_cast<std::uint64_t>(window), item->id, item->forwardingIp, item->forwardingPort};
    if (!PostTask(platform::Message(app::kTaskOpenCamera, 0, 0, platform::MakePayload(std::move(request))))) {
        item->live = false;
        SetTreeIcons(trees_, item->id, false);
        liveWall_->SetCellEntry(index, nullptr);
        return false;
    }
    return true;
}

void CMainWin::OpenNode(const control::ItemPtr& node) {
    for (const ui::TreeIndex::Entry& entry : trees_.Index(ui::CCameraTrees::kLive).Copy()) {
        if (node && entry.item->parentId != node->id) continue;
        if (Openable(entry.item) && !OpenCamera(entry.item, 0)) break;  // no free cell left
    }
}

void CMainWin::CloseNode(const control::ItemPtr& node) {
    for (const ui::TreeIndex::Entry& entry : trees_.Index(ui::CCameraTrees::kLive).Copy()) {
        if (node && entry.item->parentId != node->id) continue;
        if (entry.item->kind == control::ITEMINFO::kCamera && entry.item->live) CloseCamera(entry.item);
    }
}

void CMainWin::CloseCamera(const control::ItemPtr& item) {
    if (!liveWall_ || !item) return;
    const int cell = liveWall_->FindCellByCameraId(item->id);
    if (cell < 0) return;
    app::LogWrite("%s(%d): [%s]摄像头关闭!", __FILE__, __LINE__, item->name.c_str());
    item->live = false;
    liveWall_->SetCaption(cell, "", true);
    liveWall_->SetCellEntry(cell, nullptr);
    SetTreeIcons(trees_, item->id, false);
    PostTask(platform::Message(app::kTaskCloseCell, static_cast<std::uintptr_t>(cell), 0));
}

void CMainWin::CloseById(const std::string& cameraId) {
    if (const control::ItemPtr item = LiveItem(cameraId)) CloseCamera(item);
}

void CMainWin::OnCellResult(int cell, int code) {
    if (!liveWall_ || cell < 0 || cell >= wall::kCellCount) return;
    const control::ItemPtr row = liveWall_->CellEntry(cell);
    if (code == -8 && row) {
        row->forwardingIp.clear();
        row->forwardingPort = 0;
    }
    if (code == -7) ShowCellText(cell, "无流媒体服务器");
    if (code == -2) ShowCellText(cell, "不在开放时间段内");
    if (row) {
        row->live = false;
        SetTreeIcons(trees_, row->id, false);
    }
}

void CMainWin::OnAppNotify(int cell, int code) {
    if (code != app::kReconnecting || !liveWall_ || cell < 0 || cell >= wall::kCellCount) return;
    const control::ItemPtr row = liveWall_->CellEntry(cell);
    if (row && row->live) ShowCellText(cell, "重连中,请稍后…");
}

void CMainWin::OnTalkOn(const std::string& cameraId) {
    app::LogWrite("talk requested for %s", cameraId.c_str());
}

void CMainWin::OnPanTiltPress(ui::TNotifyUI&) {}

void CMainWin::OnPanTiltRelease(ui::TNotifyUI&) {}

}  // namespace mainwin
