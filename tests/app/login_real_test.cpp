// The login window driving the real login sequence and control client against a
// scripted proxy server on loopback.
#include <QTest>
#include <gtest/gtest.h>
#include <json/json.h>

#include "core/message_ids.h"
#include "core/app_config.h"
#include "session/app_instance.h"
#include "core/log_file.h"
#include "session/login_sequence.h"
#include "app/login_win.h"
#include "control/fake_proxy.h"
#include "platform/paths.h"
#include "support/modal_driver.h"
#include "support/temp_dir.h"
#include "ui/toolkit/ui_executor.h"

using control::ControlMessage;
using testing_support::FakeProxy;
using testing_support::ModalDriver;

namespace {

class RealLoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        dir.Write("appConfig.ini", "[ServerInfo]\nServerIp=127.0.0.1\nServerProt=" + std::to_string(proxy.MasterPort()) +
                                       "\nServerPath=/master\n");
        control::ControlClient::Timing timing;
        timing.requestTimeoutMs = 500;
        timing.listTimeoutMs = 1000;
        timing.http.readTimeoutMs = 1000;
        control::ControlClient::SetTimingForNewClients(timing);
        ASSERT_TRUE(core::AppConfig::Instance().LoadConfiguration());
        control::ControlClient::Destroy();
        // A tap between the sequence and the window records every step it reports.
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

    void AnswerLoginWith(int status) {
        proxy.SetScript([status](const ControlMessage& request) -> std::vector<std::string> {
            Json::Value params;
            if (request.msgType == 2) {
                params["status"] = status;
                params["userId"] = "u1";
                return {FakeProxy::Reply(request.id, 2, params)};
            }
            if (request.msgType == 29) {
                params["status"] = 1;
                params["nodeIdList"] = "n1;";
                params["nodeNameList"] = "总部;";
                params["cameraCountList"] = "1;0";
                params["cameraOnlineCountList"] = "1;0";
                params["cameraIdList"] = ";c1";
                params["cameraActiveList"] = ";1";
                params["parentIdList"] = "0;n1";
                params["end"] = "1";
                return {FakeProxy::Reply(request.id, 29, params)};
            }
            return {};
        });
    }

    void OpenAndLogIn(const std::string& user, const std::string& password) {
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
        QTest::keyClick(window->GetWidget(), Qt::Key_Return);
    }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& [progress, text] : steps) texts.push_back(text);
        return texts;
    }

    testing_support::TempDir dir;
    FakeProxy proxy;
    ModalDriver boxes;
    platform::WindowHandle tap = 0;
    std::atomic<platform::WindowHandle> loginWindow{0};
    std::unique_ptr<app::CLoginWin> window;
    std::vector<std::pair<std::uintptr_t, std::string>> steps;
};

}  // namespace

TEST_F(RealLoginTest, SuccessfulLoginShowsEveryStepAndClosesWith17) {
    AnswerLoginWith(1);
    OpenAndLogIn("demo", "demo123");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->IsClosed(); }, 10000));
    EXPECT_EQ(window->ShowModal(), 17);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"初始化...", "连接服务器成功...", "视频对象初始化成功...", "检测升级...",
                                                 "获取列表...", ""}));
    EXPECT_EQ(steps.back().first, core::kLoginSucceeded);
    EXPECT_EQ(session::CAppInteance::Instance().Items().Count(), 2u) << "one node and its camera";
    ASSERT_FALSE(core::AppConfig::Instance().savedUsers.empty());
    EXPECT_EQ(core::AppConfig::Instance().savedUsers.front().name, "demo") << "the user is remembered";
    EXPECT_TRUE(boxes.seen.empty());
}

TEST_F(RealLoginTest, WrongPasswordShowsTheReasonInTheBoxAndTheWindowStaysOpen) {
    AnswerLoginWith(-1);
    std::string shown;
    boxes.Then([&](ui::WindowImplBase& box) {
        shown = testing_support::TextOf(box, "TextOne");
        box.Close(ui::kResultOk);
    });
    OpenAndLogIn("demo", "nope");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.seen.empty() && !window->IsBusy(); }, 10000));
    EXPECT_EQ(shown, "登录失败，用户名或密码错误！");
    EXPECT_EQ(steps.back().first, core::kLoginFailed);
    EXPECT_FALSE(window->IsClosed());
    EXPECT_EQ(testing_support::TextOf(*window, "PassWord"), "nope");
}

TEST_F(RealLoginTest, UnreachableMasterServerReportsTheMasterFailure) {
    dir.Write("appConfig.ini", "[ServerInfo]\nServerIp=127.0.0.1\nServerProt=1\nServerPath=/master\n");
    ASSERT_TRUE(core::AppConfig::Instance().LoadConfiguration());
    std::string shown;
    boxes.Then([&](ui::WindowImplBase& box) {
        shown = testing_support::TextOf(box, "TextOne");
        box.Close(ui::kResultOk);
    });
    OpenAndLogIn("demo", "demo123");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.seen.empty() && !window->IsBusy(); }, 15000));
    EXPECT_EQ(shown, "连接总控服务器失败，请检查网络连接是否正常！");
}
