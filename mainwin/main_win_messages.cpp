// The main window's table of window messages. Until InitWindow has finished every
// message goes to the base class; ids and records that arrive as payloads are freed
// with their message whatever happens to them. The live range (cell results and
// notices, the cell toolbar's requests, listening, recording, talk) is the live
// view's table (ui/live_view.h).
#include <memory>

#include "core/message_ids.h"
#include "core/log_file.h"
#include "mainwin/control_helpers.h"
#include "mainwin/main_win.h"
#include "mainwin/tree_refresh.h"
#include "ui/message_box.h"

namespace mainwin {

std::intptr_t CMainWin::HandleMessage(platform::Message& message, bool& handled) {
    if (!initialised_) return WindowImplBase::HandleMessage(message, handled);
    const bool own = DispatchInitialised(message);
    // Cells opened, closed or chosen change what the buttons can do.
    UpdateControlStates();
    if (own) {
        handled = true;
        return 0;
    }
    return WindowImplBase::HandleMessage(message, handled);
}

// True when the message was this window's alone; the few that the base class sees as
// well (3, 102, 275) return false after their own work. The live range goes on to the
// live view, which keeps the live state.
bool CMainWin::DispatchInitialised(platform::Message& message) {
    switch (message.id) {
        case core::kWindowMoved:
            if (liveWall_) liveWall_->ShowToolbar(wall::kLastToolbarCell);
            return false;
        case core::kCellHover:
            if (liveWall_) liveWall_->ShowToolbar(static_cast<int>(message.wParam));
            return false;
        case core::kWmTimer:
            if (message.wParam == kStatusTimer)
                OnStatusTick();
            else if (live_)
                live_->HandleMessage(message);  // the cell texts' timers
            return false;
        case core::kVideoParametersRead:
            if (const auto* record = platform::PayloadAs<VideoParamRecord>(message)) OnShowVideoParameters(*record);
            return true;
        case core::kTreeRefreshed: OnRefreshResult(message.wParam != 0); return true;
        case core::kReplyQueued: replies_->Drain(); return true;
        default:
            if (playback_ && playback_->HandleMessage(message)) return true;
            return live_ && live_->HandleMessage(message);
    }
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
        liveWall_->ShowToolbar(wall::kLastToolbarCell);
    }
    refreshRunning_ = false;
}

}  // namespace mainwin
