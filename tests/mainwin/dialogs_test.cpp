// The feedback, password and exit dialogs and the two settings pages.
#include <QTimer>

#include <ctime>
#include <filesystem>

#include "core/md5.h"
#include "media/camera_registry.h"
#include "record/frame_record.h"
#include "support/pump_events.h"
#include "main_win_fixture.h"
#include "mainwin/settings_panels.h"
#include "mainwin/small_dialogs.h"
#include "platform/ini_file.h"

using testing_support::MainWinTest;
using testing_support::TextOf;
using namespace mainwin;

namespace {

class DialogTest : public MainWinTest {
protected:
    using Sent = std::vector<std::pair<int, Params>>;
    RequestSender Sender() {
        return [this](int type, const Params& params) {
            sent.emplace_back(type, params);
            return static_cast<std::int32_t>(sent.size());  // the request id
        };
    }
    static void Notify(ui::WindowImplBase& dialog, const std::string& control, const char* type = ui::notify::kClick) {
        ui::CControlUI* sender = dialog.m_PaintManager.FindControl(control);
        ASSERT_NE(sender, nullptr) << control;
        dialog.m_PaintManager.SendNotify(sender, type);
    }
    static void Type(ui::WindowImplBase& dialog, const std::string& control, const std::string& text) {
        ui::CControlUI* edit = dialog.m_PaintManager.FindControl(control);
        ASSERT_NE(edit, nullptr) << control;
        edit->SetText(text);
    }
    // Runs the dialog; `script` acts on it and records the notices shown meanwhile.
    // `expectedBoxes` notices are expected while it runs.
    int Run(ui::CPopUpDlg& dialog, std::function<void(ui::WindowImplBase&)> script, int expectedBoxes = 0) {
        boxes.Then([script](ui::WindowImplBase& self) { QTimer::singleShot(0, [script, &self] { script(self); }); });
        for (int i = 0; i < expectedBoxes; ++i) ExpectBox();
        return dialog.DoModal();
    }
    // The next message box: its second line is recorded, then it is closed.
    void ExpectBox() {
        boxes.Then([this](ui::WindowImplBase& box) {
            notices.push_back(TextOf(box, "TextOne") + "|" + TextOf(box, "TextTwo"));
            box.Close(ui::kResultOk);
        });
    }
    Sent sent;
    std::vector<std::string> notices;
};

}  // namespace

TEST(PasswordChecks, RunInOrderAndStopAtTheFirstFailure) {
    EXPECT_EQ(CheckPasswordChange("old", "wrong", "a-b", "c"), "输入的原密码错误！") << "the old password first";
    EXPECT_EQ(CheckPasswordChange("old", "old", "a-b", "a-b"), "密码只能使用字符、数字、下划线！");
    EXPECT_EQ(CheckPasswordChange("old", "old", "密码", "密码"), "密码只能使用字符、数字、下划线！");
    EXPECT_EQ(CheckPasswordChange("old", "old", "   ", "   "), "密码不能为空！") << "blank is empty once trimmed";
    EXPECT_EQ(CheckPasswordChange("old", "old", "", "x"), "密码不能为空！") << "emptiness before the repetition";
    EXPECT_EQ(CheckPasswordChange("old", "old", "abc_1", "abc_2"), "两次输入的密码不一致！");
    EXPECT_EQ(CheckPasswordChange("old", "old", "x", "x"), "") << "the letter x is a letter";
    EXPECT_EQ(CheckPasswordChange("old", "old", "Ab_09", "Ab_09"), "");
    EXPECT_EQ(CheckPasswordChange("", "", "new", "new"), "") << "an empty stored password matches an empty entry";
    EXPECT_EQ(CheckPasswordChange("old", "old ", "new", "new"), "输入的原密码错误！") << "compared exactly";
}

TEST_F(DialogTest, PasswordDialogShowsEachFailureAndStaysOpenThenSendsTheDigest) {
    CPwdChangeDlg dialog(0, Sender());
    const int result = Run(dialog, [](ui::WindowImplBase& self) {
        Type(self, "oldpwdedit", "nope");
        Notify(self, "pwdchangeOKbtn");
        Type(self, "oldpwdedit", "larkview");
        Type(self, "newpwdedit", "new_1");
        Type(self, "renewpwdedit", "new_2");
        Notify(self, "pwdchangeOKbtn");
        Type(self, "renewpwdedit", "new_1");
        Notify(self, "pwdchangeOKbtn");
    }, 2);
    EXPECT_EQ(result, ui::kResultOk);
    EXPECT_EQ(notices, (std::vector<std::string>{"|输入的原密码错误！", "|两次输入的密码不一致！"}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].first, 42);
    EXPECT_EQ(sent[0].second, (Params{{"userId", "1"}, {"userName", "demo"}, {"password", core::Md5Hex("new_1")}}));
    EXPECT_EQ(dialog.GetWindowClassName(), "PwdChangeWnd");
}

TEST_F(DialogTest, OnlyTheAcceptedAnswerToTheChangeStoresTheNewPasswordForTheNextLogin) {
    core::AppConfig& config = core::AppConfig::Instance();
    core::LoginSession session;
    session.loginPassword = "larkview";
    config.SetSession(session);
    config.savedUsers = {{"Demo", "larkview", true, true, false}, {"lina", "lina_pw", false, true, false}};
    auto pending = std::make_shared<PendingPasswordChange>();
    auto queue = std::make_shared<ReplyQueue>();
    CPwdChangeDlg::RegisterReplyHandler(*queue, 0, pending);
    auto change = [&](const std::string& from, const std::string& to) {
        CPwdChangeDlg dialog(0, Sender(), pending.get());
        Run(dialog, [from, to](ui::WindowImplBase& self) {
            Type(self, "oldpwdedit", from);
            Type(self, "newpwdedit", to);
            Type(self, "renewpwdedit", to);
            Notify(self, "pwdchangeOKbtn");
        });
    };

    change("larkview", "new_1");
    ASSERT_EQ(sent.size(), 1u);
    ExpectBox();
    queue->Push(1, 42, {{"status", "0"}});
    queue->Drain();
    EXPECT_EQ(config.currentUserPassword, "larkview") << "a refused change keeps the old password";
    EXPECT_FALSE(pending->Waiting());

    change("larkview", "new_2");
    ASSERT_EQ(sent.size(), 2u);
    ExpectBox();
    ExpectBox();
    queue->Push(7, 42, {{"status", "1"}});  // another request's answer (a sub-account's)
    queue->Push(2, 42, {{"status", "1"}});
    queue->Drain();
    EXPECT_EQ(config.currentUserPassword, "new_2");
    EXPECT_EQ(config.LoginPassword(), "new_2") << "a new login after a lost connection uses it";
    const std::string file = config.userFilePath;
    EXPECT_EQ(platform::ReadProfileString(core::UserSectionName(0), "PassWord", "", file), core::EncodePassword("new_2"));
    EXPECT_EQ(platform::ReadProfileString(core::UserSectionName(1), "PassWord", "", file), core::EncodePassword("lina_pw"));

    // The next start logs in automatically with the new password.
    config.savedUsers.clear();
    config.currentUserPassword.clear();
    config.LoadSavedUsers();
    ASSERT_TRUE(config.FindAutoLoginUser());
    EXPECT_EQ(config.currentUserPassword, "new_2");
    config.savedUsers.clear();
}

TEST_F(DialogTest, PasswordEditsAreLimitedToTwelveCharacters) {
    CPwdChangeDlg dialog(0, Sender());
    Run(dialog, [](ui::WindowImplBase& self) {
        auto* edit = self.m_PaintManager.FindControl<ui::CEditUI>("newpwdedit");
        ASSERT_NE(edit, nullptr);
        edit->insert("abcdefghijklmnop");
        EXPECT_EQ(edit->GetText(), "abcdefghijkl");
        Notify(self, "PwdChangeCloseBtn");
    });
    EXPECT_TRUE(sent.empty());
}

TEST_F(DialogTest, FeedbackLeftAtItsPlaceholderCountsAsEmpty) {
    CFeedBackDlg dialog(0, Sender());
    const int result = Run(dialog, [](ui::WindowImplBase& self) {
        EXPECT_EQ(TextOf(self, "FeedBackedit"), "给点建议吧...");
        Notify(self, "FeedBackOKbtn");  // the placeholder is no text
        Notify(self, "FeedBackedit", ui::notify::kSetFocus);
        EXPECT_EQ(TextOf(self, "FeedBackedit"), "");
        Notify(self, "FeedBackedit", ui::notify::kKillFocus);
        EXPECT_EQ(TextOf(self, "FeedBackedit"), "给点建议吧...");
        Notify(self, "FeedBackOKbtn", ui::notify::kSetFocus);  // pressing OK takes the focus
        EXPECT_EQ(TextOf(self, "FeedBackedit"), "");
        Notify(self, "FeedBackOKbtn");
        Type(self, "FeedBackedit", "多画面时请显示摄像头名称");
        Notify(self, "FeedBackOKbtn");
    }, 2);
    EXPECT_EQ(result, ui::kResultOk);
    EXPECT_EQ(notices, (std::vector<std::string>(2, "|亲，不能发送为空哦！")));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::pair<int, Params>{51, {{"content", "多画面时请显示摄像头名称"}}}));
    EXPECT_EQ(dialog.GetWindowClassName(), "FeedBackWnd");
}

TEST_F(DialogTest, TheFeedbackAnswerThanksOrRegrets) {
    auto queue = std::make_shared<ReplyQueue>();
    CFeedBackDlg::RegisterReplyHandler(*queue, 0);
    ExpectBox();
    ExpectBox();
    queue->Push(1, 51, {{"status", "1"}});
    queue->Push(2, 51, {{"status", "-1"}});
    queue->Drain();
    EXPECT_EQ(notices, (std::vector<std::string>{"|亲，你宝贵的意见是我们前进的动力！", "|亲，很遗憾发送失败了！"}));
}

TEST_F(DialogTest, TheExitDialogHasThreeResults) {
    for (auto [button, code] : {std::pair{"shut_down", ui::kResultOk}, std::pair{"CloseBtn", ui::kResultCancel},
                                std::pair{"change_user", ui::kResultChangeUser}}) {
        CShutDownDlg dialog(0);
        const std::string name = button;
        EXPECT_EQ(Run(dialog, [name](ui::WindowImplBase& self) { Notify(self, name); }), code) << name;
    }
    CShutDownDlg dialog(0);
    EXPECT_EQ(Run(dialog, [](ui::WindowImplBase& self) { QTest::keyClick(self.GetWidget(), Qt::Key_Escape); }),
              ui::kResultCancel)
        << "Escape is a cancel, never an exit";
}

TEST_F(DialogTest, TheSavePageKeepsDaysAndMinutesAndPutsThemInForceAtOnce) {
    core::AppConfig& config = core::AppConfig::Instance();
    const std::string root = dir.Path() + "/recordings";
    // The login cycle's settings: fifteen days, thirty-minute files, another folder.
    tasks::StartRecordSweeper({dir.Path() + "/elsewhere", 30, 15});
    const std::int64_t now = std::time(nullptr);
    const std::string fiveDaysOld = record::FinishedName(now - 5 * 86400, now - 5 * 86400 + 1800);
    std::filesystem::create_directories(root + "/c1");
    dir.Write("recordings/c1/" + fiveDaysOld, "x");
    ASSERT_TRUE(std::filesystem::exists(root + "/c1/" + fiveDaysOld));
    auto camera = media::CameraRegistry::Instance().GetOrCreate(0);
    ASSERT_TRUE(camera->Recorder().Start(root + "/c1", "c1", 30));
    applyForReal = true;
    Open();

    // The page says what the numbers do; a stored number it does not offer is added.
    EXPECT_EQ(TextOf(*window, "lbVMSaveTime"), "录像保留天数");
    EXPECT_EQ(TextOf(*window, "lbVMFileSize"), "录像文件时长");
    auto texts = [](ui::CComboUI* combo) {
        std::vector<std::string> all;
        for (int i = 0; i < combo->GetCount(); ++i) all.push_back(combo->itemText(i).toStdString());
        return all;
    };
    auto* days = Control<ui::CComboUI>("VMSaveTimecb");
    auto* minutes = Control<ui::CComboUI>("VMFileSizecb");
    EXPECT_EQ(texts(days), (std::vector<std::string>{"3天", "7天", "15天", "20天", "30天", "60天", "90天"}));
    EXPECT_EQ(texts(minutes),
              (std::vector<std::string>{"5分钟", "10分钟", "15分钟", "30分钟", "50分钟", "60分钟", "120分钟"}));
    EXPECT_EQ(days->GetText(), "20天");

    chosenFolder = root;
    Click("btnVMBrowse");
    EXPECT_EQ(TextOf(*window, "VMSavePathEdit"), root);
    chosenFolder.clear();
    Click("btnVMBrowse");
    EXPECT_EQ(TextOf(*window, "VMSavePathEdit"), root) << "a cancelled picker changes nothing";
    days->SelectItem(0);
    minutes->SelectItem(0);
    ExpectBox();
    Click("btnVMSave");
    EXPECT_EQ(notices, (std::vector<std::string>{"保存成功！|"}));

    // The file keeps plain numbers, as before.
    const std::string ini = config.SavePathFilePath();
    EXPECT_EQ(platform::ReadProfileString("VideoSavePath", "path", "", ini), root);
    EXPECT_EQ(platform::ReadProfileString("VideoSavePath", "RecRemain", "", ini), "3");
    EXPECT_EQ(platform::ReadProfileString("VideoSavePath", "FileSize", "", ini), "5");
    EXPECT_EQ(config.recordDiskReserve, 3);
    EXPECT_EQ(config.recordFileSize, 5);

    // In force at once: for recordings started from now, the one in progress, the sweeper.
    ASSERT_EQ(appliedSettings.size(), 1u);
    const record::RecordingSettings current = record::CurrentRecordingSettings();
    EXPECT_EQ(current.root, root);
    EXPECT_EQ(current.fileMinutes, 5);
    EXPECT_EQ(current.keepDays, 3);
    EXPECT_EQ(camera->Recorder().FileMinutes(), 5);
    EXPECT_TRUE(testing_support::PumpUntil([&] { return !std::filesystem::exists(root + "/c1/" + fiveDaysOld); }, 3000))
        << "swept with three days now, not at the next login";

    camera->Recorder().Stop();
    tasks::StopRecordSweeper();
    media::CameraRegistry::DestroyAll();
    record::SetRecordingSettings({});
}

TEST(VersionTexts, ComeFromTheProgramsVersionNumbers) {
    VersionNumbers version{{3, 2, 1, 7}, {20, 16, 5, 10}};
    EXPECT_EQ(SoftwareVersionText(version), "V3.2.1.7");
    EXPECT_EQ(IssueDateText(version), "2016年5月10日");
    version.file[1] = 5;
    EXPECT_EQ(IssueDateText(version), "2005年5月10日") << "the year keeps its zero";
    EXPECT_EQ(SoftwareVersionText(ProgramVersion()), "V1.1.1.0");
}
