#include "core/crash_handler.h"

#include <exception>
#include <new>

#include "platform/debug_trace.h"
#include "platform/paths.h"
#include "platform/process_dump.h"

namespace core {
namespace {

constexpr std::size_t kPathSize = 4096;
char g_dumpPath[kPathSize];

// Faults that are not signals: describe the caller, dump, end.
[[noreturn]] void DumpFromHandler(const char* reason) {
    alignas(16) unsigned char context[platform::kContextStorage];
    platform::CaptureContext(context);
    platform::FaultDescription fault{0, nullptr, context, reason};
    CCrashHandler::CreateMiniDump(fault);
    platform::TerminateProcess(1);
}

void OnFatalSignal(const platform::FaultDescription& fault) { CCrashHandler::CreateMiniDump(fault); }

}  // namespace

void CCrashHandler::Install() {
    g_dumpPath[0] = '\0';
    const std::string path = platform::JoinPath(platform::StateDirectory(), "Larkview.dmp");
    platform::AppendText(g_dumpPath, kPathSize, path.c_str());
    platform::InstallFatalSignalHandlers(OnFatalSignal);
    std::set_terminate(TerminateHandler);
    std::set_new_handler(NewHandler);
}

const char* CCrashHandler::DumpPath() { return g_dumpPath; }

void CCrashHandler::CreateMiniDump(const platform::FaultDescription& fault) {
    if (!platform::EnterFaultHandler()) return;
    platform::DebugTraceRaw("CCrashHandler::CreateMiniDump 程序异常，创建dmp文件！\n");
    const int fd = platform::CreateDumpFile(g_dumpPath);
    if (fd < 0) {
        char line[kPathSize + 128] = "";
        platform::AppendText(line, sizeof line, "CCrashHandler::CreateMiniDump 创建dmp文件失败!创建路径:");
        platform::AppendText(line, sizeof line, g_dumpPath);
        platform::AppendText(line, sizeof line, "\n");
        platform::DebugTraceRaw(line);
    } else {
        if (!platform::WriteProcessDump(fd, fault)) platform::DebugTraceRaw("CCrashHandler::CreateMiniDump 写dmp文件失败!\n");
        platform::CloseDumpFile(fd);
    }
    platform::DebugTraceRaw("CCrashHandler::CreateMiniDump 程序异常，创建dmp文件 完成！\n");
}

void CCrashHandler::PureCallHandler() {
    platform::DebugTraceRaw("CCrashHandler::PureCallHandler ....\n");
    DumpFromHandler("pure virtual call");
}

void CCrashHandler::TerminateHandler() {
    platform::DebugTraceRaw("CCrashHandler::TerminateHandler ....\n");
    DumpFromHandler("terminate");
}

void CCrashHandler::UnexpectedHandler() {
    platform::DebugTraceRaw("CCrashHandler::UnexpectedHandler ....\n");
    DumpFromHandler("unexpected exception");
}

void CCrashHandler::NewHandler() { DumpFromHandler("allocation failure"); }

}  // namespace core

// The C++ runtime calls this for a call through a pure virtual function; this
// definition takes the place of the runtime's own.
extern "C" void __cxa_pure_virtual() { core::CCrashHandler::PureCallHandler(); }
