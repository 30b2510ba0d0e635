#pragma once
// The program's outer loop: read the configuration, start a fresh control client and
// the application object, run the login window, then the main window, and go round
// again when the user switches account.

#include <functional>

#include "app/login_win.h"

namespace app {

struct ProgramHooks {
    // Destroys the control client so that each login starts with a fresh one.
    std::function<void()> destroyControlClient;
    // Creates the application object with its threads and clears its item table.
    std::function<void()> startAppInstance;
    // Tears the application object down (switch user, exit).
    std::function<void()> destroyAppInstance;
    LoginHooks login;
    // Runs the main window modally and returns its result; empty while the program
    // has no main window: the loop then ends after a successful login.
    std::function<int()> runMainWindow;
};

// Runs the loop on the user-interface thread; returns the program's exit code (0).
int RunProgram(const ProgramHooks& hooks);

}  // namespace app
