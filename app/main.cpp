// Program entry: crash handlers first, then the skin folder, then the outer loop of
// configuration, login window and main window.
#include <QApplication>

#include "app/app_config.h"
#include "app/crash_handler.h"
#include "app/desktop_secret_store.h"
#include "app/log_file.h"
#include "mainwin/program_hooks.h"
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
    app::AppConfig::Instance().SetSecretStore(std::make_shared<app::DesktopSecretStore>());

    const int code = app::RunProgram(mainwin::ApplicationProgramHooks());
    app::LogFile::Destroy();
    return code;
}
