#include "app/login_win.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <thread>

#include "core/message_ids.h"
#include "core/app_config.h"
#include "core/log_file.h"
#include "ui/toolkit/control.h"

namespace app {
namespace {

constexpr const char* kLoginImages[] = {"file='Image\\lg1.png'", "file='Image\\lg2.png'", "file='Image\\lg3.png'"};
constexpr const char* kCancelImages[] = {"file='Image\\cancel_login1.png'", "file='Image\\cancel_login2.png'",
                                         "file='Image\\cancel_login3.png'"};

void SetSelected(ui::COptionUI* option, bool selected) {
    if (option) option->Selected(selected, false);
}

bool IsSelected(const ui::COptionUI* option) { return option && option->IsSelected(); }

// The toolkit's null-safe forms.
using ui::SetText;
using ui::TextOf;

// The saved user whose name is `name`, skipping deleted ones.
core::SavedUser* SavedUserNamed(const std::string& name) {
    if (name.empty()) return nullptr;
    for (core::SavedUser& user : core::AppConfig::Instance().savedUsers)
        if (!user.deleted && user.name == name) return &user;
    return nullptr;
}

}  // namespace

CLoginWin::CLoginWin(LoginHooks hooks) : hooks_(std::move(hooks)) {}

CLoginWin::~CLoginWin() {
    // No message reaches this window any more; a login still running finds its
    // sends answered with 0 and ends on its own.
    DestroyHandle();
    WaitForLoginThread();
}

void CLoginWin::WaitForLoginThread() {
    // A send already queued for this window runs (and returns) only while the
    // user-interface thread keeps handling events, so keep handling them.
    while (!threadDone_->load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    loginThread_.Stop();
}

void CLoginWin::InitWindow() {
    auto& pm = m_PaintManager;
    btnOk_ = pm.FindControl<ui::CButtonUI>("BtnOK");
    userList_ = pm.FindControl<ui::CComboUI>("cbUserInfoList");
    remember_ = pm.FindControl<ui::COptionUI>("Remeber");
    autoLogin_ = pm.FindControl<ui::COptionUI>("AutoLogin");
    userEdit_ = pm.FindControl<ui::CEditUI>("UserEdit");
    password_ = pm.FindControl<ui::CEditUI>("PassWord");
    progress_ = pm.FindControl<ui::CProgressUI>("StartSlider");
    tips_ = pm.FindControl("lbTips");
    progressBk_ = pm.FindControl("LgProgressBK");
    if (password_) password_->SetPasswordMode(true);
    if (progress_) {
        progress_->SetMinValue(0);
        progress_->SetMaxValue(100);
        progress_->SetValue(0);
    }
    SetBusyLook(false);

    FillUserList();
    core::AppConfig& config = core::AppConfig::Instance();
    // The channel is plain TCP: the footer names the server, it claims no security.
    if (ui::CControlUI* footer = pm.FindControl("lbFooter"); footer && !config.serverList.empty())
        footer->SetText("Larkview · 服务器 " + config.serverList.front() + ":" + std::to_string(config.serverPort));
    if (!config.savedUsers.empty()) {
        if (userList_) userList_->SelectItem(0);
        ShowUser(0);
    } else {
        SetSelected(autoLogin_, false);
        SetSelected(remember_, false);
    }

    if (hooks_.setNotifyWindow) hooks_.setNotifyWindow(GetHWND());

    // The auto-login user may be another than the one shown: it logs in as stored.
    if (config.FindAutoLoginUser()) BeginLogin();
}

void CLoginWin::FillUserList() {
    if (!userList_) return;
    const auto& users = core::AppConfig::Instance().savedUsers;
    for (std::size_t i = 0; i < users.size(); ++i) {
        QWidget* widget = itemBuilder_.Create("User_List.xml", m_PaintManager, nullptr, this);
        auto* item = dynamic_cast<ui::CControlUI*>(widget);
        if (!item) {
            delete widget;
            continue;  // logged by the builder; the combo stays without this user
        }
        item->SetTag(static_cast<std::intptr_t>(i));
        SetText(m_PaintManager.FindSubControlByName(item, "user_text"), users[i].name);
        if (auto* del = m_PaintManager.FindSubControlByName(item, "delbtn")) del->SetTag(static_cast<std::intptr_t>(i));
        userList_->AddItem(widget, users[i].name);
    }
}

void CLoginWin::ShowUser(int index) {
    const auto& users = core::AppConfig::Instance().savedUsers;
    if (index < 0 || index >= static_cast<int>(users.size())) return;
    const core::SavedUser& user = users[index];
    SetText(userEdit_, user.name);
    SetText(password_, user.remember ? user.password : std::string());
    SetSelected(autoLogin_, user.autoLogin);
    SetSelected(remember_, user.remember);
}

void CLoginWin::StartLogin() {
    if (busy_) return;
    core::AppConfig& config = core::AppConfig::Instance();
    config.currentUserName = TextOf(userEdit_);
    config.currentUserPassword = TextOf(password_);
    config.currentUserRemember = IsSelected(remember_);
    config.currentUserAutoLogin = IsSelected(autoLogin_);
    config.currentUserDeleted = false;
    BeginLogin();
}

void CLoginWin::BeginLogin() {
    if (busy_) return;
    busy_ = true;
    runFlag_->store(true);
    if (loginThread_.IsRunning()) WaitForLoginThread();

    threadDone_->store(false);
    auto run = runFlag_;
    auto done = threadDone_;
    auto cancelled = cancelled_;
    auto sequence = hooks_.runLoginSequence;
    const int started = loginThread_.Start([run, done, cancelled, sequence](core::ThreadWrapper&) {
        if (run->exchange(false) && sequence) sequence(*cancelled);
        done->store(true);
    });
    if (!started) {
        threadDone_->store(true);
        core::LogWrite("login thread could not start");
    }
    SetBusyLook(true);
    if (progress_) progress_->SetValue(1);
}

void CLoginWin::SetBusyLook(bool busy) {
    for (ui::CControlUI* control : std::initializer_list<ui::CControlUI*>{userEdit_, password_, remember_, autoLogin_, userList_})
        if (control) control->SetEnabled(!busy);
    if (progressBk_) progressBk_->SetVisible(busy);
    if (btnOk_) {
        const auto& images = busy ? kCancelImages : kLoginImages;
        btnOk_->SetNormalImage(images[0]);
        btnOk_->SetHotImage(images[1]);
        btnOk_->SetPushedImage(images[2]);
    }
}

std::intptr_t CLoginWin::HandleMessage(platform::Message& msg, bool& handled) {
    if (msg.id != core::kAppNotify) return WindowImplBase::HandleMessage(msg, handled);
    handled = true;
    OnProgress(msg);
    return 0;
}

void CLoginWin::OnProgress(platform::Message& msg) {
    const std::string* text = platform::PayloadAs<std::string>(msg);
    if (msg.wParam == core::kLoginSucceeded) {
        succeeded_ = true;
        Close(ui::kResultOk);
        return;
    }
    if (msg.wParam == core::kLoginFailed) {
        const std::string reason = text ? *text : std::string();
        if (tips_) {
            tips_->SetText(reason);
            tips_->SetVisible(true);
        }
        ui::ShowNoticeWithCaption(reason, "错误", GetHWND());
        busy_ = false;
        SetBusyLook(false);
        if (progress_) progress_->SetValue(0);
        if (tips_) tips_->SetVisible(false);
        return;
    }
    if (progress_) progress_->SetValue(static_cast<int>(std::min<std::uintptr_t>(msg.wParam, 100)));
    if (text && tips_) {
        tips_->SetText(*text);
        tips_->SetVisible(true);
    }
}

void CLoginWin::OnClose() {
    // Closed while a login runs (not by its success, which comes last): the sequence
    // must not go on unseen, saving the user, starting the updater, fetching the list.
    if (!busy_ || succeeded_ || threadDone_->load()) return;
    cancelled_->store(true);
    if (hooks_.cancelLoginSequence) hooks_.cancelLoginSequence();
}

bool CLoginWin::ResponseDefaultKeyEvent(int key) {
    if (key == Qt::Key_Return) {
        StartLogin();  // does nothing while busy
        return true;
    }
    return WindowImplBase::ResponseDefaultKeyEvent(key);
}

void CLoginWin::Notify(ui::TNotifyUI& msg) {
    if (!msg.pSender) return;
    const std::string name = msg.pSender->GetName();
    if (msg.sType == ui::notify::kClick) {
        if (name == "BtnOK") {
            StartLogin();
        } else if (name == "closebtn") {
            Close(ui::kResultCancel);
        } else if (name == "delbtn") {
            OnDeleteUser(msg.pSender);
        } else if (msg.pSender == remember_ || msg.pSender == autoLogin_) {
            OnOptionClick(static_cast<ui::COptionUI*>(msg.pSender));
        }
    } else if (msg.sType == ui::notify::kItemSelect && msg.pSender == userList_) {
        ShowUser(static_cast<int>(msg.wParam));
    }
}

void CLoginWin::OnDeleteUser(ui::CControlUI* button) {
    auto& users = core::AppConfig::Instance().savedUsers;
    const std::intptr_t index = button->GetTag();
    if (index < 0 || index >= static_cast<std::intptr_t>(users.size()) || users[index].deleted) return;
    core::SavedUser& user = users[index];
    user.deleted = true;
    if (TextOf(userEdit_) == user.name) {
        SetText(userEdit_, "");
        SetText(password_, "");
    }
    core::AppConfig::Instance().SaveSavedUsers();
    if (ui::CControlUI* item = button->GetParent()) item->SetVisible(false);
}

void CLoginWin::OnOptionClick(ui::COptionUI* option) {
    // The option's state has already changed when the click arrives.
    const bool on = option->IsSelected();
    core::SavedUser* user = SavedUserNamed(TextOf(userEdit_));
    if (option == autoLogin_) {
        if (on) {
            SetSelected(remember_, true);
            if (user) {
                for (core::SavedUser& other : core::AppConfig::Instance().savedUsers) other.autoLogin = false;
                user->remember = true;
                user->autoLogin = true;
            }
        } else if (user) {
            user->autoLogin = false;
        }
    } else {
        if (!on) {
            SetSelected(autoLogin_, false);
            if (user) {
                user->remember = false;
                user->autoLogin = false;
                user->password.clear();
                SetText(password_, "");
            }
        } else if (user) {
            user->remember = true;
        }
    }
    if (user) core::AppConfig::Instance().SaveSavedUsers();
}

}  // namespace app
