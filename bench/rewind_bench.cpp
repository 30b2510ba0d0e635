// Rewind with a local recording at 704 x 576 (25 frames a second, a key frame every two
// seconds, written by the recorder): the CPU of playing it (read, decode, pace; the
// pictures handed to a display that only counts them) per second of video, next to
// `ffmpeg -threads 1` decoding the same frames; the seek latency from the command to
// the first picture at the new time, median and worst of 20 seeks; the export to MP4
// in frames per second.
//
// A plain program printing a table.

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "libs/rewind/rewind.h"
#include "record/frame_record.h"
#include "record/recorder.h"
#include "support/annexb.h"
#include "support/h264_streams.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 704, kHeight = 576, kSeconds = 20, kFrames = kSeconds * 25;

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

double FfmpegSeconds(const std::string& file) {
    const std::regex line(R"(bench: utime=([0-9.]+)s stime=([0-9.]+)s)");
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        FILE* pipe = popen(("ffmpeg -hide_banner -nostdin -benchmark -threads 1 -i '" + file + "' -f null - 2>&1").c_str(), "r");
        if (!pipe) break;
        std::string output;
        char chunk[4096];
        while (std::fgets(chunk, sizeof chunk, pipe)) output += chunk;
        pclose(pipe);
        std::smatch match;
        if (std::regex_search(output, match, line)) best = std::min(best, std::stod(match[1]) + std::stod(match[2]));
    }
    return best;
}

struct Counter {
    std::mutex mutex;
    std::condition_variable changed;
    int pictures = 0;
    long long lastTime = 0;
    bool finished = false;
    TARN_PB_Display display{};

    Counter() {
        display.user = this;
        display.showPicture = [](void* user, const unsigned char*, int, int, long long time) {
            auto* self = static_cast<Counter*>(user);
            std::lock_guard lock(self->mutex);
            ++self->pictures;
            self->lastTime = time;
            self->changed.notify_all();
        };
    }
    static void Status(long, unsigned int message, unsigned long, long, void* user) {
        auto* self = static_cast<Counter*>(user);
        std::lock_guard lock(self->mutex);
        if (message == TARN_PB_MSG_FINISHED) self->finished = true;
        self->changed.notify_all();
    }
};

bool IsKey(const std::string& unit) {
    for (const auto& nal : testing_support::SplitNalUnits(unit))
        if (nal.type == 5) return true;
    return false;
}

}  // namespace

int main() {
    testing_support::TempDir dir;
    testing_support::StreamRecipe recipe;
    recipe.width = kWidth;
    recipe.height = kHeight;
    recipe.frames = kFrames;
    recipe.extraOptions = "-g 50 -keyint_min 50 -sc_threshold 0 -b:v 1500k";
    const std::string stream = dir.File("stream.h264");
    if (!testing_support::EncodeStream(recipe, stream)) {
        std::fprintf(stderr, "could not make the stream with ffmpeg/libx264\n");
        return 1;
    }
    const auto units = testing_support::SplitAccessUnits(testing_support::ReadWholeFile(stream));

    // The recording, written by the recorder with 40 ms of its clock per frame.
    std::tm startTm{};
    startTm.tm_year = 126;
    startTm.tm_mon = 11;
    startTm.tm_mday = 8;
    startTm.tm_hour = 6;
    const std::int64_t start = *record::SecondsOfLocalTime(startTm);
    auto ms = std::make_shared<std::int64_t>(start * 1000);
    record::RecordClock clock;
    clock.nowSeconds = [ms] { return *ms / 1000; };
    clock.tickMs = [ms] { return static_cast<std::uint32_t>(*ms); };
    std::string path;
    {
        record::CRecord recorder(clock);
        recorder.Start(dir.File("records"), "bench", 30);
        for (const auto& unit : units) {
            recorder.Write(reinterpret_cast<const std::uint8_t*>(unit.data()), unit.size(), IsKey(unit), kWidth, kHeight, 25);
            *ms += 40;
        }
        recorder.Stop();
        for (const auto& entry : std::filesystem::directory_iterator(dir.File("records")))
            if (entry.path().extension() == ".mvp") path = entry.path().string();
    }
    if (path.empty()) {
        std::fprintf(stderr, "the recorder left no recording\n");
        return 1;
    }

    // Playing the whole recording at its pace.
    double playCpu = 0;
    int shown = 0;
    {
        Counter counter;
        long handle = 0;
        const double cpuBefore = ProcessCpuSeconds();
        if (TARN_PB_StartPlay(&counter.display, path.c_str(), &handle) != TARN_PB_OK) return 1;
        TARN_PB_SetStatusCallBack(handle, &Counter::Status, &counter);
        std::unique_lock lock(counter.mutex);
        counter.changed.wait_for(lock, std::chrono::seconds(kSeconds * 3), [&] { return counter.finished; });
        shown = counter.pictures;
        lock.unlock();
        playCpu = ProcessCpuSeconds() - cpuBefore;
        TARN_PB_DelPlay(handle);
    }
    const double ffmpeg = FfmpegSeconds(stream);

    // Seeks to random seconds: from the command to the first picture of the key frame
    // at or before the target.
    std::vector<double> seekMs;
    {
        Counter counter;
        long handle = 0;
        if (TARN_PB_StartPlay(&counter.display, path.c_str(), &handle) != TARN_PB_OK) return 1;
        std::mt19937 random(22);
        for (int i = 0; i < 20; ++i) {
            const std::int64_t target = start + 1 + static_cast<std::int64_t>(random() % (kSeconds - 2));
            const long long landing = start + (target - start) / 2 * 2;  // key frames every two seconds
            std::unique_lock lock(counter.mutex);
            const int before = counter.pictures;
            lock.unlock();
            const auto asked = Clock::now();
            TARN_PB_PlayCtrl(handle, TARN_PB_CMD_SEEK, target);
            lock.lock();
            // The first picture at the landing second (a picture in flight from before
            // the seek does not count).
            counter.changed.wait_for(lock, std::chrono::seconds(10), [&] {
                return counter.pictures > before && counter.lastTime == landing;
            });
            seekMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
        }
        TARN_PB_DelPlay(handle);
    }
    std::sort(seekMs.begin(), seekMs.end());

    // Export.
    const auto exportStart = Clock::now();
    const int exported = TARN_PB_Export(path.c_str(), dir.File("out.mp4").c_str(), 0, 0, nullptr, nullptr);
    const double exportSeconds = std::chrono::duration<double>(Clock::now() - exportStart).count();

    std::printf("| recording | Rewind CPU s per s of video | pictures shown | ffmpeg -threads 1 CPU s per s | Rewind / ffmpeg "
                "| seek median ms | seek worst ms | export frames per s |\n"
                "|---|---:|---:|---:|---:|---:|---:|---:|\n");
    std::printf("| %dx%d, %d s, %.1f MB | %.4f | %d of %d | %.4f | %.2f | %.1f | %.1f | %s |\n", kWidth, kHeight, kSeconds,
                std::filesystem::file_size(path) / 1e6, playCpu / kSeconds, shown, kFrames, ffmpeg / kSeconds,
                playCpu / ffmpeg, (seekMs[9] + seekMs[10]) / 2, seekMs.back(),
                exported == TARN_PB_OK ? std::to_string(static_cast<int>(kFrames / exportSeconds)).c_str() : "failed");
    return 0;
}
