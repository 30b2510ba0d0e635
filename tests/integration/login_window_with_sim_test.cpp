// The login window running the real login sequence against the simulated service:
// what the user sees for a good and a bad password.
#include <QTest>
#include <gtest/gtest.h>

#include "core/app_config.h"
#include "session/app_instance.h"
#include "core/log_file.h"
#include "session/login_sequence.h"
#include "app/login_win.h"
#include "integration/sim_fixture.h"
#include "platform/paths.h"
#include "support/modal_driver.h"
#include "support/temp_dir.h"
#include "ui/toolkit/ui_executor.h"

using testing_support::ModalDriver;

namespace {

class LoginWindowWithSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        dir.Write("appConfig.ini", "[ServerInfo]\nServerIp=127.0.0.1\nServerProt=" +
                                       std::to_string(sim.Service().MasterPort()) +
                                       "\nServerPath=" + sim.Service().Config().serverPath + "\n");
        ASSERT_TRUE(core::AppConfig::Instance().LoadConfiguration());
        control::ControlClient::Destroy();
        // A tap between the sequence and the window records each step it reports.
        tap = platform::CreateWindowHandle(
            [this](platform::Message& msg) -> std::intptr_t {
                const std::string* text = platform::PayloadAs<std::string>(msg);
                steps.emplace_back(msg.wParam, text ? *text : "");
                platform::Message copy(msg.id, msg.wParam, msg.lParam);
                if (text) copy.payload = platform::MakePayload(*text);
                return platform::SendWindowMessage(loginWindow, std::move(copy));
            },
            ui::UiExecutor());
    }
    void TearDown() override {
        window.reset();
        platform::DestroyWindowHandle(tap);
        session::CAppInteance::Destroy();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }

    void LogIn(const std::string& user, const std::string& password) {
        app::LoginHooks hooks;
        hooks.setNotifyWindow = [this](platform::WindowHandle h) {
            loginWindow = h;
            session::CAppInteance::Instance().SetNotifyWindow(tap);
        };
        hooks.runLoginSequence = [](const std::atomic<bool>& cancelled) { return session::RunLoginSequence(&cancelled); };
        window = std::make_unique<app::CLoginWin>(hooks);
        ASSERT_TRUE(window->Create(0, "登录"));
        window->ShowWindow();
        window->m_PaintManager.FindControl("UserEdit")->SetText(user);
        window->m_PaintManager.FindControl("PassWord")->SetText(password);
        QTest::mouseClick(window->m_PaintManager.FindControl("BtnOK")->GetWidget(), Qt::LeftButton);
    }

    testing_support::TempDir dir;
    testing_support::SimulatedService sim{20};
    ModalDriver boxes;
    platform::WindowHandle tap = 0;
    std::atomic<platform::WindowHandle> loginWindow{0};
    std::unique_ptr<app::CLoginWin> window;
    std::vector<std::pair<std::uintptr_t, std::string>> steps;
};

}  // namespace

TEST_F(LoginWindowWithSimTest, DemoAccountLogsInThroughEveryStep) {
    LogIn("demo", "larkview");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->IsClosed(); }, 30000));
    EXPECT_EQ(window->ShowModal(), 17);
    std::vector<std::pair<std::uintptr_t, std::string>> expected{
        {10, "初始化..."}, {50, "连接服务器成功..."}, {60, "视频对象初始化成功..."}, {80, "检测升级..."},
        {90, "获取列表..."}, {0, ""}};
    EXPECT_EQ(steps, expected);
    EXPECT_GT(session::CAppInteance::Instance().Items().Count(), 20u) << "nodes and the 20 cameras";
    EXPECT_TRUE(boxes.seen.empty());
}

TEST_F(LoginWindowWithSimTest, WrongPasswordIsShownInTheBoxAndTheWindowStaysUsable) {
    std::string shown;
    boxes.Then([&](ui::WindowImplBase& box) {
        shown = testing_support::TextOf(box, "TextOne");
        box.Close(ui::kResultOk);
    });
    LogIn("demo", "not-the-password");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.seen.empty() && !window->IsBusy(); }, 30000));
    EXPECT_EQ(shown, "登录失败，用户名或密码错误！");
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), (std::pair<std::uintptr_t, std::string>{1, "登录失败，用户名或密码错误！"}));
    EXPECT_FALSE(window->IsClosed());
    EXPECT_TRUE(window->m_PaintManager.FindControl("UserEdit")->IsEnabled());
}
