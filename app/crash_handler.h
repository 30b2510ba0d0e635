#pragma once
// Turns every fatal error of the process into a dump file "Larkview.dmp" in the
// program directory and then ends the process with exit code 1. Installed by the
// program entry before anything else.

namespace platform {
struct FaultDescription;
}

namespace app {

class CCrashHandler {
public:
    // Fatal signals, std::terminate, allocation failure and pure virtual calls.
    // The dump path is fixed now (the program directory at this moment).
    static void Install();

    // Writes the dump for `fault` (async-signal-safe) with the trace messages.
    static void CreateMiniDump(const platform::FaultDescription& fault);

    static void PureCallHandler();
    static void TerminateHandler();
    // Kept for unexpected-exception reports; the language no longer calls such a
    // handler itself (an exception escaping a noexcept function reaches terminate).
    static void UnexpectedHandler();
    static void NewHandler();

    // The dump file's full path as Install fixed it.
    static const char* DumpPath();
};

}  // namespace app
