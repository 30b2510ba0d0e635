#include "ui/live_view.h"

#include <cerrno>

#include "session/app_instance.h"
#include "core/message_ids.h"
#include "core/app_config.h"
#include "core/log_file.h"
#include "control/control_client.h"
#include "media/camera.h"
#include "media/camera_registry.h"
#include "ui/alarm_search_wnd.h"
#include "ui/camera_trees.h"
#include "ui/message_box.h"
#include "ui/payment_dlg.h"
#include "ui/tree_list.h"
#include "wall/video_panel_mng.h"
#include "platform/numbers.h"

namespace ui {
namespace {

const std::string* IdPayload(const platform::Message& msg) { return platform::PayloadAs<std::string>(msg); }

}  // namespace

LiveViewEnvironment LiveViewEnvironment::Application(platform::WindowHandle mainWindow, CPaintManagerUI& manager) {
    LiveViewEnvironment environment;
    environment.postTask = [](platform::Message m) { return session::CAppInteance::PostTaskIfAlive(std::move(m)); };
    environment.notice = [mainWindow](const std::string& text, const std::string& second) {
        if (second == kErrorCaption)
            ShowNoticeWithCaption(text, second, mainWindow);
        else
            ShowMessageBox(text, mainWindow, 0, second);
    };
    environment.renew = [mainWindow](const std::string& id,
                                     const std::string& name) -> std::optional<RenewalReply> {
        CPaymentDlg dialog(id, name, mainWindow);
        if (dialog.DoModal() != kResultOk) return std::nullopt;
        return dialog.Reply();
    };
    environment.talkAddress = [](const std::string& id) {
        const auto client = control::ControlClient::Current();
        return client ? client->RequestForwardingAddressWithNode(id) : control::TransportAddress{};
    };
    environment.cameraOfCell = [](int cell) -> std::shared_ptr<media::CCamera> {
        return media::CameraRegistry::Exists() ? media::CameraRegistry::Instance().Find(cell) : nullptr;
    };
    environment.alarmsEnabled = [] { return core::AppConfig::Instance().FeatureSwitch(2); };
    environment.searchAlarms = [mainWindow](const std::string& id) { CAlarmSearchWnd::Run(id, mainWindow); };
    environment.setTimer = [&manager](std::uintptr_t id, unsigned ms) { manager.SetTimer(nullptr, id, ms); };
    environment.killTimer = [&manager](std::uintptr_t id) { manager.KillTimer(nullptr, id); };
    return environment;
}

CLiveView::CLiveView(CCameraTrees& trees, LiveViewEnvironment environment)
    : trees_(trees), environment_(std::move(environment)) {}

control::ItemPtr CLiveView::ItemOf(TreeNode* node) const {
    return node ? trees_.Index(CCameraTrees::kLive).Find(node) : nullptr;
}

control::ItemPtr CLiveView::CameraById(const std::string& id) const {
    return trees_.FindItem(CCameraTrees::kLive, id);
}

void CLiveView::SetIcons(const std::string& cameraId, bool live) {
    CTreeList* tree = trees_.GetTree(CCameraTrees::kLive);
    TreeNode* node = trees_.FindNode(CCameraTrees::kLive, cameraId);
    if (tree && node && node->Element()) tree->SetLiveIcons(node->Element(), live);
}

void CLiveView::ShowCellText(int cell, const std::string& text, bool expires) {
    if (!wall_) return;
    wall_->SetCaption(cell, text, false);
    const auto timer = static_cast<std::uintptr_t>(kCellTextTimerBase + cell);
    if (expires) {
        if (environment_.setTimer) environment_.setTimer(timer, environment_.cellTextMs);
    } else if (environment_.killTimer) {
        // A notice's timer still running would wipe the reason out.
        environment_.killTimer(timer);
    }
}

void CLiveView::ClearCellText(int cell) {
    if (!wall_) return;
    wall_->SetCaption(cell, "", false);
    if (environment_.killTimer) environment_.killTimer(static_cast<std::uintptr_t>(kCellTextTimerBase + cell));
}

bool CLiveView::OnTimer(std::uintptr_t id) {
    const std::optional<int> cell = CellOfTextTimer(id);
    if (!cell) return false;
    if (wall_) wall_->SetCaption(*cell, "", true);
    if (environment_.killTimer) environment_.killTimer(id);
    return true;
}

void CLiveView::PostIdTask(std::uint32_t message, const std::string& cameraId) {
    if (environment_.postTask) environment_.postTask(platform::Message(message, 0, 0, platform::MakePayload(cameraId)));
}

void CLiveView::PostClose(int cell) {
    const bool posted =
        environment_.postTask &&
        environment_.postTask(platform::Message(core::kTaskCloseCell, static_cast<std::uintptr_t>(cell), 0));
    if (!posted) core::LogWrite("PostThreadMessage dwLastErr: %d\n", errno);
}

// --- Opening ---

void CLiveView::OpenWithChecks(TreeNode* node) {
    if (!node) return;
    if (!node->IsCamera()) {
        OpenNode(node);
        return;
    }
    control::ItemPtr item = ItemOf(node);
    if (!item) return;
    if (!item->active) {
        if (environment_.notice) environment_.notice(FormatWithName(kCameraOfflineFormat, item->name), "");
        return;
    }
    if (item->expired && environment_.renew) {
        const std::string id = item->id;
        const std::optional<RenewalReply> reply = environment_.renew(id, item->name);
        // The dialog ran its own event loop: a tree refresh meanwhile may have freed
        // the node and replaced the row. Carry on with the camera's current ones.
        node = trees_.FindNode(CCameraTrees::kLive, id);
        item = ItemOf(node);
        if (!item) return;  // the camera left the tree
        if (reply) {
            if (reply->status != 1) {
                if (environment_.notice) environment_.notice(RenewalFailureText(reply->status), kRenewalFailedText);
                return;
            }
            Renewed(node, item, *reply);
        }
    }
    // A camera still lapsed (the dialog was left) is refused by OpenCamera itself.
    OpenCamera(node, -1);
}

void CLiveView::Renewed(TreeNode* node, const control::ItemPtr& item, const RenewalReply& reply) {
    item->expired = false;
    item->expiryDate = reply.expiredDate;
    CTreeList* tree = trees_.GetTree(CCameraTrees::kLive);
    if (!tree) return;
    tree->SetExpired(node, false);
    if (CListElementUI* row = node->Element()) {
        if (CListCellUI* logo = row->FindCell("sxt_logo")) logo->SetBkImage("file='Image\\cctv_line.png'");
        if (CListCellUI* start = row->FindCell("sxt_start")) start->SetBkImage("file='Image\\play_mix.png'");
        tree->SetExpiryText(row, reply.expiredDate);
    }
}

void CLiveView::OpenCamera(TreeNode* node, int cell) {
    control::ItemPtr item = ItemOf(node);
    if (!item || item->kind != control::ITEMINFO::kCamera || item->live || !wall_) return;
    // Checked before a cell is looked for: the search grows the layout, and a camera
    // that cannot be opened must not make the wall grow.
    if (!item->active || item->expired) return;
    int index = cell;
    platform::WindowHandle window = 0;
    if (!wall_->FindFreeCell(index, window)) return;
    // The cell's own window, also for a chosen cell that shows nothing yet.
    window = wall_->CellWindow(index);

    // The camera the cell shows now is closed first. Its close task is not posted: the
    // open task closes the cell's session before opening, while a close task running
    // beside it on another worker could end the new camera instead of the old one.
    if (control::ItemPtr shown = wall_->CellEntry(index); shown && shown->live) {
        if (TreeNode* shownNode = trees_.FindNode(CCameraTrees::kLive, shown->id); shownNode && ItemOf(shownNode))
            CloseCameraIn(shownNode, false);
        else
            CloseByIdIn(shown->id, false);
    }

    item->live = true;
    core::OpenRequest request{index, window, item->id, item->forwardingIp, item->forwardingPort};
    if (CTreeList* tree = trees_.GetTree(CCameraTrees::kLive); tree && node->Element())
        tree->SetLiveIcons(node->Element(), true);
    wall_->SetCellEntry(index, item);
    ClearCellText(index);
    if (environment_.postTask)
        environment_.postTask(platform::Message(core::kTaskOpenCamera, 0, 0, platform::MakePayload(std::move(request))));
}

void CLiveView::OpenNode(TreeNode* node) {
    if (!node) return;
    control::ItemPtr item = ItemOf(node);
    // A node without online cameras opens nothing.
    if (!(item ? item->active : node->IsActive())) return;
    for (TreeNode* child : node->Children()) {
        // A full wall takes no more cameras: the rest of a large tree is not walked.
        if (!wall_ || !wall_->HasFreeCell()) return;
        if (child->IsCamera())
            OpenCamera(child, -1);
        else
            OpenNode(child);
    }
}

// --- Closing ---

void CLiveView::CloseCamera(TreeNode* node) { CloseCameraIn(node, true); }

void CLiveView::CloseCameraIn(TreeNode* node, bool postClose) {
    control::ItemPtr item = ItemOf(node);
    if (!item || !wall_) return;
    const int cell = wall_->FindCellByCameraId(item->id);
    if (cell < 0) return;
    core::LogWrite("%s(%d): [%s]摄像头关闭!", __FILE__, __LINE__, item->name.c_str());
    item->live = false;
    ClearCellText(cell);
    if (cell < wall::kCellCount) {
        wall_->ClearCell(cell);
        wall_->SetCellEntry(cell, nullptr);
    }
    if (CTreeList* tree = trees_.GetTree(CCameraTrees::kLive); tree && node->Element())
        tree->SetLiveIcons(node->Element(), false);
    if (postClose) PostClose(cell);
}

void CLiveView::CloseNode(TreeNode* node) {
    if (!node) return;
    // Unlike opening, closing does not ask whether the node has online cameras: a
    // camera may have gone offline while it was shown.
    for (TreeNode* child : node->Children()) {
        if (child->IsCamera())
            CloseCamera(child);
        else
            CloseNode(child);
    }
}

void CLiveView::CloseById(const std::string& cameraId) { CloseByIdIn(cameraId, true); }

void CLiveView::CloseByIdIn(const std::string& cameraId, bool postClose) {
    if (!wall_) return;
    const int cell = wall_->FindCellByCameraId(cameraId);
    if (cell < 0) return;
    // A camera the tree no longer knows (after a refresh) is still closed: the user
    // asked for its cell to stop.
    if (control::ItemPtr item = CameraById(cameraId)) item->live = false;
    wall_->ClearCell(cell);
    wall_->SetCellEntry(cell, nullptr);
    ClearCellText(cell);
    SetIcons(cameraId, false);
    if (postClose) PostClose(cell);
}

void CLiveView::StartAll() {
    CTreeList* tree = trees_.GetTree(CCameraTrees::kLive);
    if (!tree || !wall_) return;
    // Only the cameras that find a cell are visited: the walk ends with the wall full,
    // however large the tree (the opening itself runs on the task threads).
    for (TreeNode* top : tree->Root()->Children()) {
        if (!wall_->HasFreeCell()) return;
        if (!top->IsCamera()) OpenNode(top);
    }
}

void CLiveView::CloseAll() {
    if (!wall_) return;
    // Every camera shown is in a cell: the cells are walked, not the whole tree. A cell
    // that only says why its camera could not play is emptied too.
    for (int cell = 0; cell < wall::kCellCount; ++cell) {
        control::ItemPtr shown = wall_->CellEntry(cell);
        if (shown && shown->live) {
            if (TreeNode* node = trees_.FindNode(CCameraTrees::kLive, shown->id); node && ItemOf(node))
                CloseCameraIn(node, true);
            else
                CloseByIdIn(shown->id, true);
        }
        if (wall_->CellEntry(cell)) wall_->SetCellEntry(cell, nullptr);
        ClearCellText(cell);
    }
    // The strip of a cell that shows nothing goes.
    wall_->ShowToolbar(wall::kLastToolbarCell);
}

// --- Notifications ---

bool CLiveView::HandleNotify(TNotifyUI& msg) {
    const std::string& type = msg.sType;
    if (type == "itemdbclick" || type == "enable_btn" || type == "sxt_start" || type == "node_start" ||
        type == "node_close" || type == "sxt_alarm") {
        TreeNode* node = CTreeList::NodeOf(msg.pSender);
        CTreeList* tree = trees_.GetTree(CCameraTrees::kLive);
        // Only the live tree's rows are the live view's.
        if (!node || !tree || !msg.pSender || tree->FindById(node->Id()) == nullptr) return false;
        auto* row = dynamic_cast<CListElementUI*>(msg.pSender);
        if (!row) row = dynamic_cast<CListElementUI*>(msg.pSender->GetParent());
        if (!row || row->GetOwner() != tree) return false;
        if (type == "itemdbclick" || type == "enable_btn") {  // the hover button "预览" previews
            OpenWithChecks(node);
        } else if (type == "sxt_start") {
            control::ItemPtr item = ItemOf(node);
            if (!item || !node->IsCamera()) return true;
            if (item->live)
                CloseCamera(node);
            else
                OpenCamera(node, -1);
        } else if (type == "node_start") {
            OpenNode(node);
        } else if (type == "node_close") {
            CloseNode(node);
        } else if (node->IsCamera() && environment_.alarmsEnabled && environment_.alarmsEnabled() &&
                   environment_.searchAlarms) {
            environment_.searchAlarms(node->Id());
        }
        return true;
    }
    if (type != notify::kClick || !msg.pSender) return false;
    const std::string name = msg.pSender->GetName();
    if (name == "start_all") {
        StartAll();
        return true;
    }
    if (name == "close_all") {
        CloseAll();
        return true;
    }
    if (const std::optional<int> count = LayoutOfButton(name)) {
        if (wall_) wall_->SetLayout(*count, false);
        return true;
    }
    if (name == "FullSreen") {
        if (wall_) wall_->FullScreen(true);
        return true;
    }
    if (name == "SelFullScreen") {
        if (wall_) wall_->FullScreenCell(true, wall_->Selected());
        return true;
    }
    return false;
}

bool CLiveView::HandlePanTilt(TNotifyUI& msg) {
    if (!msg.pSender) return false;
    const bool down = msg.sType == notify::kButtonDown;
    if (!down && msg.sType != notify::kButtonUp && msg.sType != notify::kClick) return false;
    return PanTilt(msg.pSender->GetName(), down);
}

bool CLiveView::PanTilt(const std::string& button, bool buttonDown) {
    if (!wall_ || !PanTiltActionCode(button)) return false;
    if (!buttonDown) return ReleasePanTilt();
    const int cell = wall_->Selected();
    control::ItemPtr item = wall_->CellEntry(cell);
    if (!item || !item->live) return false;
    std::shared_ptr<media::CCamera> camera = environment_.cameraOfCell ? environment_.cameraOfCell(cell) : nullptr;
    if (!camera || camera->CameraId().empty()) return false;
    // Another camera still moving under a held button is stopped first.
    if (panTiltHeld_ && panTiltCamera_.lock() != camera) ReleasePanTilt();
    camera->PanTilt(*PanTiltActionCode(button));
    panTiltCamera_ = camera;
    panTiltHeld_ = true;
    return true;
}

bool CLiveView::ReleasePanTilt() {
    if (!panTiltHeld_) return false;
    panTiltHeld_ = false;
    // The stop goes to the camera that moves, even if the selection changed meanwhile;
    // a camera closed since then has stopped anyway.
    std::shared_ptr<media::CCamera> camera = panTiltCamera_.lock();
    panTiltCamera_.reset();
    if (!camera || camera->CameraId().empty()) return false;
    camera->PanTilt(kPanTiltStop);
    return true;
}

// --- Window messages (HandleMessage below) ---

void CLiveView::TalkOn(const std::string& cameraId) {
    if (talkActive_) {
        if (environment_.notice) environment_.notice(kOneTalkbackText, kErrorCaption);
        return;
    }
    control::ItemPtr item = CameraById(cameraId);
    if (!item || !item->live || !environment_.talkAddress) return;
    const control::TransportAddress address = environment_.talkAddress(cameraId);
    if (address.status == 1) {
        item->talking = true;
        core::TalkRequest request{cameraId, address.nodeId, address.forwardingIp,
                                 platform::ParsePort(address.forwardingPort), address.keyword};
        if (environment_.postTask)
            environment_.postTask(
                platform::Message(core::kTaskStartTalk, 0, 0, platform::MakePayload(std::move(request))));
    } else if (address.status == -3) {
        if (environment_.notice) environment_.notice(kCaptureNotConnectedText, kErrorCaption);
    }
}

void CLiveView::OnListenResult(const std::string& cameraId, bool start, std::intptr_t result) {
    control::ItemPtr item = CameraById(cameraId);
    if (!item) return;
    if (!start) {
        if (result != 0) item->listening = false;
    } else if (result == 1) {
        if (item->live) item->listening = true;
    } else {
        item->listening = false;
        // Said only while the camera is still shown: a camera closed meanwhile needs no word.
        if (item->live && environment_.notice)
            environment_.notice(result == core::kNoAudioOutput ? kNoAudioOutputText : kListenFailedText, kErrorCaption);
    }
    if (wall_) wall_->ShowToolbar(wall::kLastToolbarCell);
}

void CLiveView::OnTalkRefused(const std::string& cameraId, std::intptr_t why) {
    control::ItemPtr item = CameraById(cameraId);
    if (!item) return;
    const bool shown = item->live;
    item->talking = false;
    if (shown && environment_.notice)
        environment_.notice(why == core::kNoMicrophone ? kNoMicrophoneText : kTalkFailedText, kErrorCaption);
    if (wall_) wall_->ShowToolbar(wall::kLastToolbarCell);
}

control::ItemPtr CLiveView::ShownFor(int cell, const std::string& cameraId) const {
    if (!wall_ || cell < 0 || cell >= wall::kCellCount) return nullptr;
    control::ItemPtr shown = wall_->CellEntry(cell);
    if (shown && !cameraId.empty() && shown->id != cameraId) return nullptr;
    return shown;
}

void CLiveView::OnCellResult(int cell, int code, const std::string& cameraId) {
    if (!wall_ || cell < 0 || cell >= wall::kCellCount) return;
    control::ItemPtr shown = wall_->CellEntry(cell);
    // A late result about the camera the cell showed before, or about a cell emptied
    // since, changes nothing.
    if (!shown || (!cameraId.empty() && shown->id != cameraId)) return;
    if (code == -8) {
        // The address did not answer: the next open asks for a new one.
        shown->forwardingIp.clear();
        shown->forwardingPort = 0;
    }
    // The reason stays in the cell until it shows another camera or is closed.
    if (const std::optional<std::string> text = CellTextForOpenResult(code)) ShowCellText(cell, *text, false);
    shown->live = false;
    SetIcons(shown->id, false);
    wall_->ShowToolbar(wall::kLastToolbarCell);
}

void CLiveView::OnCellNotice(int cell, int code, const std::string& cameraId) {
    control::ItemPtr shown = ShownFor(cell, cameraId);
    if (!shown || !shown->live) return;
    if (code == core::kReconnecting) {
        ShowCellText(cell, kReconnectingText, true);
    } else if (code == core::kConnectionFailed && !cameraId.empty()) {
        // The supervisor gave the cell up: the camera no longer plays there, and its
        // address is of no use.
        shown->forwardingIp.clear();
        shown->forwardingPort = 0;
        shown->live = false;
        SetIcons(shown->id, false);
        ShowCellText(cell, kConnectFailedText, false);
        wall_->ShowToolbar(wall::kLastToolbarCell);
    }
}

void CLiveView::OnRecordResult(const control::ItemPtr& item, bool start, bool succeeded) {
    if (!item || !succeeded) return;
    // A start that ends after the camera was closed leaves no mark behind.
    if (start && !item->live) return;
    item->recording = start;
    if (wall_) wall_->ShowToolbar(wall::kLastToolbarCell);
}

void CLiveView::OnTalkState(const control::ItemPtr& item, bool talking) {
    talkActive_ = talking;
    if (item) item->talking = talking;
    if (talkActive_ && wall_) wall_->ShowToolbar(wall::kLastToolbarCell);
}

void CLiveView::RelayIfLive(const control::ItemPtr& item, std::uint32_t task) {
    if (item && item->live) PostIdTask(task, item->id);
}

bool CLiveView::HandleMessage(platform::Message& msg) {
    // Of the toolkit's timers only the window's own (no control) clear cell texts.
    if (msg.id == core::kWmTimer) return msg.lParam == 0 && OnTimer(msg.wParam);
    const std::string* id = IdPayload(msg);
    const std::string cameraId = id ? *id : std::string();
    const control::ItemPtr item = id ? CameraById(*id) : nullptr;
    switch (msg.id) {
        case core::kCellResult:
            OnCellResult(static_cast<int>(msg.wParam), static_cast<int>(msg.lParam), cameraId);
            return true;
        case core::kAppNotify:
            OnCellNotice(static_cast<int>(msg.wParam), static_cast<int>(msg.lParam), cameraId);
            return true;
        case core::kForwardingAddressFetched:
            if (const auto* notice = platform::PayloadAs<core::ForwardingAddressNotice>(msg)) {
                if (control::ItemPtr camera = CameraById(notice->cameraId)) {
                    camera->forwardingIp = notice->ip;
                    camera->forwardingPort = notice->port;
                }
            }
            return true;
        case core::kOpenCameraRequest:
            if (id) OpenCamera(trees_.FindNode(CCameraTrees::kLive, *id), static_cast<int>(msg.lParam));
            return true;
        case core::kCloseCameraRequest:
            if (id) CloseById(*id);
            return true;
        // kListenStoppedCell shares its number with kListenOffRequest; it carries no
        // id, so it finds no camera here.
        case core::kListenOnRequest: RelayIfLive(item, core::kTaskStartListen); return true;
        case core::kListenOffRequest: RelayIfLive(item, core::kTaskStopListen); return true;
        case core::kRecordOnRequest: RelayIfLive(item, core::kTaskStartRecord); return true;
        case core::kRecordOffRequest: RelayIfLive(item, core::kTaskStopRecord); return true;
        case core::kTalkOffRequest: RelayIfLive(item, core::kTaskStopTalk); return true;
        case core::kTalkOnRequest:
            if (id) TalkOn(*id);
            return true;
        case core::kListenStarted:
        case core::kListenStopped:
            if (id) OnListenResult(*id, msg.id == core::kListenStarted, msg.lParam);
            return true;
        case core::kRecordStarted:
        case core::kRecordStopped:
            OnRecordResult(item, msg.id == core::kRecordStarted, msg.lParam != 0);
            return true;
        case core::kTalkStateChanged: OnTalkState(item, msg.lParam != 0); return true;
        case core::kTalkRefused:
            if (id) OnTalkRefused(*id, msg.lParam);
            return true;
        default: return false;
    }
}

}  // namespace ui
