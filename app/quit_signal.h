#pragma once
// A desktop session ends its programs with SIGTERM, a terminal's Ctrl+C sends SIGINT:
// both end Larkview as "shut_down" in the exit dialog does. The main window closes
// with the quit result (17), so the wall layout is written, the cameras and
// recordings closed and the outer loop ends with exit code 0; any other window (the
// login window, a dialog, a message box) closes as Escape would. A second signal while
// that runs ends the program at once, with the signal's default action.

namespace app {

// Call once on the user-interface thread, after the application object exists.
void QuitOnTerminationSignals();

}  // namespace app
