#pragma once
// Starting other programs without waiting for them.

#include <string>

namespace platform {

// Starts the program with no arguments and does not wait; false when it cannot start.
bool StartProgram(const std::string& path);

// Opens a web address in the user's browser (xdg-open); false when that cannot start.
bool OpenInBrowser(const std::string& url);

}  // namespace platform
