// Pictures of the main window on each tab and of its small dialogs, rendered headless.
// They go to $LARKVIEW_SCREENSHOTS when set (docs/screenshots is filled this way),
// otherwise to a temporary folder.
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
    void Save(const QImage& image, const std::string& name) { testing_support::SaveScreenshot(image, Target(name), 5); }
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
    Save(Grab(*window), "main_preview.png");

    const std::pair<const char*, const char*> tabs[] = {
        {"playbackbtn", "main_playback.png"}, {"alarmbtn", "main_alarm.png"}, {"mapbtn", "main_map.png"}, {"settingbtn", "main_setting.png"}};
    for (const auto& [button, file] : tabs) {
        Click(button);
        QApplication::processEvents();
        Save(Grab(*window), file);
    }
    Control<ui::COptionUI>("optSaveManageConfig")->Selected(true);
    QApplication::processEvents();
    Save(Grab(*window), "main_setting_save.png");
    Control<ui::COptionUI>("optVersionConfig")->Selected(true);
    QApplication::processEvents();
    Save(Grab(*window), "main_setting_version.png");
    Click("previewbtn");
    Control<ui::COptionUI>("videoparam")->Selected(true);
    QApplication::processEvents();
    Save(Grab(*window), "main_preview_video_parameters.png");

    const QImage back = Grab(*window);
    auto shoot = [&](const std::string& file, std::function<void(ui::WindowImplBase&)> prepare) {
        return [this, back, file, prepare](ui::WindowImplBase& dialog) {
            QTimer::singleShot(0, [this, back, file, prepare, &dialog] {
                if (prepare) prepare(dialog);
                QApplication::processEvents();
                Save(Over(back, Grab(dialog)), file);
                dialog.Close(ui::kResultCancel);
            });
        };
    };
    boxes.Then(shoot("dialog_exit.png", nullptr));
    Click("closebtn");
    boxes.Then(shoot("dialog_feedback.png", nullptr));
    Click("feedback");
    boxes.Then(shoot("dialog_password.png", [](ui::WindowImplBase& dialog) {
        dialog.m_PaintManager.FindControl("oldpwdedit")->SetText("larkview");
        dialog.m_PaintManager.FindControl("newpwdedit")->SetText("new_pass1");
    }));
    Click("username");
    EXPECT_FALSE(window->IsClosed());
}
