#pragma once
// A login window on a temporary program directory, with a scripted login sequence
// in place of the real one: the script runs on the login thread and talks to the
// window only through blocking 1042 sends, as the real sequence does.

#include <QTest>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>

#include "core/message_ids.h"
#include "core/app_config.h"
#include "app/login_win.h"
#include "platform/paths.h"
#include "support/modal_driver.h"
#include "support/temp_dir.h"

namespace testing_support {

// Lets a scripted sequence wait until the test opens the gate.
class Gate {
public:
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

class LoginWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        dir.Write("appConfig.ini", "[ServerInfo]\nServerIp=127.0.0.1\nServerProt=18080\nServerPath=/master\n");
    }
    void TearDown() override {
        window.reset();
        platform::SetProgramDirectory("");
    }

    // Saved users as appUser.ini stores them: name, password, auto-login.
    void SaveUsers(const std::vector<std::tuple<std::string, std::string, bool>>& users) {
        std::string text = "[UserInfo]\nUserNumber=" + std::to_string(users.size()) + "\n";
        for (std::size_t i = 0; i < users.size(); ++i) {
            const auto& [name, password, autoLogin] = users[i];
            text += "[" + core::UserSectionName(static_cast<int>(i)) + "]\nUserName=" + name +
                    "\nPassWord=" + core::EncodePassword(password) + "\nAutoLogin=" + (autoLogin ? "1" : "0") + "\n";
        }
        dir.Write("appUser.ini", text);
    }

    app::LoginHooks Hooks() {
        app::LoginHooks hooks;
        hooks.setNotifyWindow = [this](platform::WindowHandle h) { notifyWindow = h; };
        hooks.cancelLoginSequence = [this] { ++cancels; };
        hooks.runLoginSequence = [this](const std::atomic<bool>& cancelled) {
            cancelFlag = &cancelled;
            ++runs;
            seenUser = core::AppConfig::Instance().currentUserName;
            return script ? script() : 0;
        };
        return hooks;
    }

    // Loads the configuration and builds the window (InitWindow may start a login).
    app::CLoginWin& Open() {
        EXPECT_TRUE(core::AppConfig::Instance().LoadConfiguration());
        window = std::make_unique<app::CLoginWin>(Hooks());
        EXPECT_TRUE(window->Create(0, "登录"));
        window->ShowWindow();
        return *window;
    }

    // For the script: one blocking progress message to the window.
    std::intptr_t Send(std::uintptr_t progress, const char* text) {
        platform::Message msg(core::kAppNotify, progress);
        if (text) msg.payload = platform::MakePayload(std::string(text));
        return platform::SendWindowMessage(notifyWindow.load(), std::move(msg));
    }

    ui::CControlUI* Control(const std::string& name) { return window->m_PaintManager.FindControl(name); }
    std::string Text(const std::string& name) { return TextOf(*window, name); }
    bool Enabled(const std::string& name) { return Control(name) && Control(name)->IsEnabled(); }
    bool Visible(const std::string& name) { return Control(name) && Control(name)->IsVisible(); }
    bool Selected(const std::string& name) {
        auto* option = window->m_PaintManager.FindControl<ui::COptionUI>(name);
        return option && option->IsSelected();
    }
    int Progress() { return window->m_PaintManager.FindControl<ui::CProgressUI>("StartSlider")->GetValue(); }
    void Click(const std::string& name) {
        ui::CControlUI* control = Control(name);
        ASSERT_NE(control, nullptr) << name;
        QWidget* widget = control->GetWidget();
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(8, widget->height() / 2));
    }
    bool WaitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 5000); }

    TempDir dir;
    ModalDriver boxes;
    std::unique_ptr<app::CLoginWin> window;
    std::atomic<platform::WindowHandle> notifyWindow{0};
    std::atomic<int> runs{0};
    std::atomic<int> cancels{0};
    // The running sequence's cancel flag (set when the window closes under it).
    std::atomic<const std::atomic<bool>*> cancelFlag{nullptr};
    bool Cancelled() const { return cancelFlag.load() && cancelFlag.load()->load(); }
    std::string seenUser;
    std::function<int()> script;
};

}  // namespace testing_support
