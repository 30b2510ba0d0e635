// Decode throughput of vdec next to FFmpeg's own command-line decoder on the same
// files, made on the spot with libx264 (25 frames per second, a few seconds each).
//
// Both decode single-threaded: vdec leaves the codec context at its defaults, whose
// thread count is 1, and ffmpeg is told `-threads 1` (its own default would be
// "auto", one thread per core). Times are user CPU seconds: vdec's decoding thread
// from getrusage(RUSAGE_THREAD), ffmpeg's process from its `-benchmark` line, which
// also covers its start-up, file reading and stream parsing. The best of several
// runs counts for each. vdec's figure includes the copy into the caller's buffer.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "support/annexb.h"
#include "support/h264_streams.h"
#include "support/temp_dir.h"
#include "vdec/vdec.h"

namespace {

struct Size {
    int width;
    int height;
    int seconds;
    const char* bitrate;
};

constexpr Size kSizes[] = {{352, 288, 12, "512k"}, {704, 576, 8, "1500k"}, {1280, 720, 6, "3000k"}, {1920, 1080, 4, "5000k"}};
constexpr int kRuns = 7;

double UserSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
}

struct Timing {
    double user = 1e9;
    double wall = 1e9;
    int pictures = 0;
};

// With `copy` false the capacity is 0: every picture is decoded but none is copied,
// which shows what the copy into the caller's buffer costs.
Timing DecodeWithVdec(const std::vector<std::string>& units, int width, int height, bool copy) {
    Timing best;
    std::string picture(static_cast<std::size_t>(width) * height * 3 / 2, '\0');
    const int capacity = copy ? static_cast<int>(picture.size()) : 0;
    std::vector<std::string> inputs = units;  // DeCoderEx takes non-const data
    for (int run = 0; run < kRuns; ++run) {
        const unsigned long handle = InitDeCode();
        if (handle == 0) {
            std::fprintf(stderr, "InitDeCode failed\n");
            std::exit(1);
        }
        int pictures = 0;
        const auto wallStart = std::chrono::steady_clock::now();
        const double userStart = UserSeconds(RUSAGE_THREAD);
        for (std::string& unit : inputs) {
            int consumed = 0, w = 0, h = 0;
            pictures += DeCoderEx(handle, unit.data(), static_cast<int>(unit.size()), picture.data(), capacity,
                                  consumed, w, h) != 0;
        }
        const double user = UserSeconds(RUSAGE_THREAD) - userStart;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        ReleaseDeCode(handle);
        best.user = std::min(best.user, user);
        best.wall = std::min(best.wall, wall);
        best.pictures = pictures;
    }
    return best;
}

// Runs ffmpeg with -benchmark and reads "bench: utime=..s stime=..s rtime=..s".
Timing DecodeWithFfmpeg(const std::string& file, const std::string& threads) {
    Timing best;
    const std::regex line(R"(bench: utime=([0-9.]+)s stime=([0-9.]+)s rtime=([0-9.]+)s)");
    for (int run = 0; run < kRuns; ++run) {
        const std::string command = "ffmpeg -hide_banner -nostdin -benchmark -threads " + threads + " -i '" + file +
                                    "' -f null - 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) break;
        std::string output;
        char chunk[4096];
        while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
        pclose(pipe);
        std::smatch match;
        if (!std::regex_search(output, match, line)) {
            std::fprintf(stderr, "no benchmark line from ffmpeg:\n%s\n", output.c_str());
            std::exit(1);
        }
        best.user = std::min(best.user, std::stod(match[1]));
        best.wall = std::min(best.wall, std::stod(match[3]));
    }
    return best;
}

}  // namespace

int main() {
    testing_support::TempDir dir;
    std::printf("H.264 decode, frames per second (best of %d runs; x264 veryfast, main profile, no B-frames, "
                "GOP 50)\n\n",
                kRuns);
    std::printf("| size | frames | vdec fps (user) | vdec fps (wall) | vdec without copy fps (user) | "
                "ffmpeg -threads 1 fps (utime) | ffmpeg -threads 1 fps (rtime) | vdec time / ffmpeg time (user) | "
                "ffmpeg default threads fps (rtime) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Size& size : kSizes) {
        testing_support::StreamRecipe recipe;
        recipe.width = size.width;
        recipe.height = size.height;
        recipe.frames = size.seconds * 25;
        recipe.profile = "main";
        recipe.bFrames = 0;
        const std::string file = dir.File(std::to_string(size.width) + "x" + std::to_string(size.height) + ".h264");
        // The bit rate makes the stream look like a camera's rather than x264's default quality.
        recipe.extraOptions = std::string("-g 50 -b:v ") + size.bitrate;
        if (!testing_support::EncodeStream(recipe, file)) {
            std::fprintf(stderr, "could not make %s with ffmpeg/libx264\n", file.c_str());
            return 1;
        }
        const auto units = testing_support::SplitAccessUnits(testing_support::ReadWholeFile(file));
        const Timing ours = DecodeWithVdec(units, size.width, size.height, true);
        const Timing decodeOnly = DecodeWithVdec(units, size.width, size.height, false);
        const Timing theirs = DecodeWithFfmpeg(file, "1");
        const Timing theirsDefault = DecodeWithFfmpeg(file, "auto");
        const double frames = static_cast<double>(units.size());
        char label[32];
        std::snprintf(label, sizeof label, "%dx%d", size.width, size.height);
        std::printf("| %s | %zu | %.1f | %.1f | %.1f | %.1f | %.1f | %.3f | %.1f |\n", label, units.size(),
                    frames / ours.user, frames / ours.wall, frames / decodeOnly.user, frames / theirs.user,
                    frames / theirs.wall, ours.user / theirs.user, frames / theirsDefault.wall);
        std::fflush(stdout);
        if (ours.pictures != static_cast<int>(units.size()))
            std::printf("  (vdec returned %d pictures for %zu access units)\n", ours.pictures, units.size());
    }
    return 0;
}
