#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

#include "core/library_notices.h"
#include "core/log_file.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

using core::LogFile;
using testing_support::TempDir;

namespace {
int CountLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }
}  // namespace

TEST(LogFile, LinesCarryTheClassicTimeAndAreCut) {
    TempDir dir;
    {
        LogFile log(dir.Path());
        log.Write("link server error");
        log.Write(std::string(400, 'x'));
    }
    std::string text = dir.Read("Manage.log");
    std::regex first(R"(^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ \d]\d \d\d:\d\d:\d\d \d{4}:link server error\n)");
    EXPECT_TRUE(std::regex_search(text, first)) << text;
    auto second = text.substr(text.find('\n') + 1);
    EXPECT_EQ(second.size(), 24u + 1 + 255 + 1) << "the text is cut to the 256-byte buffer";
}

TEST(LogFile, TimeTextHasTwentyFourCharacters) {
    EXPECT_EQ(LogFile::TimeText(0).size(), 24u);
    EXPECT_EQ(LogFile::TimeText(1790000000).size(), 24u);
}

TEST(LogFile, ExistingLogMovesToArchive00AndFreshLogStarts) {
    TempDir dir;
    dir.Write("Manage.log", "old\n");
    dir.Write("Manage.log00", "older\n");
    { LogFile log(dir.Path()); }
    EXPECT_EQ(dir.Read("Manage.log00"), "old\n");
    EXPECT_EQ(dir.Read("Manage.log01"), "older\n");
    EXPECT_EQ(dir.Read("Manage.log"), "");
}

TEST(LogFile, RotationDropsTheOldestArchive) {
    TempDir dir;
    for (int k = 0; k < 49; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "Manage.log%02d", k);
        dir.Write(name, std::to_string(k));
    }
    dir.Write("Manage.log", "current");
    LogFile::Rotate(dir.File("Manage.log"));
    EXPECT_EQ(dir.Read("Manage.log00"), "current");
    EXPECT_EQ(dir.Read("Manage.log48"), "47") << "the old 48 was deleted, 47 moved up";
    EXPECT_FALSE(std::filesystem::exists(dir.File("Manage.log49")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("Manage.log")));
}

TEST(LogFile, TenThousandthLineIsWrittenThenTheFileRotates) {
    TempDir dir;
    {
        LogFile log(dir.Path());
        for (int i = 1; i <= LogFile::kMaxLines; ++i) log.Write("line " + std::to_string(i));
        EXPECT_EQ(dir.Read("Manage.log"), "");
        log.Write("fresh");
    }
    std::string archived = dir.Read("Manage.log00");
    EXPECT_EQ(CountLines(archived), LogFile::kMaxLines);
    EXPECT_NE(archived.find(":line 10000\n"), std::string::npos);
    std::string current = dir.Read("Manage.log");
    EXPECT_EQ(CountLines(current), 1);
    EXPECT_NE(current.find(":fresh\n"), std::string::npos);
}

TEST(LogFile, UnopenableLogMakesWritesNoOps) {
    TempDir dir;
    dir.Write("blocker", "a file where the log directory should be");
    LogFile log(dir.File("blocker"));
    EXPECT_FALSE(log.IsOpen());
    log.Write("ignored");
}

// The audio back-end's "no sound server" and Qt's runtime-folder notice are facts of
// the machine: one line each in our log, not on the terminal at every start. Other
// messages, real faults among them, still go to the terminal.
TEST(LogFile, EnvironmentNoticesOfLibrariesGoToTheLogOnce) {
    using core::NoticeRoute;
    using core::RouteLibraryNotice;
    EXPECT_EQ(RouteLibraryNotice("default", "PulseAudioService: pa_context_connect() failed"), NoticeRoute::kLogOnce);
    EXPECT_EQ(RouteLibraryNotice("qt.multimedia.pulseaudio.output", "stream underflow"), NoticeRoute::kLogOnce);
    EXPECT_EQ(RouteLibraryNotice("default", "QAudioSink: pa_stream_new_with_proplist() failed!"), NoticeRoute::kLogOnce);
    EXPECT_EQ(RouteLibraryNotice("default", "QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-u'"),
              NoticeRoute::kLogOnce);
    EXPECT_EQ(RouteLibraryNotice("default", "QStandardPaths: wrong permissions on runtime directory /run/u, 0755 instead of 0700"),
              NoticeRoute::kStandardError);
    EXPECT_EQ(RouteLibraryNotice("qt.qpa.xcb", "could not connect to display"), NoticeRoute::kStandardError);
    EXPECT_EQ(RouteLibraryNotice("default", "QOpenGLWidget: Failed to create context"), NoticeRoute::kStandardError);
    EXPECT_EQ(RouteLibraryNotice("default", "Some text mentioning PulseAudioService: later"), NoticeRoute::kStandardError);

    TempDir dir;
    platform::SetProgramDirectory(dir.Path());
    LogFile::Destroy();
    EXPECT_TRUE(core::LogNoticeOnce("PulseAudioService: pa_context_connect() failed (log test)"));
    EXPECT_FALSE(core::LogNoticeOnce("PulseAudioService: pa_context_connect() failed (log test)"));
    // A library that varies its text cannot fill the log.
    int written = 0;
    for (std::size_t i = 0; i < core::kMaxNotices + 10; ++i)
        written += core::LogNoticeOnce("PulseAudioService: Connection failure: " + std::to_string(i)) ? 1 : 0;
    EXPECT_LE(written, static_cast<int>(core::kMaxNotices));
    LogFile::Destroy();
    platform::SetProgramDirectory("");
    const std::string text = dir.Read("appLogs/Manage.log");
    EXPECT_EQ(text.find("library: PulseAudioService: pa_context_connect() failed (log test)"),
              text.rfind("library: PulseAudioService: pa_context_connect() failed (log test)"))
        << "written exactly once";
    EXPECT_NE(text.find("library: PulseAudioService"), std::string::npos);
    EXPECT_EQ(CountLines(text), 1 + written);
}
