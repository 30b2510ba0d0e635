#pragma once
// The login window: the user types or picks a user name, types the password, chooses
// whether the password is remembered and whether to log in automatically, and starts
// the login. The login sequence runs on a thread of its own and reports progress with
// message 1042; the window closes with 17 when the login succeeded.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/message_ids.h"
#include "core/thread_wrapper.h"
#include "ui/message_box.h"
#include "ui/toolkit/window.h"

namespace app {

// What the window needs from the application: where the login sequence reports
// progress, and the sequence itself (1 success, 0 failure). `cancelled` becomes true
// when the window closes while the sequence runs; the sequence must then stop and
// leave no trace. `cancelLoginSequence` (optional) is called at that moment too, to
// end what the sequence waits for.
struct LoginHooks {
    std::function<void(platform::WindowHandle)> setNotifyWindow;
    std::function<int(const std::atomic<bool>& cancelled)> runLoginSequence;
    std::function<void()> cancelLoginSequence;
};

class CLoginWin final : public ui::WindowImplBase {
public:
    explicit CLoginWin(LoginHooks hooks);
    ~CLoginWin() override;

    std::string GetWindowClassName() const override { return "DUILoninWin"; }
    std::string GetSkinFile() override { return "LoginWin.xml"; }
    int EscapeResult() const override { return ui::kResultCancel; }

    void InitWindow() override;
    void Notify(ui::TNotifyUI& msg) override;
    std::intptr_t HandleMessage(platform::Message& msg, bool& handled) override;
    bool ResponseDefaultKeyEvent(int key) override;
    void OnClose() override;

    bool IsBusy() const { return busy_; }
    // From the button or Enter: takes name, password and options from the controls.
    void StartLogin();

private:
    void FillUserList();
    void ShowUser(int index);
    void BeginLogin();
    void SetBusyLook(bool busy);
    void OnProgress(platform::Message& msg);
    void OnDeleteUser(ui::CControlUI* button);
    void OnOptionClick(ui::COptionUI* option);
    void WaitForLoginThread();

    LoginHooks hooks_;
    bool busy_ = false;
    bool succeeded_ = false;
    std::shared_ptr<std::atomic<bool>> runFlag_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> threadDone_ = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    core::ThreadWrapper loginThread_;
    ui::CDialogBuilder itemBuilder_;

    ui::CButtonUI* btnOk_ = nullptr;
    ui::CComboUI* userList_ = nullptr;
    ui::COptionUI* remember_ = nullptr;
    ui::COptionUI* autoLogin_ = nullptr;
    ui::CEditUI* userEdit_ = nullptr;
    ui::CEditUI* password_ = nullptr;
    ui::CProgressUI* progress_ = nullptr;
    ui::CControlUI* tips_ = nullptr;
    ui::CControlUI* progressBk_ = nullptr;
};

}  // namespace app
