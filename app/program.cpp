#include "app/program.h"

#include "core/app_config.h"
#include "core/log_file.h"
#include "ui/message_box.h"

namespace app {

int RunProgram(const ProgramHooks& hooks) {
    core::AppConfig& config = core::AppConfig::Instance();
    for (;;) {
        if (!config.LoadConfiguration()) {
            core::LogWrite("configuration missing or incomplete: %s", config.ConfigFilePath().c_str());
            ui::ShowNoticeWithCaption("读取配置文件出错，请检查配置", "错误");
            break;
        }
        if (hooks.destroyControlClient) hooks.destroyControlClient();
        if (hooks.startAppInstance) hooks.startAppInstance();

        int loginResult = 0;
        {
            // The window (and the login thread it waits for) is gone before the
            // application object is torn down.
            CLoginWin login(hooks.login);
            if (login.Create(0, "登录")) {
                login.CenterWindow();
                loginResult = login.ShowModal();
            }
        }
        if (loginResult != ui::kResultOk) break;

        if (!hooks.runMainWindow) {
            core::LogWrite("login succeeded; this build has no main window yet, so the program ends here");
            break;
        }
        if (hooks.runMainWindow() != ui::kResultChangeUser) break;

        // The account just left must not log in again by itself.
        config.ResetFirstUserAutoLogin();
        if (hooks.destroyAppInstance) hooks.destroyAppInstance();
    }
    if (hooks.destroyAppInstance) hooks.destroyAppInstance();
    return 0;
}

}  // namespace app
