#include "mainwin/small_dialogs.h"

#include <algorithm>
#include <cctype>

#include "core/app_config.h"
#include "core/log_file.h"
#include "core/md5.h"
#include "mainwin/control_helpers.h"
#include "mainwin/reply_queue.h"
#include "ui/message_box.h"

namespace mainwin {
namespace {

void SecondLineNotice(const std::string& text, platform::WindowHandle parent) {
    ui::ShowMessageBox("", parent, 0, text);
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

// Feedback -------------------------------------------------------------------------

CFeedBackDlg::CFeedBackDlg(platform::WindowHandle parent, RequestSender send)
    : CPopUpDlg("FeedBack.xml", parent), send_(std::move(send)) {}

void CFeedBackDlg::InitWindow() {
    edit_ = m_PaintManager.FindControl("FeedBackedit");
    SetTextLimit(edit_, kMaxCharacters);
    SetText(edit_, kPlaceholder);
}

void CFeedBackDlg::Notify(ui::TNotifyUI& msg) {
    if (!msg.pSender) return;
    const std::string name = msg.pSender->GetName();
    if (msg.sType == ui::notify::kSetFocus) {
        if ((name == "FeedBackedit" || name == "FeedBackOKbtn") && TextOf(edit_) == kPlaceholder) SetText(edit_, "");
    } else if (msg.sType == ui::notify::kKillFocus) {
        if (name == "FeedBackedit" && TextOf(edit_).empty()) SetText(edit_, kPlaceholder);
    } else if (msg.sType == ui::notify::kClick) {
        if (name == "FeedBackOKbtn") OnOk();
        else if (name == "FeedBackCloseBtn") Close(ui::kResultCancel);
    }
}

void CFeedBackDlg::OnOk() {
    const std::string text = TextOf(edit_);
    // The placeholder is no suggestion.
    if (text.empty() || text == kPlaceholder) {
        SecondLineNotice(kEmptyText, GetHWND());
        return;
    }
    if (send_) send_(kRequest, {{"content", text}});
    Close(ui::kResultOk);
}

void CFeedBackDlg::RegisterReplyHandler(ReplyQueue& queue, platform::WindowHandle parent) {
    queue.RegisterHandler(kRequest, [parent](const control::ControlMessage& reply) {
        SecondLineNotice(reply.Param("status") == "1" ? kThanksText : kFailedText, parent);
    });
}

// Password change ------------------------------------------------------------------

std::string CheckPasswordChange(const std::string& storedPassword, const std::string& oldPassword,
                                const std::string& newPassword, const std::string& repeatedPassword) {
    if (oldPassword != storedPassword) return CPwdChangeDlg::kWrongOld;
    const std::string trimmed = Trimmed(newPassword);
    const bool plain = std::all_of(trimmed.begin(), trimmed.end(), [](unsigned char c) {
        return (c < 0x80 && std::isalnum(c)) || c == '_';
    });
    if (!plain) return CPwdChangeDlg::kBadCharacters;
    if (trimmed.empty()) return CPwdChangeDlg::kEmpty;
    if (newPassword != repeatedPassword) return CPwdChangeDlg::kMismatch;
    return {};
}

void PendingPasswordChange::Sent(std::int32_t requestId, std::string password) {
    requestId_ = requestId;
    password_ = requestId != 0 ? std::move(password) : std::string();
}

bool PendingPasswordChange::Answer(const control::ControlMessage& reply) {
    if (requestId_ == 0 || reply.id != requestId_) return false;
    if (reply.Param("status") == "1") core::AppConfig::Instance().ChangeCurrentUserPassword(password_);
    requestId_ = 0;
    password_.clear();
    return true;
}

CPwdChangeDlg::CPwdChangeDlg(platform::WindowHandle parent, RequestSender send, PendingPasswordChange* pending)
    : CPopUpDlg("PwdChange.xml", parent), send_(std::move(send)), pending_(pending) {}

void CPwdChangeDlg::InitWindow() {
    for (const char* name : {"oldpwdedit", "newpwdedit", "renewpwdedit"}) {
        auto* edit = m_PaintManager.FindControl<ui::CEditUI>(name);
        if (edit) edit->SetPasswordMode(true);
    }
    SetTextLimit(m_PaintManager.FindControl("newpwdedit"), kMaxCharacters);
    SetTextLimit(m_PaintManager.FindControl("renewpwdedit"), kMaxCharacters);
}

void CPwdChangeDlg::Notify(ui::TNotifyUI& msg) {
    if (!msg.pSender || msg.sType != ui::notify::kClick) return;
    const std::string name = msg.pSender->GetName();
    if (name == "pwdchangeOKbtn") OnOk();
    else if (name == "PwdChangeCloseBtn") Close(ui::kResultCancel);
}

void CPwdChangeDlg::OnOk() {
    core::AppConfig& config = core::AppConfig::Instance();
    const std::string newPassword = TextOf(m_PaintManager.FindControl("newpwdedit"));
    const std::string notice =
        CheckPasswordChange(config.currentUserPassword, TextOf(m_PaintManager.FindControl("oldpwdedit")), newPassword,
                            TextOf(m_PaintManager.FindControl("renewpwdedit")));
    if (!notice.empty()) {
        SecondLineNotice(notice, GetHWND());
        return;
    }
    // The server keeps the digest of the trimmed text, so that is the password now.
    const std::string password = Trimmed(newPassword);
    const std::int32_t requestId =
        send_ ? send_(kRequest, {{"userId", config.UserId()},
                                 {"userName", config.currentUserName},
                                 {"password", core::Md5Hex(password)}})
              : 0;
    if (pending_) pending_->Sent(requestId, password);
    Close(ui::kResultOk);
}

void CPwdChangeDlg::RegisterReplyHandler(ReplyQueue& queue, platform::WindowHandle parent,
                                         std::shared_ptr<PendingPasswordChange> pending) {
    queue.RegisterHandler(kRequest, [parent, pending](const control::ControlMessage& reply) {
        if (pending) pending->Answer(reply);
        ui::ShowMessageBox(reply.Param("status") == "1" ? "操作成功！" : "操作失败！", parent);
    });
}

// Exit -----------------------------------------------------------------------------

CShutDownDlg::CShutDownDlg(platform::WindowHandle parent) : CPopUpDlg("ShutDown.xml", parent) {}

void CShutDownDlg::Notify(ui::TNotifyUI& msg) {
    if (!msg.pSender || msg.sType != ui::notify::kClick) return;
    const std::string name = msg.pSender->GetName();
    if (name == "shut_down") Close(ui::kResultOk);
    else if (name == "CloseBtn") Close(ui::kResultCancel);
    else if (name == "change_user") Close(ui::kResultChangeUser);
}

}  // namespace mainwin
