// Pictures of the main window on each tab and of its small dialogs, rendered headless,
// each checked to show the panel, controls and texts it is taken for. They go to
// $LARKVIEW_SCREENSHOTS when set (docs/screenshots is filled this way), otherwise to a
// temporary folder.
#include <QTimer>
#include <cstdlib>

#include "core/message_ids.h"
#include "support/screenshots.h"
#include "main_win_fixture.h"
#include "mainwin/small_dialogs.h"

using testing_support::MainWinTest;
using namespace mainwin;

namespace {

class MainWinScreenshots : public MainWinTest {
protected:
    std::string Target(const std::string& name) { return testing_support::ScreenshotPath(dir.Path(), name); }
    void Save(const QImage& image, const std::string& name) { testing_support::SaveScreenshot(image, Target(name)); }
    // Saves a picture of the window that must show the named controls.
    void SaveShowing(const std::string& name, std::initializer_list<const char*> controls) {
        const QImage picture = Grab(*window);
        for (const char* control : controls)
            testing_support::ExpectShows(picture, window->GetWidget(), window->m_PaintManager.FindControl(control));
        Save(picture, name);
    }
    static void Shows(const QImage& picture, ui::WindowImplBase& dialog, const char* name, const std::string& text = {}) {
        testing_support::ExpectShows(picture, dialog.GetWidget(), dialog.m_PaintManager.FindControl(name), text);
    }
    static QImage Grab(ui::WindowImplBase& window) { return window.GetWidget()->grab().toImage(); }
    static QImage Over(const QImage& back, const QImage& box) { return testing_support::BoxOverWindow(back, box); }
    // A tree of a few places with cameras in several states.
    void ManyRows() {
        using testing_support::CameraRow;
        using testing_support::NodeRow;
        rows = {NodeRow("1", "0", "浙江省", 9, 12), NodeRow("2", "1", "杭州市", 6, 8), NodeRow("3", "2", "西湖区", 4, 5),
                NodeRow("4", "2", "上城区", 2, 3), NodeRow("5", "1", "宁波市", 3, 4)};
        const char* names[] = {"文三路门店-大厅", "文三路门店-收银台", "文三路门店-仓库", "湖滨营业厅-入口", "湖滨营业厅-停车场",
                               "南山路-东门", "南山路-西门", "延安路-前台", "天一广场-北门", "天一广场-南门", "鼓楼-一层", "鼓楼-二层"};
        const char* parents[] = {"3", "3", "3", "3", "3", "4", "4", "4", "5", "5", "5", "5"};
        for (int i = 0; i < 12; ++i)
            rows.push_back(CameraRow(std::to_string(31000001 + i), parents[i], names[i], i % 4 != 3, i == 6));
        for (int i = 0; i < 3; ++i) rows[i]->expanded = true;
    }
};

}  // namespace

TEST_F(MainWinScreenshots, EveryTabAndTheSmallDialogs) {
    ManyRows();
    Open();
    window->GetWidget()->resize(1366, 768);
    QApplication::processEvents();
    window->LiveWall()->SetLayout(4);
    // A camera waiting for its reconnection, and one without a streaming server.
    ASSERT_TRUE(window->OpenCamera(Row("31000001"), 1));
    ASSERT_TRUE(window->OpenCamera(Row("31000002"), 2));
    Send(platform::Message(core::kAppNotify, 1, core::kReconnecting, platform::MakePayload(std::string("31000001"))));
    Send(platform::Message(core::kCellResult, 2, -7, platform::MakePayload(std::string("31000002"))));
    receivedBytes = 734 * 1024;
    Send(platform::Message(core::kWmTimer, kStatusTimer, 0));
    QApplication::processEvents();
    EXPECT_EQ(window->LiveWall()->Cell(1)->Caption().toStdString(), "重连中,请稍后…");
    EXPECT_EQ(window->LiveWall()->Cell(2)->Caption().toStdString(), "无流媒体服务器");
    SaveShowing("main_preview.png", {"PreviewPannel"});

    const std::tuple<const char*, const char*, const char*> tabs[] = {{"playbackbtn", "PlayBackPanel", "main_playback.png"},
                                                                      {"alarmbtn", "AlarmPanel", "main_alarm.png"},
                                                                      {"mapbtn", "MapPanel", "main_map.png"},
                                                                      {"settingbtn", "SettingPanel", "main_setting.png"}};
    for (const auto& [button, panel, file] : tabs) {
        Click(button);
        QApplication::processEvents();
        SaveShowing(file, {panel});
    }
    Control<ui::COptionUI>("optSaveManageConfig")->Selected(true);
    QApplication::processEvents();
    SaveShowing("main_setting_save.png", {"VMSavePathEdit", "VMSaveTimecb", "VMFileSizecb", "btnVMSave"});
    Control<ui::COptionUI>("optVersionConfig")->Selected(true);
    QApplication::processEvents();
    SaveShowing("main_setting_version.png", {"lbVSWSoftVersion"});
    Click("previewbtn");
    Control<ui::COptionUI>("videoparam")->Selected(true);
    QApplication::processEvents();
    SaveShowing("main_preview_video_parameters.png", {"BtnGet", "BtnSet"});

    const QImage back = Grab(*window);
    // Each dialog over the window, showing `controls` (name and text, if any).
    using Shown = std::vector<std::pair<const char*, std::string>>;
    auto shoot = [&](const std::string& file, std::function<void(ui::WindowImplBase&)> prepare, Shown controls) {
        return [this, back, file, prepare, controls](ui::WindowImplBase& dialog) {
            QTimer::singleShot(0, [this, back, file, prepare, controls, &dialog] {
                if (prepare) prepare(dialog);
                QApplication::processEvents();
                const QImage shown = Grab(dialog);
                for (const auto& [control, text] : controls) Shows(shown, dialog, control, text);
                Save(Over(back, shown), file);
                dialog.Close(ui::kResultCancel);
            });
        };
    };
    boxes.Then(shoot("dialog_exit.png", nullptr, {{"TextOne", ""}, {"shut_down", ""}, {"change_user", ""}}));
    Click("closebtn");
    boxes.Then(shoot("dialog_feedback.png", nullptr, {{"lbFeedBackHint", ""}, {"FeedBackOKbtn", ""}}));
    Click("feedback");
    boxes.Then(shoot("dialog_password.png", [](ui::WindowImplBase& dialog) {
        dialog.m_PaintManager.FindControl("oldpwdedit")->SetText("larkview");
        dialog.m_PaintManager.FindControl("newpwdedit")->SetText("new_pass1");
    }, {{"oldpwdedit", "larkview"}, {"newpwdedit", "new_pass1"}, {"pwdchangeOKbtn", ""}}));
    Click("username");
    EXPECT_FALSE(window->IsClosed());
}
