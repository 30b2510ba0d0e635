// The local recorder: frame records, files cut at their length, the sweeper, and the
// recovery of a working file left by a killed process. Time comes from a test clock.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>

#include "record/frame_record.h"
#include "record/recorder.h"
#include "record/recovery.h"
#include "record/sweeper.h"
#include "support/local_moment.h"
#include "support/temp_dir.h"

using namespace record;
namespace fs = std::filesystem;

namespace {

using testing_support::Moment;

struct TestClock {
    std::shared_ptr<std::atomic<std::int64_t>> ms = std::make_shared<std::atomic<std::int64_t>>(0);
    RecordClock Clock() const {
        RecordClock clock;
        auto now = ms;
        clock.nowSeconds = [now] { return now->load() / 1000; };
        clock.tickMs = [now] { return static_cast<std::uint32_t>(now->load()); };
        return clock;
    }
    void Set(std::int64_t seconds) { *ms = seconds * 1000; }
    void Advance(std::int64_t milliseconds) { *ms += milliseconds; }
};

std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<FoundFrame> Frames(const std::string& bytes) {
    std::vector<FoundFrame> frames;
    ScanFrameRecords(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), [&](const FoundFrame& f) {
        frames.push_back(f);
        return true;
    });
    return frames;
}

const std::string kKeyFrame("\x00\x00\x00\x01\x67\x42keyframe", 14);
const std::string kFrame("\x00\x00\x00\x01\x41\x9a-frame", 13);

// 25 frames a second with a key frame every second, for `seconds`.
void Feed(CRecord& recorder, TestClock& clock, int seconds, int& frameNumber) {
    for (int i = 0; i < seconds * 25; ++i, ++frameNumber) {
        const bool key = frameNumber % 25 == 0;
        const std::string& data = key ? kKeyFrame : kFrame;
        recorder.Write(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), key, 704, 576, 25);
        clock.Advance(40);
    }
}

}  // namespace

TEST(FrameRecord, PackedTimeAndHeaderAreByteForByte) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = 6;
    t.tm_min = 30;
    t.tm_sec = 15;
    const std::uint32_t packed = 26u | 12u << 6 | 8u << 10 | 6u << 15 | 30u << 20 | 15u << 26;
    EXPECT_EQ(PackLocalTime(&t), packed);
    EXPECT_EQ(PackLocalTime(nullptr), 0x1Fu << 15 | 0x3Fu << 20 | 0x3Fu << 26);
    const auto back = UnpackLocalTime(packed);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->tm_mday, 8);
    EXPECT_EQ(back->tm_sec, 15);
    EXPECT_FALSE(UnpackLocalTime(PackLocalTime(nullptr))) << "the failure form names no time";

    // One frame through the writer, at that moment.
    testing_support::TempDir dir;
    TestClock clock;
    clock.Set(Moment(2026, 12, 8, 6, 30, 15));
    *clock.ms += 0x0304;  // the tick's low bytes
    RecordWriter writer(dir.Path(), clock.Clock(), WriteMode::kOpenPerFrame);
    ASSERT_TRUE(writer.Begin());
    const std::uint8_t data[3] = {0xAA, 0xBB, 0xCC};
    ASSERT_TRUE(writer.Append(data, 3, true, 704, 576, 25));
    const std::string bytes = dir.Read(kWorkingFileName);
    const auto tick = static_cast<std::uint32_t>(clock.ms->load());
    std::vector<std::uint8_t> expected = {0, 0, 0, 0};
    for (std::uint32_t word : {tick, 39u, packed, 704u, 576u, 25u, 2u, 1u})
        for (int b = 0; b < 4; ++b) expected.push_back(static_cast<std::uint8_t>(word >> (8 * b)));
    expected.insert(expected.end(), {0xAA, 0xBB, 0xCC});
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST(FrameRecord, ScanStopsAtATornOrForeignRecord) {
    testing_support::TempDir dir;
    TestClock clock;
    clock.Set(Moment(2026, 12, 8, 6, 30, 15));
    RecordWriter writer(dir.Path(), clock.Clock(), WriteMode::kKeepOpen);
    ASSERT_TRUE(writer.Begin());
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(writer.Append(reinterpret_cast<const std::uint8_t*>(kFrame.data()), kFrame.size(), false, 1, 1, 25));
    std::string bytes = dir.Read(kWorkingFileName);
    ASSERT_EQ(Frames(bytes).size(), 3u);
    const std::size_t whole = bytes.size();
    EXPECT_EQ(ScanFrameRecords(reinterpret_cast<const std::uint8_t*>(bytes.data()), whole - 1), whole / 3 * 2);
    bytes[whole / 3 + 28] = 3;  // the second record's constant word
    EXPECT_EQ(Frames(bytes).size(), 1u);
    EXPECT_EQ(ScanFrameRecords(nullptr, 100), 0u);
}

TEST(FrameRecord, FinishedNamesAndTheirStart) {
    const std::int64_t start = Moment(2014, 5, 6, 8, 0, 0);
    EXPECT_EQ(FinishedName(start, start + 1800), "2014-05-06 08-00-00_2014-05-06 08-30-00.mvp");
    EXPECT_EQ(StartOfFinishedName("2014-05-06 08-00-00_2014-05-06 08-30-00.mvp"), start);
    EXPECT_FALSE(StartOfFinishedName("notes.mvp"));
    EXPECT_FALSE(StartOfFinishedName("2014-05-06 08-00-00_2014-05-06 08-30-00.mvd"));
    EXPECT_FALSE(StartOfFinishedName("2014-05-06 08-00-00_2014-05-06 08-30.mvp"));
    EXPECT_FALSE(StartOfFinishedName("2014-05-06 08-00-00_2014-05-06 08-30-00.mvp.bak"));
    // Only names the recorder writes: the sweeper deletes what reads as one.
    for (const char* name : {"1-1-1 1-1-1_1-1-1 1-1-1.mvp", "2014-13-06 08-00-00_2014-05-06 08-30-00.mvp",
                             "2014-02-29 08-00-00_2014-05-06 08-30-00.mvp", "2014-05-06 08-00-00_2014-05-06 08-60-00.mvp",
                             "+014-05-06 08-00-00_2014-05-06 08-30-00.mvp", "2147483648-05-06 08-00-00_2014-05-06 08-30-00.mvp"})
        EXPECT_FALSE(StartOfFinishedName(name)) << name;
    EXPECT_TRUE(StartOfFinishedName("2016-02-29 08-00-00_2016-02-29 08-30-00.mvp")) << "a leap day";
}

TEST(Recorder, FiveSecondsLeaveOnlyTheWorkingFile) {
    testing_support::TempDir dir;
    TestClock clock;
    clock.Set(Moment(2026, 12, 8, 6, 30, 15));
    CRecord recorder(clock.Clock());
    const std::string folder = RecordingFolder(dir.Path() + "/root", "31000001");
    ASSERT_TRUE(recorder.Start(folder, "31000001", 30));
    EXPECT_TRUE(recorder.IsWaitingForKeyFrame());
    int frame = 1;  // starts between key frames: the first ones are skipped
    Feed(recorder, clock, 5, frame);
    recorder.Stop();
    EXPECT_EQ(Files(folder), std::vector<std::string>{"tmp.mvd"});
    const std::string bytes = dir.Read("root/31000001/tmp.mvd");
    const auto frames = Frames(bytes);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().header.keyFrame, 1u) << "the file begins with a key frame";
    EXPECT_EQ(frames.size(), 5u * 25 - 24);
}

TEST(Recorder, OneMinuteFilesChainEndToStartAndBeginWithKeyFrames) {
    testing_support::TempDir dir;
    TestClock clock;
    clock.Set(Moment(2026, 12, 8, 6, 30, 15));
    CRecord recorder(clock.Clock(), WriteMode::kOpenPerFrame);
    ASSERT_TRUE(recorder.Start(dir.Path(), "31000001", 1));
    int frame = 0;
    Feed(recorder, clock, 180, frame);
    recorder.Stop();

    std::vector<std::string> files = Files(dir.Path());
    ASSERT_EQ(files.size(), 3u) << ::testing::PrintToString(files);
    for (std::size_t i = 0; i < files.size(); ++i) {
        ASSERT_EQ(files[i].size(), 43u);
        if (i > 0) {
            EXPECT_EQ(files[i].substr(0, 19), files[i - 1].substr(20, 19)) << "end of one is start of the next";
        }
        const std::string bytes = dir.Read(files[i]);  // the frames point into it
        const auto frames = Frames(bytes);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.front().header.keyFrame, 1u) << files[i];
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(frames.front().data), frames.front().dataLength), kKeyFrame);
    }
    EXPECT_EQ(files.front().substr(0, 19), "2026-12-08 06-30-15");
    EXPECT_EQ(files.back().substr(20, 19), "2026-12-08 06-33-15");
}

TEST(Recorder, ANewFileLengthCutsTheRecordingInProgress) {
    testing_support::TempDir dir;
    TestClock clock;
    clock.Set(Moment(2026, 12, 8, 6, 30, 15));
    CRecord recorder(clock.Clock(), WriteMode::kOpenPerFrame);
    ASSERT_TRUE(recorder.Start(dir.Path(), "31000001", 30));
    int frame = 0;
    Feed(recorder, clock, 90, frame);
    EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{"tmp.mvd"}) << "thirty-minute files";
    recorder.SetFileMinutes(1);
    EXPECT_EQ(recorder.FileMinutes(), 1);
    Feed(recorder, clock, 60, frame);
    recorder.Stop();
    const std::vector<std::string> files = Files(dir.Path());
    ASSERT_EQ(files.size(), 2u) << ::testing::PrintToString(files);
    EXPECT_EQ(files[0], "2026-12-08 06-30-15_2026-12-08 06-31-45.mvp") << "cut at the first frame past a minute";
}

TEST(Recorder, StartFailsWhenTheFolderCannotBeMade) {
    testing_support::TempDir dir;
    dir.Write("file", "x");
    CRecord recorder;
    EXPECT_FALSE(recorder.Start(dir.File("file") + "/31000001", "31000001", 30));
    EXPECT_FALSE(recorder.IsRecording());
}

TEST(Recorder, CameraIdsFromTheServiceNeverLeaveTheRecordRoot) {
    testing_support::TempDir dir;
    const std::string root = dir.File("RecordFile");
    const std::vector<std::string> hostile = {"../../.config/autostart", "..", ".", ".hidden", "a/b", "/etc",
                                              "a\\..\\..\\b", std::string("31\0../x", 7), std::string(300, 'x'),
                                              "名字", ""};
    std::set<std::string> names;
    TestClock clock;
    clock.Set(Moment(2026, 12, 8, 6, 30, 15));
    for (const std::string& id : hostile) {
        const std::string folder = RecordingFolder(root, id);
        EXPECT_EQ(fs::path(folder).parent_path(), fs::path(root)) << folder;
        EXPECT_EQ(CameraFolderName(id), CameraFolderName(std::string(id))) << "stable for the same id";
        EXPECT_EQ(CameraFolderName(id).rfind("id@", 0), 0u) << folder;
        names.insert(CameraFolderName(id));

        CRecord recorder(clock.Clock());
        ASSERT_TRUE(recorder.Start(folder, id, 30)) << folder;
        int frame = 0;
        Feed(recorder, clock, 12, frame);
        recorder.Stop();
    }
    EXPECT_EQ(names.size(), hostile.size()) << "different ids never share a folder";
    EXPECT_EQ(CameraFolderName("31000001"), "31000001") << "plain ids keep the folders they always had";
    EXPECT_EQ(CameraFolderName("cam_01-b.2"), "cam_01-b.2");

    // Everything written is one level below the root, and nothing beside it.
    EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{"RecordFile"});
    std::size_t recordings = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        EXPECT_EQ(entry.path().parent_path().parent_path(), fs::path(root)) << entry.path();
        ++recordings;
    }
    EXPECT_EQ(recordings, hostile.size());
}

TEST(Sweeper, DeletesOldRecordingsOnlyAndNeverOtherFiles) {
    testing_support::TempDir dir;
    const std::int64_t now = Moment(2026, 12, 8, 12, 0, 0);
    fs::create_directories(dir.File("31000001/deeper"));
    const std::string old = FinishedName(now - 20 * 86400, now - 20 * 86400 + 1800);
    const std::string recent = FinishedName(now - 86400, now - 86400 + 1800);
    for (const std::string& name : {"31000001/" + old, "31000001/deeper/" + old, "31000001/" + recent,
                                    std::string("31000001/notes.mvp"), std::string("31000001/tmp.mvd")})
        dir.Write(name, "x");
    fs::rename(dir.File("31000001/deeper/" + old), dir.File("31000001/deeper/" + old.substr(0, 39) + ".mvd"));

    EXPECT_EQ(RecordSweeper::Sweep(dir.Path(), 15, now), 1);
    EXPECT_EQ(Files(dir.File("31000001")), (std::vector<std::string>{recent, "deeper", "notes.mvp", "tmp.mvd"}));
    EXPECT_EQ(Files(dir.File("31000001/deeper")).size(), 1u);

    // The thread sweeps at once and stops promptly.
    dir.Write("31000001/" + old, "x");
    RecordSweeper sweeper(dir.Path(), 15, [now] { return now; });
    sweeper.Start();
    for (int i = 0; i < 500 && sweeper.Sweeps() == 0; ++i) usleep(2000);
    sweeper.Stop();
    EXPECT_EQ(sweeper.Sweeps(), 1);
    EXPECT_FALSE(fs::exists(dir.File("31000001/" + old)));
    EXPECT_TRUE(fs::exists(dir.File("31000001/notes.mvp")));
}

// Saved settings reach a running sweeper at once, not at its next daily sweep.
TEST(Sweeper, NewSettingsSweepAgainAtOnceWithTheNewRootAndDays) {
    testing_support::TempDir dir;
    const std::int64_t now = Moment(2026, 12, 8, 12, 0, 0);
    const std::string fiveDays = FinishedName(now - 5 * 86400, now - 5 * 86400 + 1800);
    const std::string oneDay = FinishedName(now - 86400, now - 86400 + 1800);
    fs::create_directories(dir.File("first/c1"));
    fs::create_directories(dir.File("second/c1"));
    for (const std::string& name : {"first/c1/" + fiveDays, "second/c1/" + fiveDays, "second/c1/" + oneDay})
        dir.Write(name, "x");
    RecordSweeper sweeper(dir.File("first"), 15, [now] { return now; });
    sweeper.Start();
    for (int i = 0; i < 500 && sweeper.Sweeps() == 0; ++i) usleep(2000);
    EXPECT_TRUE(fs::exists(dir.File("first/c1/" + fiveDays))) << "kept for fifteen days";

    sweeper.Reconfigure(dir.File("second"), 3);
    for (int i = 0; i < 500 && sweeper.Sweeps() < 2; ++i) usleep(2000);
    sweeper.Stop();
    EXPECT_EQ(sweeper.Sweeps(), 2) << "one more sweep, the same day";
    EXPECT_FALSE(fs::exists(dir.File("second/c1/" + fiveDays))) << "three days now";
    EXPECT_TRUE(fs::exists(dir.File("second/c1/" + oneDay)));
    EXPECT_TRUE(fs::exists(dir.File("first/c1/" + fiveDays))) << "the old root is no longer swept";
}

// A recording process killed outright leaves "tmp.mvd" with a torn last record.
TEST(Recovery, WorkingFileOfAKilledProcessBecomesAFinishedRecording) {
    testing_support::TempDir dir;
    const std::string folder = dir.File("31000001");
    const std::int64_t start = Moment(2026, 12, 8, 6, 30, 15);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TestClock clock;
        clock.Set(start);
        CRecord recorder(clock.Clock());
        recorder.Start(folder, "31000001", 30);
        int frame = 0;
        Feed(recorder, clock, 20, frame);
        // Half of a record, as a write cut by the kill would leave it.
        FILE* file = std::fopen((folder + "/tmp.mvd").c_str(), "ab");
        std::uint8_t torn[20] = {0, 0, 0, 0, 1, 2, 3, 4, 200, 0, 0, 0};
        std::fwrite(torn, 1, sizeof torn, file);
        std::fclose(file);
        kill(getpid(), SIGKILL);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ASSERT_EQ(Files(folder), std::vector<std::string>{"tmp.mvd"});

    // The next recording in that folder recovers it before starting its own file.
    TestClock clock;
    clock.Set(start + 3600);
    CRecord recorder(clock.Clock());
    ASSERT_TRUE(recorder.Start(folder, "31000001", 30));
    int frame = 0;
    Feed(recorder, clock, 1, frame);
    const std::string expectedName = FinishedName(start, start + 19);
    EXPECT_EQ(Files(folder), (std::vector<std::string>{expectedName, "tmp.mvd"}));
    const std::string recovered = dir.Read("31000001/" + expectedName);
    const auto frames = Frames(recovered);
    EXPECT_EQ(frames.size(), 500u);
    EXPECT_EQ(frames.back().offset + frames.back().header.recordLength, recovered.size()) << "the torn record is cut off";
    recorder.Stop();
}

TEST(Recovery, ShortOrBusyWorkingFilesAreLeftAlone) {
    testing_support::TempDir dir;
    TestClock clock;
    clock.Set(Moment(2026, 12, 8, 6, 30, 15));
    {
        CRecord recorder(clock.Clock());
        ASSERT_TRUE(recorder.Start(dir.Path(), "1", 30));
        int frame = 0;
        Feed(recorder, clock, 5, frame);
        // While the recorder writes, the folder is its own.
        EXPECT_EQ(RecoverWorkingFile(dir.Path()), Recovery::kBusy);
        recorder.Stop();
    }
    EXPECT_EQ(RecoverWorkingFile(dir.Path()), Recovery::kTooShort);
    EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{"tmp.mvd"});
    EXPECT_EQ(RecoverWorkingFile(dir.File("absent")), Recovery::kNothing);
}
