#include "app/quit_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

#include "core/log_file.h"
#include "mainwin/main_win.h"
#include "ui/pop_up_dlg.h"
#include "ui/toolkit/window.h"

namespace app {
namespace {

// The handler only writes the signal's number into this pipe; the user-interface
// thread reads it through a socket notifier and does the work.
int g_pipe[2] = {-1, -1};

void OnSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t ignored = write(g_pipe[1], &byte, 1);
    errno = saved;
}

void Quit(int number) {
    // A program that does not end by itself can still be ended by a second signal.
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    core::LogWrite("signal %d: the program quits as the exit dialog does", number);
    ui::EndModalRuns([](ui::WindowImplBase& window) {
        return dynamic_cast<mainwin::CMainWin*>(&window) ? ui::kResultOk : window.EscapeResult();
    });
}

}  // namespace

void QuitOnTerminationSignals() {
    if (g_pipe[0] >= 0) return;
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        core::LogWrite("no pipe for the termination signals: they end the program at once");
        return;
    }
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        unsigned char number = 0;
        if (read(g_pipe[0], &number, 1) != 1) return;
        notifier->setEnabled(false);
        Quit(number);
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace app
