#pragma once
// What the benchmarks that measure the client against FFmpeg share: child processes,
// CPU and resident memory of this process, a capture of the simulated service's own
// stream of one camera, and single-thread ffmpeg decoding it with its start-up taken out.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "control/control_client.h"
#include "transport/video_link.h"

extern char** environ;

namespace bench_support {

inline double ProcessCpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double ResidentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024 * 1024);
}

// A child process, ended (SIGTERM) and reaped when it goes out of scope.
struct Child {
    pid_t pid = 0;
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Stop(); }
    void Stop() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
            pid = 0;
        }
    }
};

// Starts `args` with its output discarded and `extraEnv` ("NAME=value") added to ours;
// with `wait`, waits for it and tells whether it exited with 0.
inline bool Spawn(std::vector<std::string> args, Child& child, bool wait, std::vector<std::string> extraEnv = {}) {
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    for (auto& extra : extraEnv) envp.push_back(extra.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const bool started = posix_spawnp(&child.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started) {
        child.pid = 0;
        return false;
    }
    if (wait) {
        int status = 0;
        waitpid(child.pid, &status, 0);
        child.pid = 0;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return true;
}

// The service's own stream of one camera, as the client receives it: `frames` access
// units written one after the other (Annex B), for ffmpeg to decode.
inline bool CaptureServiceStream(control::ControlClient& client, const std::string& cameraId,
                                 const std::filesystem::path& file, int frames) {
    using Clock = std::chrono::steady_clock;
    const control::TransportAddress address = client.RequestForwardingAddress(cameraId);
    if (address.status != 1) return false;
    transport::PacketQueue video, audio;
    transport::VideoLink link(video, audio, nullptr);
    if (link.Open(cameraId, address.forwardingIp, std::atoi(address.forwardingPort.c_str()), "") != 1) return false;
    std::ofstream out(file, std::ios::binary);
    int written = 0;
    bool started = false;
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (written < frames && Clock::now() < deadline) {
        auto packet = video.Pop();
        if (!packet) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        started = started || packet->IsKeyFrame();
        if (started) {
            out.write(reinterpret_cast<const char*>(packet->Payload()), static_cast<std::streamsize>(packet->PayloadLength()));
            ++written;
        }
        video.Release(std::move(packet));
    }
    link.Close();
    return written == frames;
}

// CPU seconds of `ffmpeg -threads 1` decoding the first `frames` pictures of the file.
inline double FfmpegDecodeFileSeconds(const std::filesystem::path& file, int frames) {
    const double before = ProcessCpuSeconds(RUSAGE_CHILDREN);
    Child decoder;
    if (!Spawn({"ffmpeg", "-threads", "1", "-f", "h264", "-i", file.string(), "-frames:v", std::to_string(frames), "-f",
                "null", "-"},
               decoder, true))
        return 0;
    return ProcessCpuSeconds(RUSAGE_CHILDREN) - before;
}

struct DecodeReference {
    double wholeProcess = 0;  // per frame, ffmpeg's start-up included
    double decodingOnly = 0;  // per frame, from the difference between two lengths
};

// Best of three runs each of the whole file and of its first half: the difference is
// what the decoding of a frame costs without ffmpeg's start-up (loading libraries,
// probing), which a short clip would otherwise spread over its frames.
inline DecodeReference FfmpegDecodeReference(const std::filesystem::path& file, int frames) {
    double whole = 1e9, half = 1e9;
    for (int run = 0; run < 3; ++run) {
        const double w = FfmpegDecodeFileSeconds(file, frames);
        const double h = FfmpegDecodeFileSeconds(file, frames / 2);
        if (w > 0) whole = std::min(whole, w);
        if (h > 0) half = std::min(half, h);
    }
    DecodeReference reference;
    if (whole >= 1e9 || half >= 1e9) return reference;
    reference.wholeProcess = whole / frames;
    reference.decodingOnly = std::max(0.0, whole - half) / (frames - frames / 2);
    return reference;
}

}  // namespace bench_support
