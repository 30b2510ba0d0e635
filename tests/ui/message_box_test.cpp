#include <QTest>
#include <gtest/gtest.h>

#include "core/app_config.h"
#include "support/modal_driver.h"
#include "support/temp_dir.h"
#include "ui/message_box.h"

using namespace ui;
using testing_support::ModalDriver;
using testing_support::TextOf;

namespace {

void SetLoginPassword(const std::string& password) {
    core::LoginSession session = core::AppConfig::Instance().Session();
    session.loginPassword = password;
    core::AppConfig::Instance().SetSession(session);
}

CPopMessageBox& Box(WindowImplBase& window) { return dynamic_cast<CPopMessageBox&>(window); }

void Click(WindowImplBase& window, const std::string& name) {
    CControlUI* control = window.m_PaintManager.FindControl(name);
    ASSERT_NE(control, nullptr) << name;
    QTest::mouseClick(control->GetWidget(), Qt::LeftButton);
}

bool Visible(WindowImplBase& window, const std::string& name) {
    CControlUI* control = window.m_PaintManager.FindControl(name);
    return control && control->IsVisible();
}

}  // namespace

TEST(MessageBox, RequestKindsPickTheirSkinsAndOkAnswersOne) {
    ModalDriver driver;
    std::vector<std::string> skins;
    for (int i = 0; i < 4; ++i) {
        driver.Then([&](WindowImplBase& w) {
            skins.push_back(w.GetSkinFile());
            if (Box(w).Kind() == 3) {
                SetLoginPassword("pw");
                w.m_PaintManager.FindControl("editPopUsrPW")->SetText("pw");
            }
            Click(w, "BtnOK");
        });
    }
    EXPECT_EQ(ShowMessageBox("a", 0, 0), 1);
    EXPECT_EQ(ShowMessageBox("b", 0, 1), 1);
    EXPECT_EQ(ShowMessageBox("c", 0, 3, "确认身份"), 1);
    EXPECT_EQ(ShowMessageBox("d", 0, 4, "权限"), 1);
    EXPECT_EQ(skins, (std::vector<std::string>{"MsgBoxOkWin.xml", "MsgBoxWin.xml", "MsgBoxPWDWin.xml", "UserPermission.xml"}));
}

TEST(MessageBox, NoticeWithoutSecondTextShowsOnlyTheFirstLineUnderTheDefaultTitle) {
    ModalDriver driver;
    driver.Then([](WindowImplBase& w) {
        EXPECT_EQ(TextOf(w, "TextTitle"), "温馨提示");
        EXPECT_EQ(TextOf(w, "TextOne"), "录像已保存");
        EXPECT_EQ(TextOf(w, "TextTwo"), "");
        EXPECT_EQ(TextOf(w, "BtnOK"), "确定");
        EXPECT_FALSE(Visible(w, "BtnCancel")) << "a notice has OK only";
        w.Close(kResultOk);
    });
    EXPECT_EQ(ShowMessageBox("录像已保存"), 1);
}

TEST(MessageBox, QuestionCancelAndEscapeAnswerTwo) {
    ModalDriver driver;
    driver.Then([](WindowImplBase& w) {
        EXPECT_EQ(TextOf(w, "TextTwo"), "此操作不能撤销");
        EXPECT_EQ(TextOf(w, "BtnCancel"), "取消");
        Click(w, "BtnCancel");
    });
    driver.Then([](WindowImplBase& w) { QTest::keyClick(w.GetWidget(), Qt::Key_Escape); });
    EXPECT_EQ(ShowMessageBox("删除分组？", 0, 1, "此操作不能撤销"), 2);
    bool closed = false;
    EXPECT_EQ(ShowMessageBox("删除分组？", 0, 1, "", &closed), 2);
    EXPECT_FALSE(closed) << "Escape leaves the close-button flag alone";
}

TEST(MessageBox, CloseButtonAnswersTwoAndSetsTheCallersFlag) {
    ModalDriver driver;
    driver.Then([](WindowImplBase& w) { Click(w, "CloseBtn"); });
    bool closed = false;
    EXPECT_EQ(ShowMessageBox("退出？", 0, 1, "", &closed), 2);
    EXPECT_TRUE(closed);
}

TEST(MessageBox, PasswordCheckStaysOpenOnAWrongPasswordAndTrimsTheRightOne) {
    SetLoginPassword("s3cret");
    ModalDriver driver;
    bool checked = false;
    driver.Then([&](WindowImplBase& w) {
        EXPECT_EQ(TextOf(w, "TextTitle"), "删除子账号") << "request kind 3 takes its title from the second text";
        EXPECT_EQ(TextOf(w, "TextShow"), "删除子账号");
        EXPECT_FALSE(Visible(w, "tipErrorPWD"));
        CControlUI* edit = w.m_PaintManager.FindControl("editPopUsrPW");
        edit->SetText("wrong");
        Click(w, "BtnOK");
        EXPECT_FALSE(w.IsClosed());
        EXPECT_TRUE(Visible(w, "tipErrorPWD"));
        EXPECT_EQ(edit->GetText(), "") << "a wrong password is wiped";
        edit->SetText("  s3cret \t");
        Click(w, "BtnOK");
        checked = w.IsClosed();
    });
    EXPECT_EQ(ShowMessageBox("请输入密码", 0, 3, "删除子账号"), 1);
    EXPECT_TRUE(checked);
}

TEST(MessageBox, PasswordCheckRefusesAnEmptyPasswordWhenNobodyIsLoggedIn) {
    SetLoginPassword("");
    ModalDriver driver;
    driver.Then([](WindowImplBase& w) {
        w.m_PaintManager.FindControl("editPopUsrPW")->SetText("   ");
        Click(w, "BtnOK");
        EXPECT_FALSE(w.IsClosed()) << "an empty entry is not the password";
        EXPECT_TRUE(Visible(w, "tipErrorPWD"));
        w.Close(kResultCancel);
    });
    EXPECT_EQ(ShowMessageBox("请输入密码", 0, 3, "确认"), 2);
}

TEST(MessageBox, PermissionBoxShowsTheLoggedInUser) {
    core::LoginSession session = core::AppConfig::Instance().Session();
    session.loginUserName = "operator01";
    core::AppConfig::Instance().SetSession(session);
    ModalDriver driver;
    driver.Then([](WindowImplBase& w) {
        EXPECT_EQ(TextOf(w, "editPopUsrName"), "operator01");
        EXPECT_EQ(TextOf(w, "TextTitle"), "分配权限");
        Click(w, "BtnOK");
    });
    EXPECT_EQ(ShowMessageBox("是否分配权限", 0, 4, "分配权限"), 1);
}

TEST(MessageBox, BoxOverAParentIsItsChild) {
    ModalDriver driver;
    driver.Then([](WindowImplBase& outer) {
        ShowMessageBox("inner", outer.GetHWND());
        outer.Close(kResultOk);
    });
    driver.Then([](WindowImplBase& inner) {
        EXPECT_NE(inner.GetWidget()->parentWidget(), nullptr);
        inner.Close(kResultOk);
    });
    EXPECT_EQ(ShowMessageBox("outer"), 1);
}

TEST(MessageBox, BrokenSkinFolderStillShowsTheBoxAndReportsOnce) {
    testing_support::TempDir empty;
    const std::string saved = CPaintManagerUI::GetResourcePath();
    CPaintManagerUI::SetResourcePath(empty.Path());
    InstallSkinErrorBox();
    ModalDriver driver;
    std::vector<std::string> texts;
    for (int i = 0; i < 2; ++i)
        driver.Then([&](WindowImplBase& w) {
            texts.push_back(TextOf(w, "TextOne"));
            w.Close(kResultOk);
        });
    EXPECT_EQ(ShowMessageBox("磁盘空间不足"), 1);
    SetSkinErrorReporter(nullptr);
    CPaintManagerUI::SetResourcePath(saved);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_NE(texts[0].find("MsgBoxOkWin.xml"), std::string::npos) << "first the report of the missing skin";
    EXPECT_EQ(texts[1], "磁盘空间不足") << "then the box itself, from its built-in form";
}

TEST(PopUpDialog, EscapeEndsWithOne) {
    ModalDriver driver;
    driver.Then([](WindowImplBase& w) { QTest::keyClick(w.GetWidget(), Qt::Key_Escape); });
    CPopUpDlg dialog("MsgBoxWin.xml", 0);
    EXPECT_EQ(dialog.DoModal(), kResultEscape);
    CPopUpDlg missing("NoSuchDialog.xml", 0);
    EXPECT_EQ(missing.DoModal(), -1);
}
