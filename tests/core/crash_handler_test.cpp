// Each case crashes a child process on purpose and looks at what it left behind.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <new>
#include <sys/stat.h>

#include "core/crash_handler.h"
#include "platform/debug_trace.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

using testing_support::TempDir;

// Types with outside linkage: the compiler cannot assume it knows every override.
// Calls a pure virtual function from the constructor, through a pointer the
// compiler cannot see through, so the call really goes through the vtable.
struct HalfBuilt;
__attribute__((noinline)) void CallHook(HalfBuilt* base);
struct HalfBuilt {
    HalfBuilt() { CallHook(this); }
    virtual ~HalfBuilt() = default;
    virtual void Hook() = 0;
};
struct FullyBuilt : HalfBuilt {
    void Hook() override { hooked = hooked + 1; }
    static inline volatile int hooked = 0;
};
void CallHook(HalfBuilt* base) {
    asm volatile("" : "+r"(base));  // hide where the pointer comes from
    base->Hook();
}

namespace {

// The faults under test. The compiler sees them for what they are and warns; here
// they are the point, so those warnings are silenced for these two functions only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#if defined(__clang__)
#pragma GCC diagnostic ignored "-Wexceptions"
#else
#pragma GCC diagnostic ignored "-Wterminate"
#endif
// A store to an unmapped address just above null (a plain null store is caught
// earlier by the undefined-behaviour checker of sanitizer builds).
void StoreToUnmappedAddress() {
    volatile int* nowhere = reinterpret_cast<volatile int*>(std::uintptr_t{16});
    *nowhere = 1;
}
// An exception leaving a noexcept function ends in std::terminate.
void ThrowThroughNoexcept() noexcept { throw std::runtime_error("nobody catches this"); }
#pragma GCC diagnostic pop

void InstallIn(const std::string& directory) {
    platform::SetProgramDirectory(directory);
    platform::SetDebugTraceEnabled(true);
    core::CCrashHandler::Install();
}

class CrashTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }
    std::string Dump() const { return dir.Read("Larkview.dmp"); }
    TempDir dir;
};

}  // namespace

TEST_F(CrashTest, SegmentationFaultLeavesADumpAndExitsWithOne) {
    EXPECT_EXIT(
        {
            InstallIn(dir.Path());
            StoreToUnmappedAddress();
        },
        ::testing::ExitedWithCode(1), "CreateMiniDump 程序异常，创建dmp文件！.*创建dmp文件 完成");
    const std::string dump = Dump();
    EXPECT_NE(dump.find("signal: 11 (SIGSEGV)"), std::string::npos);
    EXPECT_NE(dump.find("fault address: 0x0000000000000010"), std::string::npos);
    EXPECT_NE(dump.find("registers:"), std::string::npos);
    EXPECT_NE(dump.find("back trace:"), std::string::npos);
    EXPECT_NE(dump.find("memory map:"), std::string::npos);
    EXPECT_NE(dump.find("end of dump"), std::string::npos);
}

TEST_F(CrashTest, SecondCrashReplacesTheDump) {
    dir.Write("Larkview.dmp", std::string(200000, 'x'));
    EXPECT_EXIT(
        {
            InstallIn(dir.Path());
            std::abort();
        },
        ::testing::ExitedWithCode(1), "");
    const std::string dump = Dump();
    EXPECT_NE(dump.find("signal: 6 (SIGABRT)"), std::string::npos);
    EXPECT_EQ(dump.find("xxxx"), std::string::npos) << "the old file must be replaced, not appended to";
}

TEST_F(CrashTest, TerminateAndPureCallsAreReportedByTheirHandlers) {
    EXPECT_EXIT(
        {
            InstallIn(dir.Path());
            ThrowThroughNoexcept();
        },
        ::testing::ExitedWithCode(1), "CCrashHandler::TerminateHandler \\.\\.\\.\\.");
    EXPECT_NE(Dump().find("reason: terminate"), std::string::npos);

    EXPECT_EXIT(
        {
            InstallIn(dir.Path());
            FullyBuilt d;
        },
        ::testing::ExitedWithCode(1), "CCrashHandler::PureCallHandler \\.\\.\\.\\.");
    EXPECT_NE(Dump().find("reason: pure virtual call"), std::string::npos);
}

// The sanitizers' allocators end the process themselves instead of calling the new handler.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST_F(CrashTest, AllocationFailureEndsInADump) {
    EXPECT_EXIT(
        {
            InstallIn(dir.Path());
            void* p = ::operator new(static_cast<std::size_t>(1) << 62);
            std::printf("%p\n", p);
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_NE(Dump().find("reason: allocation failure"), std::string::npos);
}
#endif

TEST_F(CrashTest, UnwritableDirectoryGivesTheCreationFailureLineWithThePath) {
    if (geteuid() == 0) {
        // root writes anywhere: use a path below a file instead of a read-only folder
        dir.Write("plainfile", "");
        const std::string bogus = dir.File("plainfile");
        EXPECT_EXIT(
            {
                InstallIn(bogus);
                std::abort();
            },
            ::testing::ExitedWithCode(1), "创建dmp文件失败!创建路径:" + bogus + "/Larkview\\.dmp");
        return;
    }
    const std::string locked = dir.File("locked");
    std::filesystem::create_directory(locked);
    chmod(locked.c_str(), 0555);
    EXPECT_EXIT(
        {
            InstallIn(locked);
            std::abort();
        },
        ::testing::ExitedWithCode(1), "创建dmp文件失败!创建路径:" + locked + "/Larkview\\.dmp");
    chmod(locked.c_str(), 0755);
    EXPECT_FALSE(std::filesystem::exists(locked + "/Larkview.dmp"));
}
