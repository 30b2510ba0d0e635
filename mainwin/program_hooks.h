#pragma once
// The program's outer loop as the real program runs it: a fresh control client per
// login, the application object with its task handlers, the login window with the
// real login sequence, and the main window.

#include "app/program.h"

namespace mainwin {

app::ProgramHooks ApplicationProgramHooks();

}  // namespace mainwin
