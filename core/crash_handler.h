#pragma once
// Turns every fatal error of the process into a dump file "Larkview.dmp" in the
// state folder (beside the logs) and then ends the process with exit code 1.
// Installed by the program entry as soon as that folder is known, before Qt and
// any thread start.

namespace platform {
struct FaultDescription;
}

namespace core {

class CCrashHandler {
public:
    // Fatal signals, std::terminate, allocation failure and pure virtual calls.
    // The dump path is fixed now (platform::StateDirectory at this moment).
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

}  // namespace core
