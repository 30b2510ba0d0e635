// The main window's table of window messages. Until InitWindow has finished every
// message goes to the base class; ids and records that arrive as payloads are freed
// with their message whatever happens to them.
#include <memory>

#include "core/message_ids.h"
#include "core/log_file.h"
#include "mainwin/control_helpers.h"
#include "mainwin/main_win.h"
#include "mainwin/tree_refresh.h"
#include "ui/message_box.h"

namespace mainwin {
namespace {

std::string IdOf(const platform::Message& message) {
    const auto* id = platform::PayloadAs<std::string>(message);
    return id ? *id : std::string();
}

platform::Message IdTask(std::uint32_t task, const std::string& id, std::intptr_t lParam = 0) {
    return platform::Message(task, 0, lParam, platform::MakePayload(id));
}

}  // namespace

std::intptr_t CMainWin::HandleMessage(platform::Message& message, bool& handled) {
    if (!initialised_) return WindowImplBase::HandleMessage(message, handled);
    std::intptr_t result = 0;
    const bool own = DispatchInitialised(message, result);
    // Cells opened, closed or chosen change what the buttons can do.
    UpdateControlStates();
    if (own) {
        handled = true;
        return result;
    }
    return WindowImplBase::HandleMessage(message, handled);
}

// True when the message was this window's alone; the few that the base class sees as
// well (3, 102, 275) return false after their own work.
bool CMainWin::DispatchInitialised(platform::Message& message, std::intptr_t& result) {
    switch (message.id) {
        case msg::kWindowMoved:
            if (liveWall_) liveWall_->ShowToolbar(99);
            return false;
        case msg::kCellHover:
            if (liveWall_) liveWall_->ShowToolbar(static_cast<int>(message.wParam));
            return false;
        case ui::kWmTimer:
            if (message.wParam == kStatusTimer) OnStatusTick();
            else if (message.wParam >= kCellTextTimerBase && message.lParam == 0)
                OnCellTextExpired(static_cast<int>(message.wParam - kCellTextTimerBase));
            return false;
        case msg::kListenStarted: OnListenResult(IdOf(message), true, message.lParam); return true;
        case msg::kListenStopped: OnListenResult(IdOf(message), false, message.lParam); return true;
        case msg::kCellResult:
            OnCellResult(static_cast<int>(message.wParam), static_cast<int>(message.lParam), IdOf(message));
            return true;
        case msg::kVideoParameters:
            if (const auto* record = platform::PayloadAs<VideoParamRecord>(message)) OnShowVideoParameters(*record);
            return true;
        case msg::kAppNotify:
            OnAppNotify(static_cast<int>(message.wParam), static_cast<int>(message.lParam), IdOf(message));
            return true;
        case msg::kOpenCamera: {
            const control::ItemPtr item = LiveItem(IdOf(message));
            if (item) OpenCamera(item, static_cast<int>(message.lParam));
            return true;
        }
        case msg::kCloseCamera: CloseById(IdOf(message)); return true;
        case msg::kRefreshResult: OnRefreshResult(message.wParam != 0); return true;
        case kReplyQueued: replies_->Drain(); return true;
        case msg::kListenOn: RelayIfLive(IdOf(message), core::kTaskStartListen); return true;
        case msg::kListenOff: RelayIfLive(IdOf(message), core::kTaskStopListen); return true;
        case msg::kRecordOn: RelayIfLive(IdOf(message), core::kTaskStartRecord); return true;
        case msg::kRecordOff: RelayIfLive(IdOf(message), core::kTaskStopRecord); return true;
        case msg::kRecordStarted: OnRecordResult(IdOf(message), true, message.lParam != 0); return true;
        case msg::kRecordStopped: OnRecordResult(IdOf(message), false, message.lParam != 0); return true;
        case msg::kTalkOn: OnTalkOn(IdOf(message)); return true;
        case msg::kTalkOff: RelayIfLive(IdOf(message), core::kTaskStopTalk); return true;
        case msg::kTalkState: OnTalkState(IdOf(message), message.lParam != 0); return true;
        case msg::kTalkEnded: OnTalkEnded(IdOf(message), message.lParam); return true;
        case msg::kForwardingAddress:
            if (const auto* notice = platform::PayloadAs<core::ForwardingAddressNotice>(message))
                OnForwardingAddress(notice->cameraId, notice->ip, notice->port);
            return true;
        default: return false;
    }
}

void CMainWin::OnListenResult(const std::string& id, bool on, std::intptr_t result) {
    if (live_) live_->OnListenResult(id, on, result);
}

void CMainWin::OnRecordResult(const std::string& id, bool on, bool success) {
    const control::ItemPtr item = LiveItem(id);
    if (!item || !success) return;
    if (on && !item->live) return;
    item->recording = on;
    if (liveWall_) liveWall_->ShowToolbar(99);
}

void CMainWin::RelayIfLive(const std::string& id, std::uint32_t task) {
    const control::ItemPtr item = LiveItem(id);
    if (!item || !item->live) return;
    PostTask(IdTask(task, id));
}

void CMainWin::OnTalkState(const std::string& id, bool talking) {
    talkActive_ = talking;
    if (const control::ItemPtr item = LiveItem(id)) item->talking = talking;
    if (talkActive_ && liveWall_) liveWall_->ShowToolbar(99);
}

void CMainWin::OnTalkEnded(const std::string& id, std::intptr_t why) {
    if (live_) live_->OnTalkRefused(id, why);
}

void CMainWin::OnShowVideoParameters(const VideoParamRecord& record) {
    auto& pm = m_PaintManager;
    SetText(pm.FindControl("nowfbl"), SizeText(record.width, record.height));
    if (auto* frame = pm.FindControl<ui::CComboUI>("Frame")) {
        const int index = FrameRateIndex(record.frameRate);
        if (index >= 0) frame->SelectItem(index);
    }
    if (auto* quality = pm.FindControl<ui::CComboUI>("Quality")) quality->SelectItem(record.quality);
    if (auto* recorder = pm.FindControl<ui::COptionUI>("Recorder")) recorder->Selected(record.recorder != 0, false);
}

void CMainWin::OnRefreshResult(bool failed) {
    if (failed) {
        refreshRunning_ = false;
        ui::ShowMessageBox(kRefreshFailedText, GetHWND(), 0, kNoticeCaption);
        return;
    }
    trees_.BuildAll(env_.rows ? env_.rows() : std::vector<control::ItemPtr>{});
    if (liveWall_) {
        std::vector<std::pair<int, control::ItemPtr>> cells;
        for (int cell = 0; cell < wall::kCellCount; ++cell)
            if (control::ItemPtr row = liveWall_->CellEntry(cell); row && row->live) cells.emplace_back(cell, row);
        const auto matched = MatchCellsAfterRefresh(cells, [this](const std::string& id) { return LiveItem(id); });
        for (std::size_t i = 0; i < matched.size(); ++i) {
            const CellAfterRefresh& entry = matched[i];
            if (entry.newRow) {
                // The cell follows the camera's new row, so toolbar and tree agree.
                liveWall_->SetCellEntry(entry.cell, entry.newRow);
                continue;
            }
            cells[i].second->live = false;
            liveWall_->ClearCell(entry.cell);
            liveWall_->SetCellEntry(entry.cell, nullptr);
            PostTask(platform::Message(core::kTaskCloseCell, static_cast<std::uintptr_t>(entry.cell), 0));
            liveWall_->SetCaption(entry.cell, "", true);
        }
        liveWall_->ShowToolbar(99);
    }
    refreshRunning_ = false;
}

void CMainWin::OnForwardingAddress(const std::string& id, const std::string& ip, int port) {
    const control::ItemPtr item = LiveItem(id);
    if (!item) return;
    item->forwardingIp = ip;
    item->forwardingPort = port;
}

}  // namespace mainwin
