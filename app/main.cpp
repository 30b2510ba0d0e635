// Program entry: the options, the folders this copy writes to, crash handlers, then
// the skin folder, then the outer loop of configuration, login window and main window.
#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_config.h"
#include "app/command_line.h"
#include "app/crash_handler.h"
#include "app/desktop_secret_store.h"
#include "app/library_notices.h"
#include "app/log_file.h"
#include "app/user_folders.h"
#include "mainwin/program_hooks.h"
#include "media/application_hooks.h"
#include "platform/paths.h"
#include "ui/message_box.h"
#include "ui/toolkit/paint_manager.h"

namespace {

QtMessageHandler g_qtHandler = nullptr;

// Qt's messages: the environment's notices to our log once, everything else to Qt's own handler.
void RouteQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const std::string text = message.toStdString();
    if (type != QtFatalMsg &&
        app::RouteLibraryNotice(context.category ? context.category : "", text) == app::NoticeRoute::kLogOnce) {
        app::LogNoticeOnce(text);
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
    const app::UserFolders folders = app::ChooseUserFolders(programDirectory, platform::CanCreateFilesIn);
    const app::CommandLineAnswer answer =
        app::ReadCommandLine(std::vector<std::string>(argv + 1, argv + argc), folders, programDirectory);
    if (!answer.run) {
        std::fputs(answer.out.c_str(), stdout);
        std::fputs(answer.err.c_str(), stderr);
        return answer.exitCode;
    }

    // The folders come first so that the crash dump lands beside the logs.
    std::string problem;
    if (!app::UseUserFolders(folders, programDirectory, &problem))
        std::fprintf(stderr, "larkview: %s\n", problem.c_str());
    app::CCrashHandler::Install();
    g_qtHandler = qInstallMessageHandler(RouteQtMessage);

    QApplication application(argc, argv);
    QApplication::setApplicationName("Larkview");
    QApplication::setDesktopFileName("larkview");  // the menu entry of an installed copy
    QApplication::setWindowIcon(QIcon(QString::fromStdString(platform::JoinPath(programDirectory, "skinFiles\\Image\\logo.png"))));
    ui::CPaintManagerUI::SetResourcePath(platform::JoinPath(programDirectory, "skinFiles"));
    ui::InstallSkinErrorBox();
    media::InstallApplicationHooks();  // the camera registry joins every login cycle
    app::AppConfig::Instance().SetSecretStore(std::make_shared<app::DesktopSecretStore>());

    const int code = app::RunProgram(mainwin::ApplicationProgramHooks());
    // A message after this point must not open (and so rotate) the log again.
    qInstallMessageHandler(g_qtHandler);
    app::LogFile::Destroy();
    return code;
}
