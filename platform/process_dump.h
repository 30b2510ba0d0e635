#pragma once
// The process dump written when the program faults: the signal, the faulting address,
// the registers, a back trace and the memory map, as text. Everything here that runs
// inside a signal handler uses only async-signal-safe calls (open, write, read, close,
// _exit) and no heap.

#include <cstddef>

namespace platform {

// What the handler is given: the signal (0 when the fault is not a signal, such as
// std::terminate), the raw siginfo_t and ucontext_t pointers (may be null), and a
// reason line.
struct FaultDescription {
    int signal = 0;
    const void* signalInfo = nullptr;
    const void* context = nullptr;
    const char* reason = nullptr;
};

using FatalSignalHandler = void (*)(const FaultDescription& fault);

// Routes SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP and SIGSYS to `handler`
// on an alternate stack (so a stack overflow on this thread still reaches it), and
// loads what the back trace needs now rather than inside the handler.
void InstallFatalSignalHandlers(FatalSignalHandler handler);

// A context describing the caller, for faults that are not signals.
// `storage` must hold a ucontext_t (use kContextStorage bytes).
constexpr std::size_t kContextStorage = 1024;
void CaptureContext(void* storage);

// Creates (replacing) the dump file; -1 on failure.
int CreateDumpFile(const char* path);
// Writes the dump; false when a write failed.
bool WriteProcessDump(int fd, const FaultDescription& fault);
void CloseDumpFile(int fd);

// Appends `text` to the fixed buffer, always keeping it terminated.
void AppendText(char* buffer, std::size_t size, const char* text);

// Ends the process at once with `code`, without exit handlers.
[[noreturn]] void TerminateProcess(int code);

// Guards against a second fault: true for the first caller. A later fault on the same
// thread ends the process at once; one on another thread waits for the first to end it.
bool EnterFaultHandler();

}  // namespace platform
