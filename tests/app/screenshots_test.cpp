// Pictures of the login window (idle, busy, failed) and of every message box kind,
// rendered headless, each checked to show its controls and texts. They go to
// $LARKVIEW_SCREENSHOTS when set (docs/screenshots is filled this way), otherwise to a
// temporary folder.
#include <cstdlib>

#include "support/screenshots.h"
#include "login_window_fixture.h"
#include "ui/message_box.h"

using testing_support::Gate;
using testing_support::LoginWindowTest;

namespace {

class ScreenshotTest : public LoginWindowTest {
protected:
    std::string Target(const std::string& name) { return testing_support::ScreenshotPath(dir.Path(), name); }
    void Save(const QImage& image, const std::string& name) { testing_support::SaveScreenshot(image, Target(name)); }
    // That a picture of `window` shows its control `name`, holding `text` when given.
    static void Shows(const QImage& picture, ui::WindowImplBase& window, const char* name, const std::string& text = {}) {
        testing_support::ExpectShows(picture, window.GetWidget(), window.m_PaintManager.FindControl(name), text);
    }
    static QImage Grab(ui::WindowImplBase& window) { return window.GetWidget()->grab().toImage(); }
    static QImage Over(const QImage& back, const QImage& box) { return testing_support::BoxOverWindow(back, box); }
};

}  // namespace

TEST_F(ScreenshotTest, LoginWindowIdleBusyAndFailed) {
    SaveUsers({{"demo", "demo123", false}, {"operator01", "", false}});
    Gate gate;
    std::atomic<bool> busyShown{false};
    script = [&] {
        Send(50, "连接服务器成功...");
        busyShown = true;
        gate.Wait();
        Send(1, "登录失败，用户名或密码错误！");
        return 0;
    };
    boxes.Then([&](ui::WindowImplBase& box) {
        const QImage shown = Grab(box);
        Shows(shown, box, "TextOne", "登录失败，用户名或密码错误！");
        Shows(shown, box, "BtnOK");
        Save(Over(Grab(*window), shown), "login_failed.png");
        box.Close(ui::kResultOk);
    });
    Open();
    const QImage idle = Grab(*window);
    Shows(idle, *window, "UserEdit", "demo");
    Shows(idle, *window, "PassWord", "demo123");
    for (const char* control : {"Remeber", "AutoLogin", "BtnOK"}) Shows(idle, *window, control);
    Save(idle, "login_idle.png");
    Click("BtnOK");
    ASSERT_TRUE(WaitFor([&] { return busyShown.load(); }));
    QTest::qWait(10);
    const QImage busy = Grab(*window);
    Shows(busy, *window, "lbTips", "连接服务器成功...");
    Save(busy, "login_busy.png");
    gate.Open();
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy(); }));
}

TEST_F(ScreenshotTest, EveryMessageBoxKind) {
    core::LoginSession session;
    session.loginUserName = "demo";
    session.loginPassword = "demo123";
    core::AppConfig::Instance().SetSession(session);
    const struct {
        int request;
        const char* text1;
        const char* text2;
        const char* file;
    } kinds[] = {
        {0, "录像文件已保存到本地目录", "", "msgbox_notice.png"},
        {1, "确定要删除该分组吗？", "删除后分组内的摄像机将回到默认分组", "msgbox_question.png"},
        {3, "请输入当前账号的密码以继续", "删除子账号", "msgbox_password.png"},
        {4, "是否为该账号分配摄像机权限？", "分配权限", "msgbox_permission.png"},
    };
    for (const auto& kind : kinds) {
        boxes.Then([&](ui::WindowImplBase& box) {
            if (kind.request == 3) {
                box.m_PaintManager.FindControl("editPopUsrPW")->SetText("wrong");
                QTest::mouseClick(box.m_PaintManager.FindControl("BtnOK")->GetWidget(), Qt::LeftButton);
            }
            const QImage shown = Grab(box);
            Shows(shown, box, "TextOne", kind.text1);
            if (kind.request == 3) {  // the second line above the password, and the wrong-password tip
                Shows(shown, box, "TextShow", kind.text2);
                Shows(shown, box, "tipErrorPWD");
            } else if (kind.request == 4) {
                Shows(shown, box, "editPopUsrName", "demo");
            } else if (*kind.text2) {
                Shows(shown, box, "TextTwo", kind.text2);
            }
            Shows(shown, box, "BtnOK");
            Save(shown, kind.file);
            box.Close(ui::kResultCancel);
        });
        EXPECT_EQ(ui::ShowMessageBox(kind.text1, 0, kind.request, kind.text2), 2);
    }
}
