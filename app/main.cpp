// Program entry: crash handlers first, then the skin folder, then the outer loop of
// configuration, login window and main window.
#include <QApplication>

#include "app/alarm_tasks.h"
#include "app/app_instance.h"
#include "app/crash_handler.h"
#include "app/live_tasks.h"
#include "app/log_file.h"
#include "app/login_sequence.h"
#include "app/program.h"
#include "control/control_client.h"
#include "mainwin/main_win.h"
#include "mainwin/tree_refresh.h"
#include "mainwin/video_params.h"
#include "media/application_hooks.h"
#include "platform/paths.h"
#include "ui/message_box.h"
#include "ui/toolkit/paint_manager.h"

int main(int argc, char** argv) {
    app::CCrashHandler::Install();

    QApplication application(argc, argv);
    QApplication::setApplicationName("Larkview");
    ui::CPaintManagerUI::SetResourcePath(platform::JoinPath(platform::ProgramDirectory(), "skinFiles"));
    ui::InstallSkinErrorBox();
    media::InstallApplicationHooks();  // the camera registry joins every login cycle

    app::ProgramHooks hooks;
    hooks.destroyControlClient = [] { control::ControlClient::Destroy(); };
    hooks.startAppInstance = [] {
        app::CAppInteance::Instance().Items().Clear();
        app::RegisterLiveTasks(app::CAppInteance::Instance());
        app::RegisterAlarmTasks(app::CAppInteance::Instance());
        mainwin::RegisterVideoParamTasks(app::CAppInteance::Instance());
        mainwin::RegisterRefreshTask(app::CAppInteance::Instance());
    };
    hooks.destroyAppInstance = [] { app::CAppInteance::Destroy(); };
    hooks.login.setNotifyWindow = [](platform::WindowHandle window) {
        app::CAppInteance::Instance().SetNotifyWindow(window);
    };
    hooks.login.runLoginSequence = [] { return app::RunLoginSequence(); };
    hooks.runMainWindow = [] {
        mainwin::CMainWin window;
        if (!window.Create(0, "远程监控")) return -1;
        window.CenterWindow();
        return window.ShowModal();
    };

    const int code = app::RunProgram(hooks);
    app::LogFile::Destroy();
    return code;
}
