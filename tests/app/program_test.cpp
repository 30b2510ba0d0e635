#include "core/log_file.h"
#include "app/program.h"
#include "login_window_fixture.h"
#include "platform/ini_file.h"

using testing_support::LoginWindowTest;
using testing_support::TextOf;

namespace {

class ProgramTest : public LoginWindowTest {
protected:
    app::ProgramHooks Program() {
        app::ProgramHooks hooks;
        hooks.destroyControlClient = [this] { ++clientsDestroyed; };
        hooks.startAppInstance = [this] { ++instancesStarted; };
        hooks.destroyAppInstance = [this] { ++instancesDestroyed; };
        hooks.login = Hooks();
        return hooks;
    }
    void TearDown() override {
        core::LogFile::Destroy();
        LoginWindowTest::TearDown();
    }
    int clientsDestroyed = 0;
    int instancesStarted = 0;
    int instancesDestroyed = 0;
};

}  // namespace

TEST_F(ProgramTest, MissingServerAddressShowsTheConfigurationErrorAndNoLoginWindow) {
    dir.Write("appConfig.ini", "[ServerInfo]\nServerProt=18080\nServerPath=/master\n");
    boxes.Then([](ui::WindowImplBase& box) {
        EXPECT_EQ(TextOf(box, "TextOne"), "读取配置文件出错，请检查配置");
        EXPECT_EQ(TextOf(box, "TextTitle"), "错误");
        box.Close(ui::kResultOk);
    });
    EXPECT_EQ(app::RunProgram(Program()), 0);
    EXPECT_EQ(boxes.seen, (std::vector<std::string>{"PopMessageBox"}));
    EXPECT_EQ(instancesStarted, 0);
    EXPECT_EQ(clientsDestroyed, 0);
}

TEST_F(ProgramTest, ClosingTheLoginWindowEndsTheProgram) {
    bool mainWindowRan = false;
    auto hooks = Program();
    hooks.runMainWindow = [&] {
        mainWindowRan = true;
        return 17;
    };
    boxes.Then([](ui::WindowImplBase& login) { QTest::keyClick(login.GetWidget(), Qt::Key_Escape); });
    EXPECT_EQ(app::RunProgram(hooks), 0);
    EXPECT_EQ(boxes.seen, (std::vector<std::string>{"DUILoninWin"}));
    EXPECT_FALSE(mainWindowRan);
    EXPECT_EQ(clientsDestroyed, 1);
    EXPECT_EQ(instancesStarted, 1);
    EXPECT_GE(instancesDestroyed, 1);
}

TEST_F(ProgramTest, SwitchingUserReturnsToTheLoginWindowWithoutAutoLogin) {
    SaveUsers({{"alice", "pa", true}});
    script = [this] { return Send(0, nullptr) >= 0; };
    int mainWindows = 0;
    std::string autoLoginDuringSecondLogin;
    auto hooks = Program();
    hooks.runMainWindow = [&] { return ++mainWindows == 1 ? ui::kResultChangeUser : ui::kResultCancel; };
    boxes.Then([](ui::WindowImplBase&) {});  // the first window logs in by itself
    boxes.Then([&](ui::WindowImplBase& login) {
        autoLoginDuringSecondLogin = platform::ReadProfileString(core::UserSectionName(0), "AutoLogin", "", dir.File("appUser.ini"));
        EXPECT_EQ(TextOf(login, "UserEdit"), "alice");
        QTest::keyClick(login.GetWidget(), Qt::Key_Escape);
    });
    EXPECT_EQ(app::RunProgram(hooks), 0);
    EXPECT_EQ(boxes.seen, (std::vector<std::string>{"DUILoninWin", "DUILoninWin"}));
    EXPECT_EQ(autoLoginDuringSecondLogin, "0");
    EXPECT_EQ(runs.load(), 1) << "the second window must not log in by itself";
    EXPECT_EQ(mainWindows, 1);
    EXPECT_EQ(clientsDestroyed, 2) << "each cycle starts with a fresh control client";
}

TEST_F(ProgramTest, WithoutAMainWindowTheLoopEndsAfterASuccessfulLoginAndSaysSo) {
    script = [this] { return Send(0, nullptr) >= 0; };
    boxes.Then([&](ui::WindowImplBase& login) {
        login.m_PaintManager.FindControl("UserEdit")->SetText("alice");
        QTest::keyClick(login.GetWidget(), Qt::Key_Return);
    });
    EXPECT_EQ(app::RunProgram(Program()), 0);
    EXPECT_EQ(runs.load(), 1);
    core::LogFile::Destroy();
    EXPECT_NE(dir.Read("appLogs/Manage.log").find("no main window"), std::string::npos);
}
