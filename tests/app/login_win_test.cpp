#include "login_window_fixture.h"

#include "platform/ini_file.h"

using testing_support::Gate;
using testing_support::LoginWindowTest;

TEST_F(LoginWindowTest, OpensWithTheFirstSavedUserAndMakesItselfTheNotifyWindow) {
    SaveUsers({{"alice", "pa", false}, {"bob", "", false}});
    Open();
    EXPECT_EQ(Text("UserEdit"), "alice");
    EXPECT_EQ(Text("PassWord"), "pa");
    EXPECT_TRUE(Selected("Remeber"));
    EXPECT_FALSE(Selected("AutoLogin"));
    EXPECT_EQ(notifyWindow.load(), window->GetHWND());
    EXPECT_FALSE(window->IsBusy());
    EXPECT_FALSE(Visible("LgProgressBK"));
    auto* combo = window->m_PaintManager.FindControl<ui::CComboUI>("cbUserInfoList");
    ASSERT_EQ(combo->GetCount(), 2);
    EXPECT_EQ(testing_support::TextOf(*window, "user_text"), "alice");
    EXPECT_EQ(runs.load(), 0) << "nobody has auto-login";
}

TEST_F(LoginWindowTest, WithoutSavedUsersBothOptionsAreClear) {
    Open();
    EXPECT_FALSE(Selected("Remeber"));
    EXPECT_FALSE(Selected("AutoLogin"));
    EXPECT_EQ(Text("UserEdit"), "");
}

TEST_F(LoginWindowTest, AutoLoginUserLogsInAtOnceWhileTheFirstUserIsShown) {
    SaveUsers({{"alice", "pa", false}, {"bob", "pb", true}});
    script = [this] { return Send(0, nullptr) >= 0; };
    Open();
    EXPECT_EQ(Text("UserEdit"), "alice");
    ASSERT_TRUE(WaitFor([&] { return window->IsClosed(); }));
    EXPECT_EQ(seenUser, "bob");
    EXPECT_EQ(core::AppConfig::Instance().currentUserPassword, "pb");
    EXPECT_EQ(window->ShowModal(), 17);
}

TEST_F(LoginWindowTest, BusyLookThenProgressTextsThenSuccessClosesWith17) {
    Gate gate;
    std::atomic<int> stage{0};
    script = [&] {
        Send(10, "初始化...");
        stage = 1;
        gate.Wait();
        Send(50, nullptr);
        Send(0, nullptr);
        return 1;
    };
    Open();
    Control("UserEdit")->SetText("carol");
    Control("PassWord")->SetText("pc");
    Click("BtnOK");
    ASSERT_TRUE(WaitFor([&] { return stage.load() == 1; }));
    EXPECT_TRUE(window->IsBusy());
    for (const char* name : {"UserEdit", "PassWord", "Remeber", "AutoLogin"}) EXPECT_FALSE(Enabled(name)) << name;
    EXPECT_TRUE(Visible("LgProgressBK"));
    EXPECT_EQ(window->m_PaintManager.FindControl<ui::CButtonUI>("BtnOK")->GetNormalImage(),
              "file='Image\\cancel_login1.png'");
    EXPECT_EQ(Progress(), 10);
    EXPECT_EQ(Text("lbTips"), "初始化...");
    gate.Open();
    ASSERT_TRUE(WaitFor([&] { return window->IsClosed(); }));
    EXPECT_EQ(Text("lbTips"), "初始化...") << "a message without text only sets the progress";
    EXPECT_EQ(window->ShowModal(), 17);
    EXPECT_EQ(seenUser, "carol");
    EXPECT_FALSE(Cancelled()) << "closing on success cancels nothing";
    EXPECT_EQ(cancels.load(), 0);
}

TEST_F(LoginWindowTest, EnterWhileBusyChangesNothingAndTheRunningLoginGoesOn) {
    Gate gate;
    script = [&] {
        gate.Wait();
        Send(0, nullptr);
        return 1;
    };
    Open();
    Control("UserEdit")->SetText("dave");
    QTest::keyClick(Control("PassWord")->GetWidget(), Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return runs.load() == 1; }));
    Control("UserEdit")->SetText("mallory");
    QTest::keyClick(window->GetWidget(), Qt::Key_Return);
    Click("BtnOK");
    QTest::qWait(20);
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(core::AppConfig::Instance().currentUserName, "dave");
    gate.Open();
    ASSERT_TRUE(WaitFor([&] { return window->IsClosed(); }));
}

TEST_F(LoginWindowTest, FailureShowsTheReasonTwiceAndReturnsToIdleKeepingWhatWasTyped) {
    script = [&] {
        Send(10, "初始化...");
        Send(1, "登录失败，用户名或密码错误！");
        return 0;
    };
    std::string tipsWhileBoxShown;
    boxes.Then([&](ui::WindowImplBase& box) {
        EXPECT_EQ(testing_support::TextOf(box, "TextOne"), "登录失败，用户名或密码错误！");
        EXPECT_EQ(testing_support::TextOf(box, "TextTitle"), "错误");
        tipsWhileBoxShown = Text("lbTips");
        box.Close(ui::kResultOk);
    });
    Open();
    Control("UserEdit")->SetText("erin");
    Control("PassWord")->SetText("wrong");
    Click("BtnOK");
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy() && boxes.seen.size() == 1; }));
    EXPECT_EQ(tipsWhileBoxShown, "登录失败，用户名或密码错误！");
    for (const char* name : {"UserEdit", "PassWord", "Remeber", "AutoLogin"}) EXPECT_TRUE(Enabled(name)) << name;
    EXPECT_EQ(Text("UserEdit"), "erin");
    EXPECT_EQ(Text("PassWord"), "wrong");
    EXPECT_FALSE(Visible("LgProgressBK"));
    EXPECT_FALSE(Visible("lbTips"));
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(window->m_PaintManager.FindControl<ui::CButtonUI>("BtnOK")->GetNormalImage(), "file='Image\\lg1.png'");
    EXPECT_FALSE(window->IsClosed());

    // A second try runs the sequence again.
    script = [&] { return Send(0, nullptr) >= 0; };
    Click("BtnOK");
    ASSERT_TRUE(WaitFor([&] { return window->IsClosed(); }));
    EXPECT_EQ(runs.load(), 2);
}

TEST_F(LoginWindowTest, PickingAUserFillsTheFields) {
    SaveUsers({{"alice", "pa", false}, {"bob", "", true}});
    script = [&] { return Send(1, "x") * 0; };
    boxes.Then([](ui::WindowImplBase& box) { box.Close(ui::kResultOk); });
    Open();
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy(); }));
    auto* combo = window->m_PaintManager.FindControl<ui::CComboUI>("cbUserInfoList");
    combo->showPopup();
    QTest::mouseClick(window->m_PaintManager.FindSubControlByName(combo->GetItemAt(1), "user_text")->GetWidget(),
                      Qt::LeftButton);
    EXPECT_EQ(Text("UserEdit"), "bob");
    EXPECT_EQ(Text("PassWord"), "");
    EXPECT_TRUE(Selected("AutoLogin"));
    EXPECT_FALSE(Selected("Remeber"));
}

TEST_F(LoginWindowTest, DeletingTheShownUserEmptiesNameAndPasswordAndTheFile) {
    SaveUsers({{"alice", "pa", false}, {"bob", "pb", false}});
    Open();
    auto* combo = window->m_PaintManager.FindControl<ui::CComboUI>("cbUserInfoList");
    combo->showPopup();
    ui::CControlUI* first = combo->GetItemAt(0);
    QTest::mouseClick(window->m_PaintManager.FindSubControlByName(first, "delbtn")->GetWidget(), Qt::LeftButton);
    EXPECT_EQ(Text("UserEdit"), "");
    EXPECT_EQ(Text("PassWord"), "");
    EXPECT_FALSE(first->IsVisible());
    const std::string userFile = dir.File("appUser.ini");
    EXPECT_EQ(platform::ReadProfileString("UserInfo", "UserNumber", "", userFile), "1");
    EXPECT_EQ(platform::ReadProfileString(core::UserSectionName(0), "UserName", "", userFile), "bob");

    // Deleting a user that is not shown leaves the fields alone.
    Control("UserEdit")->SetText("someone");
    QTest::mouseClick(window->m_PaintManager.FindSubControlByName(combo->GetItemAt(1), "delbtn")->GetWidget(),
                      Qt::LeftButton);
    EXPECT_EQ(Text("UserEdit"), "someone");
    EXPECT_EQ(platform::ReadProfileString("UserInfo", "UserNumber", "", userFile), "0");
}

TEST_F(LoginWindowTest, OptionRulesFollowTheShownSavedUser) {
    SaveUsers({{"alice", "pa", false}, {"bob", "pb", true}});
    script = [&] { return Send(1, "stop") * 0; };
    boxes.Then([](ui::WindowImplBase& box) { box.Close(ui::kResultOk); });
    Open();  // bob's auto-login runs and fails
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy(); }));
    const std::string userFile = dir.File("appUser.ini");
    auto flag = [&](int index, const char* key) {
        return platform::ReadProfileString(core::UserSectionName(index), key, "", userFile);
    };

    // alice is shown: auto-login on selects remember and takes auto-login from bob.
    ASSERT_EQ(Text("UserEdit"), "alice");
    Click("AutoLogin");
    EXPECT_TRUE(Selected("AutoLogin"));
    EXPECT_TRUE(Selected("Remeber"));
    EXPECT_EQ(flag(0, "AutoLogin"), "1");
    EXPECT_EQ(flag(1, "AutoLogin"), "0");

    // Clearing remember clears auto-login, the stored password and the field.
    Click("Remeber");
    EXPECT_FALSE(Selected("Remeber"));
    EXPECT_FALSE(Selected("AutoLogin"));
    EXPECT_EQ(Text("PassWord"), "");
    EXPECT_EQ(flag(0, "AutoLogin"), "0");
    EXPECT_EQ(flag(0, "PassWord"), "");
    EXPECT_EQ(flag(1, "PassWord"), core::EncodePassword("pb")) << "other users keep theirs";

    // A name no saved user has changes nothing in the file.
    const std::string before = dir.Read("appUser.ini");
    Control("UserEdit")->SetText("stranger");
    Control("PassWord")->SetText("typed");
    Click("AutoLogin");
    EXPECT_TRUE(Selected("Remeber"));
    Click("Remeber");
    EXPECT_EQ(Text("PassWord"), "typed") << "a password typed for a new name stays";
    EXPECT_EQ(dir.Read("appUser.ini"), before);
}

TEST_F(LoginWindowTest, EscapeAndTheCloseButtonEndWith33) {
    Open();
    QTest::keyClick(window->GetWidget(), Qt::Key_Escape);
    EXPECT_EQ(window->ShowModal(), 33);
    Open();
    QTest::mouseClick(Control("closebtn")->GetWidget(), Qt::LeftButton);
    EXPECT_EQ(window->ShowModal(), 33);
}

TEST_F(LoginWindowTest, ClosingDuringALoginCancelsTheSequenceAndDoesNotWaitForever) {
    Gate gate;
    std::atomic<std::intptr_t> lateSend{-1};
    std::atomic<bool> cancelledSeen{false};
    script = [&] {
        EXPECT_FALSE(Cancelled());
        gate.Wait();
        cancelledSeen = Cancelled();
        lateSend = Send(50, "连接服务器成功...");
        return 0;
    };
    Open();
    Click("BtnOK");
    ASSERT_TRUE(WaitFor([&] { return runs.load() == 1; }));
    QTest::keyClick(window->GetWidget(), Qt::Key_Escape);
    EXPECT_EQ(window->ShowModal(), 33);
    EXPECT_EQ(cancels.load(), 1) << "what the sequence waits for is ended at once";
    gate.Open();
    window.reset();  // waits for the login thread, which finds the window gone
    EXPECT_EQ(lateSend.load(), 0);
    EXPECT_TRUE(cancelledSeen.load()) << "the sequence learns that it was cancelled";

    // Closing an idle window (a failed login behind it) cancels nothing.
    script = [&] {
        Send(1, "登录失败");
        return 0;
    };
    boxes.Then([](ui::WindowImplBase& box) { box.Close(ui::kResultOk); });
    Open();
    Click("BtnOK");
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy(); }));
    QTest::keyClick(window->GetWidget(), Qt::Key_Escape);
    EXPECT_EQ(window->ShowModal(), 33);
    EXPECT_EQ(cancels.load(), 1);
}
