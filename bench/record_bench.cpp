// Cost of local recording: 16 cameras at 704 x 576, 25 frames a second, written by
// their recorders as the play threads would hand them over, once with the working
// file opened and closed for every frame and once with it kept open. Both write each
// frame record in one system call, so a killed process loses at most the record being
// written either way. Prints the CPU of the writing threads per second of video, as a
// share of one core and of the client's CPU for 16 live cells, and the bytes written.
//
//   bench_record [folder] [seconds of video]   (folder default: ./record-bench)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "record/recorder.h"
#include "sim/video_clip.h"

namespace {

constexpr int kCameras = 16;
constexpr int kFrameRate = 25;
// The client's CPU with 16 live 704 x 576 cells, from bench_wall (docs/media.md).
constexpr double kClientCoreShare16 = 0.369;

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

struct Result {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    std::uintmax_t bytes = 0;
    int files = 0;
};

// Every camera's recorder on a thread of its own, fed the clip's frames back to back.
Result Run(const sim::VideoClip& clip, const std::string& root, record::WriteMode mode, int seconds) {
    std::filesystem::remove_all(root);
    std::vector<double> cpu(kCameras);
    const auto begin = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < kCameras; ++c) {
        threads.emplace_back([&, c] {
            // Recording time moves with the frames: 40 ms per frame.
            auto frameMs = std::make_shared<std::int64_t>(0);
            record::RecordClock clock;
            clock.nowSeconds = [frameMs] { return 1796700000 + *frameMs / 1000; };
            clock.tickMs = [frameMs] { return static_cast<std::uint32_t>(*frameMs); };
            record::CRecord recorder(clock, mode);
            const double start = ThreadCpuSeconds();
            recorder.Start(record::RecordingFolder(root, std::to_string(31000001 + c)), "cam", 30);
            for (int f = 0; f < seconds * kFrameRate; ++f) {
                const auto& frame = clip.frames[static_cast<std::size_t>(f) % clip.frames.size()];
                recorder.Write(frame.data.data(), frame.data.size(), frame.key, 704, 576, kFrameRate);
                *frameMs += 1000 / kFrameRate;
            }
            recorder.Stop();
            cpu[c] = ThreadCpuSeconds() - start;
        });
    }
    for (auto& t : threads) t.join();
    Result result;
    result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    for (double c : cpu) result.cpuSeconds += c;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file()) {
            result.bytes += entry.file_size();
            ++result.files;
        }
    std::filesystem::remove_all(root);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string root = argc > 1 ? argv[1] : "record-bench";
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    sim::ClipLook look;
    look.cameraId = "31000001";
    look.name = "bench";
    look.settings = sim::EncoderSettings{704, 576, kFrameRate, 28};
    std::string error;
    auto clip = sim::EncodeClip(look, 2, 0, &error);
    if (!clip || clip->frames.empty()) {
        std::fprintf(stderr, "no clip: %s\n", error.c_str());
        return 1;
    }
    const double clipRate = static_cast<double>(clip->bytes) * 8 / 2 / 1e6;
    // The simulated scene is nearly still and codes small; a camera looking at a street
    // sends about 2 Mbit/s at this size, so the same frames padded to that rate as well.
    sim::VideoClip padded = *clip;
    const double scale = 2.0 / clipRate;
    for (auto& frame : padded.frames) frame.data.resize(static_cast<std::size_t>(frame.data.size() * scale), 0xFF);
    for (const auto& [stream, rate] : {std::pair{&*clip, clipRate}, std::pair{static_cast<const sim::VideoClip*>(&padded), 2.0}}) {
    std::printf("\n16 cameras, 704x576 at 25 fps, %d s of video each, %.2f Mbit/s per camera\n", seconds, rate);
    std::printf("%-16s %12s %14s %16s %14s %10s %7s\n", "mode", "CPU s", "us per frame", "% of one core", "% of client",
                "MB/s", "files");
    for (auto [mode, name] : {std::pair{record::WriteMode::kOpenPerFrame, "open per frame"},
                              std::pair{record::WriteMode::kKeepOpen, "kept open"}}) {
        // Best of three: the shared machine's load moves single runs.
        Result best;
        for (int run = 0; run < 3; ++run) {
            const Result r = Run(*stream, root, mode, seconds);
            if (run == 0 || r.cpuSeconds < best.cpuSeconds) best = r;
        }
        const double frames = static_cast<double>(kCameras) * seconds * kFrameRate;
        const double coreShare = best.cpuSeconds / seconds;  // CPU per second of video
        std::printf("%-16s %12.3f %14.2f %15.3f%% %13.2f%% %10.2f %7d\n", name, best.cpuSeconds,
                    best.cpuSeconds / frames * 1e6, coreShare * 100, coreShare / kClientCoreShare16 * 100,
                    static_cast<double>(best.bytes) / seconds / 1e6, best.files);
    }
    }
    return 0;
}
