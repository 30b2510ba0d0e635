// Notifications of the main window's controls: first the panels' own handlers, then
// the tab bar, the buttons of this window, the camera tree, option groups and
// placeholders; a button's release (or a click nobody claims) ends a pan-tilt-zoom
// press.
#include <QFileDialog>

#include "core/message_ids.h"
#include "core/app_config.h"
#include "core/log_file.h"
#include "mainwin/control_helpers.h"
#include "mainwin/main_win.h"
#include "mainwin/small_dialogs.h"
#include "mainwin/video_params.h"
#include "ui/message_box.h"
#include "ui/pickers.h"
#include "ui/pop_menu.h"

namespace mainwin {
namespace {

constexpr const char* kTreeNotifications[] = {"itemclick", "itemdbclick", "item_in", "item_leave",
                                              "sxt_start", "node_logo",   "node_start", "node_close",
                                              "sxt_rec",   "sxt_alarm",   "itemselect", "enable_btn"};

bool IsTreeNotification(const std::string& type) {
    for (const char* name : kTreeNotifications)
        if (type == name) return true;
    return false;
}

}  // namespace

void CMainWin::Notify(ui::TNotifyUI& msg) {
    // The playback tab comes first among the panels (after the sub-accounts' handler,
    // which the window does not have yet).
    if (playback_ && playback_->HandleNotify(msg)) return;
    for (const PanelHandler& handler : panelHandlers_)
        if (handler && handler(msg)) return;
    if (saveManage_.HandleNotify(msg, core::AppConfig::Instance(), GetHWND(), env_.chooseFolder)) return;

    const std::string& type = msg.sType;
    if (type.rfind("menu_", 0) == 0 && msg.pSender && msg.pSender->GetName() == "menu") {
        OnCameraMenu(type, ChosenCameraId());
    } else if (type == ui::notify::kButtonDown) {
        OnPanTiltPress(msg);
    } else if (type == ui::notify::kButtonUp) {
        OnPanTiltRelease(msg);
    } else if (type == ui::notify::kClick) {
        if (!OnClick(msg)) OnPanTiltRelease(msg);
    } else if (IsTreeNotification(type)) {
        if (trees_.HandleNotify(msg)) return;  // "node_logo" goes no further
        if (live_) live_->HandleNotify(msg);    // double-click, start, close, alarm search
    } else if (type == ui::notify::kTextChanged) {
        if (msg.pSender && msg.pSender->GetName() == ui::CCameraTrees::kSearchEdit) RunSearch();
    } else if (type == ui::notify::kSelectChanged) {
        if (msg.pSender) OnOptionSelected(msg.pSender);
    } else if (type == ui::notify::kSetFocus || type == ui::notify::kKillFocus) {
        if (msg.pSender) OnFocusChange(msg.pSender, type == ui::notify::kSetFocus);
    }
    WindowImplBase::Notify(msg);
    UpdateControlStates();
}

bool CMainWin::OnClick(ui::TNotifyUI& msg) {
    if (!msg.pSender) return false;
    const std::string name = msg.pSender->GetName();

    // Layout buttons.
    for (ui::CControlUI* button : layoutButtons_) {
        if (button != msg.pSender) continue;
        const int count = std::atoi(name.c_str() + 3);  // "Win16"
        if (liveWall_) liveWall_->SetLayout(count);
        return true;
    }
    // The side buttons choose what the column shows under the tree.
    if (name == "BtnNodeTree") {
        ShowSideView(SideView::kTree);
        return true;
    }
    if (name == "BtnPTZCtrl") {
        ShowSideView(SideView::kPanTilt);
        return true;
    }
    if (name == "BtnRemoteCtrl") {
        ShowSideView(SideView::kRemote);
        return true;
    }
    if (name == "btnShowCtrlPanel") {
        if (CurrentSideView() != SideView::kTree) {
            ShowSideView(SideView::kTree);
        } else {
            auto* tabs = m_PaintManager.FindControl<ui::CTabLayoutUI>("tabCtrls");
            ShowSideView(tabs && tabs->GetCurSel() == 1 ? SideView::kRemote : SideView::kPanTilt);
        }
        return true;
    }

    static const std::pair<const char*, int> kTabs[] = {
        {"previewbtn", kPreview}, {"playbackbtn", kPlayback}, {"alarmbtn", kAlarm}, {"mapbtn", kMap}, {"settingbtn", kSetting}};
    for (const auto& [button, tab] : kTabs) {
        if (name == button) {
            SelectTab(tab);
            return true;
        }
    }
    if (name == "Messagebtn") {
        OnMessageTab();
        return true;
    }

    if (name == "menu") {
        OpenMainMenu(msg.pSender);
        return true;
    }
    if (name == "exituser" || name == "closebtn") {
        // Both ask first, with the same dialog: leave, change user or stay.
        OnExitDialog();
    } else if (name == "updata") {
        RequestTreeRefresh();
    } else if (name == "close_all") {
        CloseNode(nullptr);
    } else if (name == "start_all") {
        OpenNode(nullptr);
    } else if (name == "BtnGet") {
        if (liveWall_) PostTask(platform::Message(core::kTaskReadVideoParameters, static_cast<std::uintptr_t>(liveWall_->Selected()), 0));
    } else if (name == "BtnSet") {
        OnWriteVideoParameters();
    } else if (name == "searchbtn") {
        RunSearch(true);
    } else if (name == "username" || name == "usernameimage") {
        OnAccountDialog();
    } else if (name == "FullSreen") {
        if (liveWall_) liveWall_->FullScreen(true);
    } else if (name == "SelFullScreen") {
        if (liveWall_) liveWall_->FullScreenCell(true, liveWall_->Selected());
    } else if (name == "feedback") {
        OnFeedbackDialog();
    } else if (name == "OpBackStage") {
        OpenManagementPage();
    } else {
        return false;
    }
    return true;
}

void CMainWin::OnMessageTab() {
    messageListFlag_ = true;
    if (auto* list = m_PaintManager.FindControl<ui::CListUI>("lstSMHead")) list->RemoveAll();
    if (env_.sendRequest) env_.sendRequest(60, {});
    SelectTab(kMessage);
}

void CMainWin::OpenDatePicker(ui::CControlUI* sender) {
    auto* edit = dynamic_cast<ui::CEditUI*>(sender);
    QWidget* top = GetWidget();
    if (!edit || !top) return;
    ui::CDateWnd::OpenFor(edit, GetHWND(), ui::CDateWnd::AnchorFor(top->pos(), edit->mapTo(top, QPoint(0, 0))));
}

void CMainWin::OpenMainMenu(ui::CControlUI* button) {
    ui::CPopMenu* menu = ui::CPopMenu::OpenUnder("CameraPopMenu.xml", button, &m_PaintManager);
    if (!menu) return;
    const bool camera = !ChosenCameraId().empty();
    for (const char* item : ui::kCameraMenuItems) menu->SetItemEnabled(item, camera);
    bool anyOpen = false;
    for (int cell = 0; liveWall_ && cell < wall::kCellCount && !anyOpen; ++cell) anyOpen = liveWall_->CellEntry(cell) != nullptr;
    menu->SetItemEnabled("menu_CloseAll", anyOpen);
    if (auto* playback = m_PaintManager.FindControl("playbackbtn")) menu->SetItemEnabled("menu_PlayBack", playback->IsVisible());
}

std::string CMainWin::ChosenCameraId() const {
    if (liveWall_)
        if (const control::ItemPtr entry = liveWall_->CellEntry(liveWall_->Selected()))
            if (!entry->id.empty()) return entry->id;
    const ui::CTreeList* tree = trees_.GetTree(ui::CCameraTrees::kLive);
    const ui::TreeNode* chosen = tree ? ui::CTreeList::NodeOf(tree->GetItemAt(tree->GetCurSel())) : nullptr;
    return chosen && chosen->IsCamera() ? chosen->Id() : std::string();
}

void CMainWin::RunSearch(bool asked) {
    ui::CControlUI* edit = m_PaintManager.FindControl(ui::CCameraTrees::kSearchEdit);
    if (!edit) return;
    // The placeholder is no text to look for.
    std::string text = edit->GetText();
    if (text == "请输入关键字") text.clear();
    if (trees_.Search(text) || !asked || text.empty()) return;
    ui::ShowMessageBox(kNothingFoundText, GetHWND(), 0, text);
}

void CMainWin::OnWriteVideoParameters() {
    auto& pm = m_PaintManager;
    auto* frame = pm.FindControl<ui::CComboUI>("Frame");
    auto* quality = pm.FindControl<ui::CComboUI>("Quality");
    auto* recorder = pm.FindControl<ui::COptionUI>("Recorder");
    auto* resolution = pm.FindControl<ui::CComboUI>("Resolution");
    if (!liveWall_ || !frame || !quality || !recorder || !resolution) return;
    const int cell = liveWall_->Selected();
    const control::ItemPtr row = liveWall_->CellEntry(cell);
    if (!row || !row->live) return;
    if (!env_.cellSessionConnected || !env_.cellSessionConnected(cell)) return;
    VideoParamRecord record;
    record.cell = cell;
    record.frameRate = LeadingNumber(frame->GetText());
    record.quality = quality->GetCurSel();
    record.recorder = recorder->IsSelected() ? 1 : 0;
    std::pair<int, int> cellPixels{0, 0};
    if (const QWidget* shown = liveWall_->Cell(cell)) {
        const qreal ratio = shown->devicePixelRatioF();
        cellPixels = {qRound(shown->width() * ratio), qRound(shown->height() * ratio)};
    }
    std::tie(record.width, record.height) = ResolutionOfIndex(resolution->GetCurSel(), cellPixels);
    PostTask(platform::Message(core::kTaskWriteVideoParameters, 0, 0, platform::MakePayload(record)));
}

void CMainWin::OnExitDialog() {
    CShutDownDlg dialog(GetHWND());
    const int result = dialog.DoModal("退出");
    if (result == ui::kResultCancel || result == ui::kResultEscape || result < 0) return;
    Close(result);
}

void CMainWin::OnFeedbackDialog() {
    CFeedBackDlg dialog(GetHWND(), env_.sendRequest);
    dialog.DoModal("意见反馈");
}

void CMainWin::OnAccountDialog() {
    CPwdChangeDlg dialog(GetHWND(), env_.sendRequest, passwordChange_.get());
    dialog.DoModal("修改密码");
}

}  // namespace mainwin
