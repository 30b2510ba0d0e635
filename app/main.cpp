// Program entry: the options, the folders this copy writes to, crash handlers, then
// the skin folder, then the outer loop of configuration, login window and main window.
#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <string>
#include <vector>

#include "core/app_config.h"
#include "app/command_line.h"
#include "core/crash_handler.h"
#include "app/desktop_secret_store.h"
#include "app/export_command.h"
#include "core/library_notices.h"
#include "core/log_file.h"
#include "core/user_folders.h"
#include "app/program_wiring.h"
#include "app/quit_signal.h"
#include "platform/paths.h"
#include "ui/message_box.h"
#include "ui/toolkit/paint_manager.h"

namespace {

QtMessageHandler g_qtHandler = nullptr;

// Qt's messages: the environment's notices to our log once, everything else to Qt's own handler.
void RouteQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const std::string text = message.toStdString();
    if (type != QtFatalMsg &&
        core::RouteLibraryNotice(context.category ? context.category : "", text) == core::NoticeRoute::kLogOnce) {
        core::LogNoticeOnce(text);
        return;
    }
    if (g_qtHandler) {
        g_qtHandler(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before anything needs a display or writes a file.
    const std::string programDirectory = platform::ProgramDirectory();
    const core::UserFolders folders = core::ChooseUserFolders(programDirectory, platform::CanCreateFilesIn);
    const app::CommandLineAnswer answer =
        app::ReadCommandLine(std::vector<std::string>(argv + 1, argv + argc), folders, programDirectory);
    if (answer.exportRecording) return app::RunExportCommand(answer.exportFrom, answer.exportTo);
    if (!answer.run) {
        std::fputs(answer.out.c_str(), stdout);
        std::fputs(answer.err.c_str(), stderr);
        return answer.exitCode;
    }

    // The folders come first so that the crash dump lands beside the logs.
    std::string problem;
    if (!core::UseUserFolders(folders, programDirectory, &problem))
        std::fprintf(stderr, "larkview: %s\n", problem.c_str());
    core::CCrashHandler::Install();
    g_qtHandler = qInstallMessageHandler(RouteQtMessage);

    QApplication application(argc, argv);
    QApplication::setApplicationName("Larkview");
    QApplication::setDesktopFileName("larkview");  // the menu entry of an installed copy
    QApplication::setWindowIcon(QIcon(QString::fromStdString(platform::JoinPath(programDirectory, "skinFiles\\Image\\logo.png"))));
    ui::CPaintManagerUI::SetResourcePath(platform::JoinPath(programDirectory, "skinFiles"));
    ui::InstallSkinErrorBox();
    app::InstallProgramWiring();  // the camera registry joins every login cycle
    core::AppConfig::Instance().SetSecretStore(std::make_shared<app::DesktopSecretStore>());
    app::QuitOnTerminationSignals();  // a session's end is a normal quit

    const int code = app::RunProgram(app::ApplicationProgramHooks());
    // A message after this point must not open (and so rotate) the log again.
    qInstallMessageHandler(g_qtHandler);
    core::LogFile::Destroy();
    return code;
}
