// Rewind through its exports: a real recording written by the recorder is played into
// a test display (pictures in order and equal to FFmpeg's own decode, positions, pause,
// resume, seeks, the end), stopped from inside its own callback, refused or ended
// cleanly when broken, and exported to MP4 files that libavformat and libavcodec read
// back frame for frame.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "libs/rewind/rewind.h"
#include "record/frame_record.h"
#include "record/recorder.h"
#include "support/local_moment.h"
#include "support/annexb.h"
#include "support/h264_streams.h"
#include "support/mp4_facts.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::Mp4Facts;
using testing_support::ReadMp4;

namespace {

constexpr int kWidth = 352, kHeight = 288, kFrames = 300, kGop = 50;  // 12 s at 25 frames a second
constexpr std::size_t kPictureBytes = kWidth * kHeight * 3 / 2;
constexpr auto kPatience = 30s;  // generous: the machine may be loaded

using testing_support::Moment;

bool IsKeyUnit(const std::string& unit) {
    for (const auto& nal : testing_support::SplitNalUnits(unit))
        if (nal.type == 5) return true;
    return false;
}

// One recording made once for every case: the recorder fed a 12-second stream with a
// key frame every two seconds, 40 ms of its clock per frame.
struct Recording {
    testing_support::TempDir dir;
    std::string path;           // the finished ".mvp" file
    std::int64_t start = 0;     // recorded second of the first frame
    std::vector<std::string> units;
    std::string reference;      // FFmpeg's decode, Y U V planes per picture
    std::string problem;

    Recording() {
        const std::string stream = dir.File("in.h264");
        testing_support::StreamRecipe recipe;
        recipe.frames = kFrames;
        recipe.extraOptions = "-g " + std::to_string(kGop) + " -keyint_min " + std::to_string(kGop) + " -sc_threshold 0";
        if (!testing_support::EncodeStream(recipe, stream) ||
            !testing_support::DecodeReference(stream, "yuv420p", dir.File("reference.yuv"))) {
            problem = "the ffmpeg tool could not make the test stream";
            return;
        }
        units = testing_support::SplitAccessUnits(testing_support::ReadWholeFile(stream));
        reference = testing_support::ReadWholeFile(dir.File("reference.yuv"));
        if (units.size() != kFrames || reference.size() != kFrames * kPictureBytes) {
            problem = "unexpected test stream";
            return;
        }
        start = Moment(2026, 12, 8, 6, 30, 15);
        auto ms = std::make_shared<std::int64_t>(start * 1000);
        record::RecordClock clock;
        clock.nowSeconds = [ms] { return *ms / 1000; };
        clock.tickMs = [ms] { return static_cast<std::uint32_t>(*ms); };
        record::CRecord recorder(clock);
        const std::string folder = dir.File("records/31000001");
        recorder.Start(folder, "31000001", 30);
        for (const std::string& unit : units) {
            recorder.Write(reinterpret_cast<const std::uint8_t*>(unit.data()), unit.size(), IsKeyUnit(unit), kWidth,
                           kHeight, 25);
            *ms += 40;
        }
        recorder.Stop();
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".mvp") path = entry.path().string();
        if (path.empty()) problem = "the recorder left no finished file";
    }

    // Picture `i` of the reference as vdec lays it out (Y, then V, then U).
    std::string Expected(int i) const {
        const std::size_t area = kWidth * kHeight;
        const std::string picture = reference.substr(i * kPictureBytes, kPictureBytes);
        return picture.substr(0, area) + picture.substr(area * 5 / 4, area / 4) + picture.substr(area, area / 4);
    }
    std::string Bytes() const { return testing_support::ReadWholeFile(path); }
};

const Recording& TheRecording() {
    static Recording recording;
    return recording;
}

struct Shown {
    std::string yuv;
    int width = 0, height = 0;
    long long time = 0;
};

// The display and the status callback of one playback, with waits for what they saw.
class Viewer {
public:
    Viewer() {
        display_.user = this;
        display_.showPicture = [](void* user, const unsigned char* yuv, int width, int height, long long time) {
            auto* self = static_cast<Viewer*>(user);
            std::lock_guard lock(self->mutex_);
            self->pictures_.push_back(
                {std::string(reinterpret_cast<const char*>(yuv), static_cast<std::size_t>(width) * height * 3 / 2),
                 width, height, time});
            self->changed_.notify_all();
        };
    }
    const TARN_PB_Display* Display() const { return &display_; }

    static void Status(long handle, unsigned int message, unsigned long, long lParam, void* user) {
        auto* self = static_cast<Viewer*>(user);
        std::function<void(long, unsigned, long)> hook;
        {
            std::lock_guard lock(self->mutex_);
            self->reports_.emplace_back(message, lParam);
            hook = self->hook_;
        }
        if (hook) hook(handle, message, lParam);
        std::lock_guard lock(self->mutex_);
        ++self->callbacksReturned_;
        self->changed_.notify_all();
    }
    // Runs inside the status callback, on the library's thread.
    void SetHook(std::function<void(long, unsigned, long)> hook) {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }

    bool WaitPictures(std::size_t count, std::chrono::milliseconds patience = kPatience) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return pictures_.size() >= count; });
    }
    bool WaitReport(unsigned message, std::size_t after = 0) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] {
            for (std::size_t i = after; i < reports_.size(); ++i)
                if (reports_[i].first == message) return true;
            return false;
        });
    }
    bool WaitCallbacksReturned(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return callbacksReturned_ >= count; });
    }
    std::vector<Shown> Pictures() {
        std::lock_guard lock(mutex_);
        return pictures_;
    }
    std::size_t PictureCount() {
        std::lock_guard lock(mutex_);
        return pictures_.size();
    }
    std::vector<std::pair<unsigned, long>> Reports() {
        std::lock_guard lock(mutex_);
        return reports_;
    }

private:
    TARN_PB_Display display_{};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Shown> pictures_;
    std::vector<std::pair<unsigned, long>> reports_;
    std::function<void(long, unsigned, long)> hook_;
    int callbacksReturned_ = 0;
};

// Which reference picture `shown` is, or -1.
int WhichPicture(const Recording& recording, const Shown& shown) {
    for (int i = 0; i < kFrames; ++i)
        if (shown.yuv == recording.Expected(i)) return i;
    return -1;
}

std::vector<std::pair<unsigned, long>> Positions(const std::vector<std::pair<unsigned, long>>& reports) {
    std::vector<std::pair<unsigned, long>> positions;
    for (const auto& report : reports)
        if (report.first == TARN_PB_MSG_POSITION) positions.push_back(report);
    return positions;
}

#define REQUIRE_RECORDING(recording) \
    if (!(recording).problem.empty()) GTEST_SKIP() << (recording).problem

}  // namespace

TEST(Rewind, PlaysInOrderPausesResumesSeeksAndEnds) {
    const Recording& recording = TheRecording();
    REQUIRE_RECORDING(recording);
    Viewer viewer;
    long handle = 0;
    ASSERT_EQ(TARN_PB_StartPlay(viewer.Display(), recording.path.c_str(), &handle), TARN_PB_OK);
    ASSERT_GT(handle, 0);
    TARN_PB_SetStatusCallBack(handle, &Viewer::Status, &viewer);

    // The first pictures, in order, each FFmpeg's own decode of its frame, with its
    // recorded second; positions rise with them.
    ASSERT_TRUE(viewer.WaitPictures(30));
    {
        const auto pictures = viewer.Pictures();
        for (int i = 0; i < 30; ++i) {
            ASSERT_EQ(pictures[i].width, kWidth);
            ASSERT_EQ(pictures[i].height, kHeight);
            ASSERT_TRUE(pictures[i].yuv == recording.Expected(i)) << "picture " << i << " is not frame " << i;
            EXPECT_EQ(pictures[i].time, recording.start + i * 40 / 1000);
        }
        const auto positions = Positions(viewer.Reports());
        ASSERT_GE(positions.size(), 2u);
        for (std::size_t i = 0; i < positions.size(); ++i) EXPECT_EQ(positions[i].second, recording.start + long(i));
    }

    // Pause stops the pictures (one being decoded may still come); resume goes on
    // with the next frame.
    ASSERT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_PAUSE, 0), TARN_PB_OK);
    const std::size_t atPause = viewer.PictureCount();
    EXPECT_FALSE(viewer.WaitPictures(atPause + 2, 400ms)) << "pictures go on while paused";
    const std::size_t paused = viewer.PictureCount();
    ASSERT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_RESUME, 0), TARN_PB_OK);
    ASSERT_TRUE(viewer.WaitPictures(paused + 5));
    {
        const auto pictures = viewer.Pictures();
        for (std::size_t i = 0; i < paused + 5; ++i)
            ASSERT_TRUE(pictures[i].yuv == recording.Expected(static_cast<int>(i))) << "picture " << i << " after resume";
    }

    // Seek to 7 s: the key frame at 6 s comes first, then the frames after it.
    std::size_t before = viewer.PictureCount();
    std::size_t reportsBefore = viewer.Reports().size();
    ASSERT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_SEEK, recording.start + 7), TARN_PB_OK);
    ASSERT_TRUE(viewer.WaitPictures(before + 4));
    {
        const auto pictures = viewer.Pictures();
        std::size_t landed = before;
        while (landed < pictures.size() && pictures[landed].time < recording.start + 6) ++landed;
        ASSERT_LE(landed, before + 1) << "more than the picture in flight came from before the seek";
        ASSERT_LT(landed + 1, pictures.size());
        EXPECT_EQ(WhichPicture(recording, pictures[landed]), 3 * kGop) << "the first picture is not the key frame";
        EXPECT_EQ(pictures[landed].time, recording.start + 6);
        EXPECT_EQ(WhichPicture(recording, pictures[landed + 1]), 3 * kGop + 1);
        // The first position at or after the key frame's second is that second.
        ASSERT_TRUE(viewer.WaitReport(TARN_PB_MSG_POSITION, reportsBefore));
        const auto reportsNow = viewer.Reports();
        const auto after = Positions({reportsNow.begin() + static_cast<long>(reportsBefore), reportsNow.end()});
        const auto arrived = std::find_if(after.begin(), after.end(),
                                          [&](const auto& p) { return p.second >= recording.start + 6; });
        ASSERT_NE(arrived, after.end());
        EXPECT_EQ(arrived->second, recording.start + 6);
    }

    // Before the start: the start. Paused meanwhile, the seek still shows where it landed.
    ASSERT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_PAUSE, 0), TARN_PB_OK);
    before = viewer.PictureCount();
    ASSERT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_SEEK, recording.start - 3600), TARN_PB_OK);
    ASSERT_TRUE(viewer.WaitPictures(before + 1));
    {
        const auto pictures = viewer.Pictures();
        const Shown& last = pictures.back();
        EXPECT_EQ(WhichPicture(recording, last), 0) << "a seek before the start lands on the first frame";
        EXPECT_FALSE(viewer.WaitPictures(pictures.size() + 2, 300ms)) << "still paused";
    }

    // The last key frame (10 s) plays to the end, which is reported; so is a seek past it.
    std::size_t reports = viewer.Reports().size();
    ASSERT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_SEEK, recording.start + 11), TARN_PB_OK);
    ASSERT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_RESUME, 0), TARN_PB_OK);
    ASSERT_TRUE(viewer.WaitReport(TARN_PB_MSG_FINISHED, reports));
    EXPECT_EQ(WhichPicture(recording, viewer.Pictures().back()), kFrames - 1);
    reports = viewer.Reports().size();
    ASSERT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_SEEK, recording.start + 3600), TARN_PB_OK);
    ASSERT_TRUE(viewer.WaitReport(TARN_PB_MSG_FINISHED, reports));

    // Stopped, the handle names nothing; the next playback gets a new one.
    TARN_PB_DelPlay(handle);
    EXPECT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_RESUME, 0), TARN_PB_ERR_HANDLE);
    EXPECT_EQ(TARN_PB_PlayCtrl(0, TARN_PB_CMD_RESUME, 0), TARN_PB_ERR_HANDLE);
    TARN_PB_DelPlay(handle);  // twice: nothing happens
    Viewer second;
    long next = 0;
    ASSERT_EQ(TARN_PB_StartPlay(second.Display(), recording.path.c_str(), &next), TARN_PB_OK);
    EXPECT_GT(next, handle);
    EXPECT_EQ(TARN_PB_PlayCtrl(next, 9, 0), TARN_PB_ERR_COMMAND);
    TARN_PB_DelPlay(next);
}

TEST(Rewind, StopsFromItsOwnCallbackAndBrokenFilesFailOrEndCleanly) {
    const Recording& recording = TheRecording();
    REQUIRE_RECORDING(recording);
    testing_support::TempDir dir;

    // DelPlay inside the callback returns at once, and nothing comes afterwards.
    {
        Viewer viewer;
        long handle = 0;
        ASSERT_EQ(TARN_PB_StartPlay(viewer.Display(), recording.path.c_str(), &handle), TARN_PB_OK);
        viewer.SetHook([](long h, unsigned message, long) {
            if (message == TARN_PB_MSG_POSITION) TARN_PB_DelPlay(h);
        });
        TARN_PB_SetStatusCallBack(handle, &Viewer::Status, &viewer);
        ASSERT_TRUE(viewer.WaitCallbacksReturned(1)) << "DelPlay from the callback did not return";
        const std::size_t shown = viewer.PictureCount();
        EXPECT_FALSE(viewer.WaitPictures(shown + 1, 300ms)) << "pictures after DelPlay";
        EXPECT_EQ(viewer.Reports().size(), 1u);
        EXPECT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_PAUSE, 0), TARN_PB_ERR_HANDLE);
    }

    // Refused at the start, with a text for every code.
    Viewer viewer;
    long handle = 7;
    const std::string bytes = recording.Bytes();
    dir.Write("empty.mvp", "");
    dir.Write("foreign.mvp", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(5000, 'x'));
    dir.Write("torn-header.mvp", bytes.substr(0, 20));
    // Records without a key frame: the second frame's on.
    std::size_t secondRecord = 0;
    record::ScanFrameRecords(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                             [&](const record::FoundFrame& f) {
                                 secondRecord = f.offset;
                                 return f.offset == 0;
                             });
    dir.Write("no-key.mvp", bytes.substr(secondRecord, 20000));
    for (const char* name : {"empty.mvp", "foreign.mvp", "torn-header.mvp", "no-key.mvp"}) {
        EXPECT_EQ(TARN_PB_StartPlay(viewer.Display(), dir.File(name).c_str(), &handle), TARN_PB_ERR_FORMAT) << name;
        EXPECT_EQ(handle, 0);
    }
    EXPECT_EQ(TARN_PB_StartPlay(viewer.Display(), dir.File("missing.mvp").c_str(), &handle), TARN_PB_ERR_OPEN);
    EXPECT_EQ(TARN_PB_StartPlay(viewer.Display(), dir.Path().c_str(), &handle), TARN_PB_ERR_OPEN);
    EXPECT_EQ(TARN_PB_StartPlay(nullptr, recording.path.c_str(), &handle), TARN_PB_ERR_ARGUMENT);
    EXPECT_EQ(TARN_PB_StartPlay(viewer.Display(), "", &handle), TARN_PB_ERR_ARGUMENT);
    EXPECT_EQ(TARN_PB_StartPlay(viewer.Display(), recording.path.c_str(), nullptr), TARN_PB_ERR_ARGUMENT);
    for (int code = 0; code >= -10; --code) EXPECT_NE(std::string(TARN_PB_GetErrDis(code)), "") << code;

    // Played until the damage and ended cleanly: a file cut in the middle of a record,
    // with scrambled frame data on the way, and a header whose picture size lies.
    std::string damaged = bytes.substr(0, bytes.size() * 7 / 10 + 13);
    for (std::size_t at = bytes.size() / 2; at < bytes.size() / 2 + 4000; at += 7) damaged[at] ^= 0x5A;
    dir.Write("damaged.mvp", damaged);
    std::string lying = bytes;
    lying[16] = 16;  // the first record says 16 x 288
    lying[17] = 0;
    dir.Write("lying.mvp", lying);
    for (const char* name : {"damaged.mvp", "lying.mvp"}) {
        Viewer broken;
        ASSERT_EQ(TARN_PB_StartPlay(broken.Display(), dir.File(name).c_str(), &handle), TARN_PB_OK) << name;
        TARN_PB_SetStatusCallBack(handle, &Viewer::Status, &broken);
        ASSERT_TRUE(broken.WaitPictures(3)) << name;
        ASSERT_EQ(TARN_PB_PlayCtrl(handle, TARN_PB_CMD_SEEK, recording.start + 8), TARN_PB_OK);
        ASSERT_TRUE(broken.WaitReport(TARN_PB_MSG_FINISHED)) << name;
        for (const Shown& shown : broken.Pictures()) {
            EXPECT_EQ(shown.width, kWidth) << name;
            EXPECT_EQ(shown.height, kHeight) << name;
        }
        TARN_PB_DelPlay(handle);
    }

    // The working file of a recording in progress ends where the writer is; an end
    // reached before the callback was set is reported when it is.
    {
        auto ms = std::make_shared<std::int64_t>(recording.start * 1000);
        record::RecordClock clock;
        clock.nowSeconds = [ms] { return *ms / 1000; };
        clock.tickMs = [ms] { return static_cast<std::uint32_t>(*ms); };
        record::CRecord recorder(clock);
        const std::string folder = dir.File("live");
        ASSERT_TRUE(recorder.Start(folder, "live", 30));
        for (int i = 0; i < 10; ++i, *ms += 40)
            recorder.Write(reinterpret_cast<const std::uint8_t*>(recording.units[i].data()), recording.units[i].size(),
                           IsKeyUnit(recording.units[i]), kWidth, kHeight, 25);
        Viewer live;
        ASSERT_EQ(TARN_PB_StartPlay(live.Display(), (folder + "/tmp.mvd").c_str(), &handle), TARN_PB_OK);
        for (int i = 10; i < 60; ++i, *ms += 40)
            recorder.Write(reinterpret_cast<const std::uint8_t*>(recording.units[i].data()), recording.units[i].size(),
                           IsKeyUnit(recording.units[i]), kWidth, kHeight, 25);
        ASSERT_TRUE(live.WaitPictures(10));
        EXPECT_FALSE(live.WaitPictures(11, 300ms)) << "frames written after the start were played";
        TARN_PB_SetStatusCallBack(handle, &Viewer::Status, &live);
        ASSERT_TRUE(live.WaitReport(TARN_PB_MSG_FINISHED));
        TARN_PB_DelPlay(handle);
        recorder.Stop();
    }
}

namespace {

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Progress {
    std::vector<std::pair<long long, long long>> calls;
    long long cancelAt = -1;
    static int Report(long long done, long long total, void* user) {
        auto* self = static_cast<Progress*>(user);
        self->calls.emplace_back(done, total);
        return self->cancelAt >= 0 && done >= self->cancelAt ? 1 : 0;
    }
};

// Runs the program with `arguments`; its exit code, and its standard error in `err`.
int RunProgram(const std::string& arguments, std::string* err) {
    const std::string errFile = fs::temp_directory_path() / ("larkview-export-err-" + std::to_string(::getpid()));
    const int status = std::system(("env -u DISPLAY -u WAYLAND_DISPLAY '" LARKVIEW_PROGRAM "' " + arguments +
                                    " >/dev/null 2>'" + errFile + "'").c_str());
    *err = testing_support::ReadWholeFile(errFile);
    std::remove(errFile.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(RewindExport, WholeAndRangeAreFaithfulMp4sAndFailuresLeaveNothing) {
    const Recording& recording = TheRecording();
    REQUIRE_RECORDING(recording);
    testing_support::TempDir dir;

    // The whole recording: every frame, decodable, as long as the recording (one
    // frame's time at most apart), each picture FFmpeg's decode of the original.
    Progress progress;
    const std::string whole = dir.File("whole.mp4");
    ASSERT_EQ(TARN_PB_Export(recording.path.c_str(), whole.c_str(), 0, 0, &Progress::Report, &progress), TARN_PB_OK);
    ASSERT_FALSE(progress.calls.empty());
    EXPECT_EQ(progress.calls.back(), (std::pair<long long, long long>(kFrames, kFrames)));
    EXPECT_TRUE(std::is_sorted(progress.calls.begin(), progress.calls.end()));
    Mp4Facts facts = ReadMp4(whole);
    EXPECT_EQ(facts.streams, 1);
    EXPECT_EQ(facts.width, kWidth);
    EXPECT_EQ(facts.height, kHeight);
    EXPECT_EQ(facts.packets, kFrames);
    EXPECT_EQ(facts.decoded, kFrames);
    EXPECT_EQ(facts.decodeErrors, 0);
    EXPECT_NEAR(facts.duration, kFrames * 0.040, 0.040);
    ASSERT_EQ(facts.pictures.size(), std::size_t(kFrames));
    for (int i = 0; i < kFrames; ++i)
        ASSERT_TRUE(facts.pictures[i] == recording.reference.substr(i * kPictureBytes, kPictureBytes)) << "frame " << i;
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"whole.mp4"}) << "nothing but the output is left";

    // A range from 5 s to 8 s starts at the key frame at 4 s and ends with 8 s's last frame.
    const std::string range = dir.File("range.mp4");
    ASSERT_EQ(TARN_PB_Export(recording.path.c_str(), range.c_str(), recording.start + 5, recording.start + 8, nullptr,
                             nullptr),
              TARN_PB_OK);
    facts = ReadMp4(range);
    const int first = 2 * kGop, last = 9 * 25 - 1;
    EXPECT_EQ(facts.packets, last - first + 1);
    EXPECT_EQ(facts.decoded, last - first + 1);
    EXPECT_NEAR(facts.duration, (last - first + 1) * 0.040, 0.040);
    ASSERT_FALSE(facts.pictures.empty());
    EXPECT_TRUE(facts.pictures.front() == recording.reference.substr(first * kPictureBytes, kPictureBytes));

    // Failures: nothing half-written is left, and a file already there stays as it was.
    dir.Write("existing.mp4", "keep me");
    const std::string existing = dir.File("existing.mp4");
    Progress cancel;
    cancel.cancelAt = 50;
    EXPECT_EQ(TARN_PB_Export(recording.path.c_str(), existing.c_str(), 0, 0, &Progress::Report, &cancel),
              TARN_PB_ERR_CANCELLED);
    EXPECT_EQ(TARN_PB_Export(recording.path.c_str(), existing.c_str(), recording.start + 3600, 0, nullptr, nullptr),
              TARN_PB_ERR_RANGE);
    EXPECT_EQ(TARN_PB_Export(recording.path.c_str(), existing.c_str(), recording.start + 8, recording.start + 5,
                             nullptr, nullptr),
              TARN_PB_ERR_RANGE);
    EXPECT_EQ(TARN_PB_Export(dir.File("missing.mvp").c_str(), existing.c_str(), 0, 0, nullptr, nullptr),
              TARN_PB_ERR_OPEN);
    EXPECT_EQ(TARN_PB_Export(recording.path.c_str(), dir.File("no/such/folder/out.mp4").c_str(), 0, 0, nullptr, nullptr),
              TARN_PB_ERR_WRITE);
    {
        // A full disk, as a file-size limit: writes fail part-way.
        signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &small);
        const int result = TARN_PB_Export(recording.path.c_str(), existing.c_str(), 0, 0, nullptr, nullptr);
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(result, TARN_PB_ERR_WRITE);
    }
    EXPECT_EQ(dir.Read("existing.mp4"), "keep me");
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"existing.mp4", "range.mp4", "whole.mp4"}));

    // From the command line, without a display: progress and exit 0; a clear failure and 1.
    std::string err;
    const std::string command = dir.File("command.mp4");
    EXPECT_EQ(RunProgram("--export '" + recording.path + "' '" + command + "'", &err), 0) << err;
    EXPECT_EQ(ReadMp4(command).decoded, kFrames);
    EXPECT_EQ(RunProgram("--export '" + dir.File("missing.mvp") + "' '" + dir.File("x.mp4") + "'", &err), 1);
    EXPECT_NE(err.find("missing.mvp"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir.File("x.mp4")));
    EXPECT_EQ(RunProgram("--export only-one-argument", &err), 2) << err;
}
