// The whole outer loop against the simulated service, through the windows: log in,
// reach the main window with the account's tree and a ticking status bar, switch
// user from the exit dialog, log in again as another account, and leave.
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "core/app_config.h"
#include "session/app_instance.h"
#include "core/log_file.h"
#include "control/control_client.h"
#include "integration/sim_fixture.h"
#include "mainwin/main_win.h"
#include "app/program_wiring.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "support/modal_driver.h"
#include "support/temp_dir.h"

using testing_support::ModalDriver;
using testing_support::TextOf;

namespace {

class MainWinWithSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        core::LogFile::Destroy();
        platform::SetProgramDirectory(dir.Path());
        dir.Write("appConfig.ini", "[ServerInfo]\nServerIp=127.0.0.1\nServerProt=" +
                                       std::to_string(sim.Service().MasterPort()) +
                                       "\nServerPath=" + sim.Service().Config().serverPath + "\n");
        app::InstallProgramWiring();
    }
    void TearDown() override {
        session::CAppInteance::Destroy();
        control::ControlClient::Destroy();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }
    // Types the account into the login window and presses the button.
    static void LogIn(ui::WindowImplBase& login, const std::string& user, const std::string& password) {
        login.m_PaintManager.FindControl("UserEdit")->SetText(user);
        login.m_PaintManager.FindControl("PassWord")->SetText(password);
        QTest::mouseClick(login.m_PaintManager.FindControl("BtnOK")->GetWidget(), Qt::LeftButton);
    }
    static void Click(ui::WindowImplBase& window, const std::string& control) {
        ui::CControlUI* sender = window.m_PaintManager.FindControl(control);
        ASSERT_NE(sender, nullptr) << control;
        window.m_PaintManager.SendNotify(sender, ui::notify::kClick);
    }

    testing_support::TempDir dir;
    testing_support::SimulatedService sim{40};
    ModalDriver windows;
};

}  // namespace

TEST_F(MainWinWithSimTest, LogInSeeTheTreeSwitchUserAndLogInAgain) {
    struct Seen {
        std::size_t treeRows = 0;
        int rootNodes = 0;
        std::string nodeCountText, firstTime, laterTime, user, rights;
        bool optionPanel = false;
        bool clockShown = false, clockTicked = false;
        std::size_t queuedRepliesHandled = 0;
    } demo, lina;
    std::string autoLoginAtSecondLogin;

    // What the main window shows once its tree is there and its clock has moved.
    auto inspect = [](mainwin::CMainWin& window, Seen& seen, const std::function<void()>& then) {
        QTimer::singleShot(0, [&window, &seen, then] {
            const auto& index = window.Trees().Index(ui::CCameraTrees::kLive);
            seen.treeRows = index.Size();
            seen.rootNodes = window.RootNodeCount();
            seen.user = TextOf(window, "username");
            seen.rights = window.Rights();
            seen.optionPanel = window.m_PaintManager.FindControl("optionPanel")->IsVisible();
            seen.clockShown = QTest::qWaitFor([&] { return TextOf(window, "Time") != "00:00:00"; }, 3000);
            seen.firstTime = TextOf(window, "Time");
            seen.clockTicked = QTest::qWaitFor([&] { return TextOf(window, "Time") != seen.firstTime; }, 3000);
            seen.laterTime = TextOf(window, "Time");
            seen.nodeCountText = TextOf(window, "nodecount");
            then();
        });
    };

    // demo is remembered with auto-login: the first login window logs in by itself.
    dir.Write("appUser.ini", "[UserInfo]\nUserNumber=1\n[" + core::UserSectionName(0) + "]\nUserName=demo\nPassWord=" +
                                 core::EncodePassword("larkview") + "\nAutoLogin=1\n");
    windows.Then([](ui::WindowImplBase&) {});
    windows.Then([&](ui::WindowImplBase& main) {
        auto& window = dynamic_cast<mainwin::CMainWin&>(main);
        inspect(window, demo, [&window] { Click(window, "closebtn"); });
    });
    windows.Then([](ui::WindowImplBase& exit) {
        EXPECT_EQ(exit.GetWindowClassName(), "ShutDownWnd");
        QTimer::singleShot(0, [&exit] { exit.m_PaintManager.SendNotify(exit.m_PaintManager.FindControl("change_user"), "click"); });
    });
    windows.Then([&](ui::WindowImplBase& login) {
        autoLoginAtSecondLogin = platform::ReadProfileString(core::UserSectionName(0), "AutoLogin", "", dir.File("appUser.ini"));
        LogIn(login, "lina", "larkview");
    });
    windows.Then([&](ui::WindowImplBase& main) {
        auto& window = dynamic_cast<mainwin::CMainWin&>(main);
        inspect(window, lina, [&window] { Click(window, "exituser"); });
    });
    windows.Then([](ui::WindowImplBase& exit) {
        EXPECT_EQ(exit.GetWindowClassName(), "ShutDownWnd");
        QTimer::singleShot(0, [&exit] { exit.m_PaintManager.SendNotify(exit.m_PaintManager.FindControl("shut_down"), "click"); });
    });

    EXPECT_EQ(app::RunProgram(app::ApplicationProgramHooks()), 0);
    EXPECT_EQ(windows.seen, (std::vector<std::string>{"DUILoninWin", "DUIMainFrame", "ShutDownWnd", "DUILoninWin",
                                                      "DUIMainFrame", "ShutDownWnd"}));
    EXPECT_EQ(windows.Pending(), 0u);

    EXPECT_EQ(demo.user, "demo");
    EXPECT_GT(demo.treeRows, 40u) << "the nodes and the 40 cameras";
    EXPECT_EQ(demo.nodeCountText, std::to_string(demo.rootNodes)) << "the bar counts the permission tree's top rows";
    EXPECT_TRUE(demo.clockShown) << "the status bar shows the time";
    EXPECT_TRUE(demo.clockTicked) << "the status bar ticks";
    EXPECT_NE(demo.firstTime, demo.laterTime);
    EXPECT_NE(demo.rights.find("CLOUD_DECK"), std::string::npos);
    EXPECT_TRUE(demo.optionPanel);

    EXPECT_EQ(autoLoginAtSecondLogin, "0");
    EXPECT_EQ(lina.user, "lina");
    EXPECT_GT(lina.treeRows, 0u);
    EXPECT_LT(lina.treeRows, demo.treeRows) << "a sub-account sees part of the tree";
    EXPECT_EQ(lina.rights.find("CLOUD_DECK"), std::string::npos);
    EXPECT_FALSE(lina.optionPanel) << "without pan-tilt-zoom the option strip goes";
    EXPECT_TRUE(lina.clockShown && lina.clockTicked);
    EXPECT_NE(lina.firstTime, lina.laterTime);
}
