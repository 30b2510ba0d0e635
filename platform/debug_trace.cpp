#include "platform/debug_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <unistd.h>

namespace platform {
namespace {
std::atomic<bool> g_enabled{std::getenv("LARKVIEW_TRACE") != nullptr};
}  // namespace

void SetDebugTraceEnabled(bool enabled) { g_enabled = enabled; }

bool DebugTraceEnabled() { return g_enabled; }

void DebugTraceRaw(const char* text) {
    if (!g_enabled || !text) return;
    ssize_t ignored = ::write(2, text, std::strlen(text));
    (void)ignored;
}

void DebugTrace(const char* format, ...) {
    if (!g_enabled) return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::fputs(buffer, stderr);
}

}  // namespace platform
