#pragma once
// Developer diagnostics that are not part of the program log. Silent unless the
// environment variable LARKVIEW_TRACE is set, then written to stderr.

namespace platform {

void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes `text` as it is, with one write call: safe inside a signal handler.
void DebugTraceRaw(const char* text);

// Turns the trace on or off (it starts as LARKVIEW_TRACE says).
void SetDebugTraceEnabled(bool enabled);
bool DebugTraceEnabled();

}  // namespace platform
