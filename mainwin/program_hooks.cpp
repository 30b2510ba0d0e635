#include "mainwin/program_hooks.h"

#include "app/alarm_tasks.h"
#include "app/app_instance.h"
#include "app/live_tasks.h"
#include "app/media_tasks.h"
#include "app/app_config.h"
#include "app/login_sequence.h"
#include "control/control_client.h"
#include "mainwin/main_win.h"
#include "mainwin/tree_refresh.h"
#include "mainwin/video_params.h"

namespace mainwin {

app::ProgramHooks ApplicationProgramHooks() {
    app::ProgramHooks hooks;
    hooks.destroyControlClient = [] { control::ControlClient::Destroy(); };
    hooks.startAppInstance = [] {
        app::CAppInteance& application = app::CAppInteance::Instance();
        application.Items().Clear();
        app::RegisterLiveTasks(application);
        app::RegisterAlarmTasks(application);
        app::RegisterMediaTasks(application);
        RegisterVideoParamTasks(application);
        RegisterRefreshTask(application);
        const app::AppConfig& config = app::AppConfig::Instance();
        app::StartRecordSweeper({config.recordSavePath, config.recordFileSize, config.recordDiskReserve});
    };
    hooks.destroyAppInstance = [] {
        app::StopRecordSweeper();
        app::CAppInteance::Destroy();
    };
    hooks.login.setNotifyWindow = [](platform::WindowHandle window) {
        app::CAppInteance::Instance().SetNotifyWindow(window);
    };
    hooks.login.runLoginSequence = [](const std::atomic<bool>& cancelled) { return app::RunLoginSequence(&cancelled); };
    // Closing the window ends the program: the client goes at once, so the sequence's
    // waits end instead of holding the closed window for up to a minute.
    hooks.login.cancelLoginSequence = [] { control::ControlClient::Destroy(); };
    hooks.runMainWindow = [] {
        CMainWin window;
        if (!window.Create(0, "远程监控")) return -1;
        window.CenterWindow();
        return window.ShowModal();
    };
    return hooks;
}

}  // namespace mainwin
