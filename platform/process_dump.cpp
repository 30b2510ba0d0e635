#include "platform/process_dump.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

namespace platform {
namespace {

FatalSignalHandler g_handler = nullptr;
std::atomic<long> g_faultingThread{0};
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

long ThreadIdNow() { return static_cast<long>(syscall(SYS_gettid)); }

// Small writer over a descriptor that remembers whether any write failed.
class SafeWriter {
public:
    explicit SafeWriter(int fd) : fd_(fd) {}
    SafeWriter& Text(const char* text) {
        std::size_t left = std::strlen(text);
        while (left > 0) {
            ssize_t n = ::write(fd_, text, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok_ = false;
                return *this;
            }
            text += n;
            left -= static_cast<std::size_t>(n);
        }
        return *this;
    }
    SafeWriter& Hex(std::uintptr_t value) {
        char digits[2 + 2 * sizeof value + 1];
        digits[0] = '0';
        digits[1] = 'x';
        for (std::size_t i = 0; i < 2 * sizeof value; ++i)
            digits[2 + i] = "0123456789abcdef"[(value >> (4 * (2 * sizeof value - 1 - i))) & 0xF];
        digits[sizeof digits - 1] = '\0';
        return Text(digits);
    }
    SafeWriter& Dec(long value) {
        char digits[24];
        char* p = digits + sizeof digits;
        *--p = '\0';
        const bool negative = value < 0;
        unsigned long magnitude = negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
        do {
            *--p = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude);
        if (negative) *--p = '-';
        return Text(p);
    }
    int Fd() const { return fd_; }
    bool Ok() const { return ok_; }
    void Fail() { ok_ = false; }

private:
    int fd_;
    bool ok_ = true;
};

const char* SignalName(int signal) {
    switch (signal) {
        case SIGSEGV: return "SIGSEGV";
        case SIGBUS: return "SIGBUS";
        case SIGFPE: return "SIGFPE";
        case SIGILL: return "SIGILL";
        case SIGABRT: return "SIGABRT";
        case SIGTRAP: return "SIGTRAP";
        case SIGSYS: return "SIGSYS";
        case 0: return "none";
        default: return "other";
    }
}

void WriteRegisters(SafeWriter& out, const void* context) {
    out.Text("registers:\n");
    if (!context) {
        out.Text("  not available\n");
        return;
    }
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    static const char* const kNames[] = {"r8",  "r9",  "r10", "r11", "r12", "r13",    "r14", "r15",
                                         "rdi", "rsi", "rbp", "rbx", "rdx", "rax",    "rcx", "rsp",
                                         "rip", "efl", "csgsfs", "err", "trapno", "oldmask", "cr2"};
    for (int i = 0; i < NGREG && i < static_cast<int>(sizeof kNames / sizeof *kNames); ++i) {
        out.Text("  ").Text(kNames[i]).Text(" = ").Hex(static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[i])).Text("\n");
    }
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i) out.Text("  x").Dec(i).Text(" = ").Hex(uc->uc_mcontext.regs[i]).Text("\n");
    out.Text("  sp = ").Hex(uc->uc_mcontext.sp).Text("\n");
    out.Text("  pc = ").Hex(uc->uc_mcontext.pc).Text("\n");
    out.Text("  pstate = ").Hex(uc->uc_mcontext.pstate).Text("\n");
#else
    (void)uc;
    out.Text("  not available on this processor\n");
#endif
}

void CopyFile(SafeWriter& out, const char* path) {
    int in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        out.Text("  not readable\n");
        return;
    }
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer - 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buffer[n] = '\0';
        // The map holds no NUL bytes; write the exact count anyway.
        ssize_t done = 0;
        while (done < n) {
            ssize_t w = ::write(out.Fd(), buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                out.Fail();
                break;
            }
            done += w;
        }
    }
    ::close(in);
}

void OnSignal(int signal, siginfo_t* info, void* context) {
    FaultDescription fault{signal, info, context, "fatal signal"};
    if (g_handler) g_handler(fault);
    TerminateProcess(1);
}

}  // namespace

void InstallFatalSignalHandlers(FatalSignalHandler handler) {
    g_handler = handler;
    // The first back trace loads the unwinder; do it here, not in the handler.
    void* frames[4];
    (void)backtrace(frames, 4);

    static char* alternateStack = nullptr;
    if (!alternateStack) {
        const std::size_t size = 64 * 1024;
        alternateStack = new char[size];
        stack_t stack{};
        stack.ss_sp = alternateStack;
        stack.ss_size = size;
        sigaltstack(&stack, nullptr);
    }
    struct sigaction action {};
    action.sa_sigaction = OnSignal;
    sigemptyset(&action.sa_mask);
    // NODEFER: a fault inside the handler re-enters it and ends the process at once.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    for (int signal : kFatalSignals) sigaction(signal, &action, nullptr);
}

void CaptureContext(void* storage) {
    static_assert(sizeof(ucontext_t) <= kContextStorage, "context storage too small");
    getcontext(static_cast<ucontext_t*>(storage));
}

// The dump holds the process's memory, passwords included: its owner's alone.
int CreateDumpFile(const char* path) {
    const int fd = ::open(path, O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) ::fchmod(fd, 0600);  // an older dump may have been created with a wider mode
    return fd;
}

bool WriteProcessDump(int fd, const FaultDescription& fault) {
    SafeWriter out(fd);
    out.Text("Larkview process dump\n");
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    out.Text("time: ").Dec(static_cast<long>(now.tv_sec)).Text(" (seconds since 1970)\n");
    out.Text("process: ").Dec(static_cast<long>(getpid())).Text("\nthread: ").Dec(ThreadIdNow()).Text("\n");
    out.Text("reason: ").Text(fault.reason ? fault.reason : "unknown").Text("\n");
    out.Text("signal: ").Dec(fault.signal).Text(" (").Text(SignalName(fault.signal)).Text(")\n");
    if (const auto* info = static_cast<const siginfo_t*>(fault.signalInfo)) {
        out.Text("code: ").Dec(info->si_code).Text("\n");
        out.Text("fault address: ").Hex(reinterpret_cast<std::uintptr_t>(info->si_addr)).Text("\n");
    } else {
        out.Text("fault address: none\n");
    }
    WriteRegisters(out, fault.context);

    out.Text("back trace:\n");
    void* frames[64];
    const int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, fd);

    out.Text("memory map:\n");
    CopyFile(out, "/proc/self/maps");
    out.Text("end of dump\n");
    return out.Ok();
}

void CloseDumpFile(int fd) {
    if (fd >= 0) ::close(fd);
}

void AppendText(char* buffer, std::size_t size, const char* text) {
    if (size == 0) return;
    std::size_t used = std::strlen(buffer);
    while (*text && used + 1 < size) buffer[used++] = *text++;
    buffer[used] = '\0';
}

void TerminateProcess(int code) { ::_exit(code); }

bool EnterFaultHandler() {
    const long self = ThreadIdNow();
    long expected = 0;
    if (g_faultingThread.compare_exchange_strong(expected, self)) return true;
    if (expected == self) TerminateProcess(1);  // the handler itself faulted
    // Another thread is writing the dump and will end the process.
    for (;;) {
        timespec pause{1, 0};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace platform
