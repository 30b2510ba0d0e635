#pragma once
// The main window's small dialogs: feedback, password change and exit. Each is a
// pop-up dialog closing with 17 (done), 33 (cancel) or, for the exit dialog, 34
// (switch user); notices go through the program's message box.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "control/control_message.h"
#include "ui/pop_up_dlg.h"

namespace mainwin {

class ReplyQueue;

// Sends a control request without waiting; the request id (0: not sent).
using RequestSender = std::function<std::int32_t(int msgType, const std::map<std::string, std::string>&)>;

class CFeedBackDlg final : public ui::CPopUpDlg {
public:
    static constexpr const char* kPlaceholder = "给点建议吧...";
    static constexpr const char* kEmptyText = "亲，不能发送为空哦！";
    static constexpr const char* kThanksText = "亲，你宝贵的意见是我们前进的动力！";
    static constexpr const char* kFailedText = "亲，很遗憾发送失败了！";
    static constexpr int kMaxCharacters = 512;
    static constexpr int kRequest = 51;

    CFeedBackDlg(platform::WindowHandle parent, RequestSender send);
    std::string GetWindowClassName() const override { return "FeedBackWnd"; }
    int EscapeResult() const override { return ui::kResultCancel; }
    void InitWindow() override;
    void Notify(ui::TNotifyUI& msg) override;

    // The answer to 51 (shown wherever the dialog has gone).
    static void RegisterReplyHandler(ReplyQueue& queue, platform::WindowHandle parent);

private:
    void OnOk();
    RequestSender send_;
    ui::CControlUI* edit_ = nullptr;
};

// The four checks of a new password, in order; the notice of the first that fails,
// or an empty text when the change may be sent.
std::string CheckPasswordChange(const std::string& storedPassword, const std::string& oldPassword,
                                const std::string& newPassword, const std::string& repeatedPassword);

// A password change sent and not yet answered. Only the answer to that very request,
// and only an acceptance, makes the new password the user's (in memory and in the
// remembered users), so the next automatic login uses it.
class PendingPasswordChange {
public:
    void Sent(std::int32_t requestId, std::string password);
    // True when `reply` answers the pending change; an accepted one is stored.
    bool Answer(const control::ControlMessage& reply);
    bool Waiting() const { return requestId_ != 0; }

private:
    std::int32_t requestId_ = 0;
    std::string password_;
};

class CPwdChangeDlg final : public ui::CPopUpDlg {
public:
    static constexpr const char* kWrongOld = "输入的原密码错误！";
    static constexpr const char* kBadCharacters = "密码只能使用字符、数字、下划线！";
    static constexpr const char* kEmpty = "密码不能为空！";
    static constexpr const char* kMismatch = "两次输入的密码不一致！";
    static constexpr int kMaxCharacters = 12;
    static constexpr int kRequest = 42;

    // `pending` (may be null) learns of the change sent.
    CPwdChangeDlg(platform::WindowHandle parent, RequestSender send, PendingPasswordChange* pending = nullptr);
    std::string GetWindowClassName() const override { return "PwdChangeWnd"; }
    int EscapeResult() const override { return ui::kResultCancel; }
    void InitWindow() override;
    void Notify(ui::TNotifyUI& msg) override;

    // Until the sub-account panel brings its own, the answer to 42 is a plain notice;
    // the answer to the pending change also stores the new password.
    static void RegisterReplyHandler(ReplyQueue& queue, platform::WindowHandle parent,
                                     std::shared_ptr<PendingPasswordChange> pending = nullptr);

private:
    void OnOk();
    RequestSender send_;
    PendingPasswordChange* pending_;
};

class CShutDownDlg final : public ui::CPopUpDlg {
public:
    explicit CShutDownDlg(platform::WindowHandle parent);
    std::string GetWindowClassName() const override { return "ShutDownWnd"; }
    int EscapeResult() const override { return ui::kResultCancel; }
    void Notify(ui::TNotifyUI& msg) override;
};

}  // namespace mainwin
