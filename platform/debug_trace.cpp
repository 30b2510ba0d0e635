#include "platform/debug_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace platform {

void DebugTrace(const char* format, ...) {
    static const bool enabled = std::getenv("LARKVIEW_TRACE") != nullptr;
    if (!enabled) return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::fputs(buffer, stderr);
}

}  // namespace platform
