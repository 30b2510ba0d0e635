#pragma once
// Developer diagnostics that are not part of the program log. Silent unless the
// environment variable LARKVIEW_TRACE is set, then written to stderr.

namespace platform {

void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform
