// The video wall showing live cameras: 1, 4, 16 and 64 cells, each camera D1 at 25
// frames a second from the simulated service in its own process (its encoding and
// sending are not counted). This process is the client: the control connection,
// every camera's link, queue, decoder, display stage and play thread, and the wall
// painting on a headless screen. Beside it, single-thread FFmpeg decoding an
// equivalent stream gives the decode cost per frame, and so the CPU the same number
// of frames would take to decode alone.
#include <QApplication>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "control/control_client.h"
#include "bench/sim_process.h"
#include "bench/wall_setup.h"
#include "bench/stream_reference.h"
#include "media/camera_registry.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/window_handles.h"
#include "transport/video_link.h"
#include "ui/toolkit/ui_executor.h"
#include "wall/video_panel_mng.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFrameRate = 25;
constexpr int kWidth = 704, kHeight = 576;
constexpr auto kMeasured = std::chrono::seconds(10);
// A picture that follows the one before by more than two frame times is late.
constexpr auto kLateGap = std::chrono::milliseconds(2 * 1000 / kFrameRate);

using bench_support::Child;
using bench_support::ProcessCpuSeconds;
using bench_support::ResidentMegabytes;
using bench_support::Spawn;

using bench_support::Pump;

// Single-thread FFmpeg decoding an equivalent of the service's stream (libx264
// baseline, ultrafast, zero latency, QP 28, a key frame every second): CPU per frame.
double FfmpegDecodeSecondsPerFrame(const std::filesystem::path& dir) {
    const std::string clip = (dir / "d1.h264").string();
    const int frames = 20 * kFrameRate;
    Child encoder;
    if (!Spawn({"ffmpeg", "-y", "-f", "lavfi", "-i",
                "testsrc2=size=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) + ":rate=" +
                    std::to_string(kFrameRate),
                "-frames:v", std::to_string(frames), "-c:v", "libx264", "-profile:v", "baseline", "-preset",
                "ultrafast", "-tune", "zerolatency", "-qp", "28", "-g", std::to_string(kFrameRate), "-threads", "1",
                clip},
               encoder, true))
        return 0;
    const double before = ProcessCpuSeconds(RUSAGE_CHILDREN);
    Child decoder;
    if (!Spawn({"ffmpeg", "-threads", "1", "-i", clip, "-f", "null", "-"}, decoder, true)) return 0;
    return (ProcessCpuSeconds(RUSAGE_CHILDREN) - before) / frames;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    std::random_device random;
    const auto dir = std::filesystem::temp_directory_path() / ("larkview-wall-bench-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    platform::SetProgramDirectory(dir.string());
    const std::string state = (dir / "state.ini").string();

    const double decodePerFrame = FfmpegDecodeSecondsPerFrame(dir);
    if (decodePerFrame <= 0) std::fprintf(stderr, "ffmpeg could not encode or decode the reference clip\n");

    Child sim;
    if (!Spawn({LARKVIEW_SIM_PROGRAM, "--db=" + (dir / "sim.db").string(), "--state=" + state, "--cameras=120",
                "--camera-video=704x576@25", "--clip-seconds=2"},
               sim, false)) {
        std::fprintf(stderr, "cannot start the simulated service\n");
        return 1;
    }
    const int masterPort = bench_support::WaitForMasterPort(state);
    if (masterPort <= 0) {
        std::fprintf(stderr, "the simulated service did not start\n");
        return 1;
    }
    core::AppConfig config = bench_support::DemoAccountConfig(masterPort);
    control::ControlClient client(control::ControlClient::Timing{}, config);
    if (client.Connect() != 0 || client.Login() != 1) {
        std::fprintf(stderr, "login failed\n");
        return 1;
    }

    // The reference that counts: ffmpeg decoding what the service really sends (a
    // looped clip of the camera's own pictures).
    const int captureFrames = 12 * kFrameRate;
    const auto captured = dir / "service.h264";
    bench_support::DecodeReference own;
    bool capturedOne = false;
    for (int camera = 0; camera < 10 && !capturedOne; ++camera)
        capturedOne = bench_support::CaptureServiceStream(client, std::to_string(31000001 + camera), captured, captureFrames);
    if (capturedOne) own = bench_support::FfmpegDecodeReference(captured, captureFrames);
    const double servicePerFrame = own.decodingOnly;
    if (servicePerFrame <= 0) std::fprintf(stderr, "could not capture and decode the service's stream\n");

    bench_support::CamerasAskThrough(client);
    const bench_support::BenchWall wall = bench_support::ShownBenchWall(QSize(kWidth, kHeight));
    wall::CVideoPanelMng& panel = *wall.panel;

    std::printf("D1 (%dx%d) at %d frames a second per camera; %lld s measured per row; wall %dx%d, headless\n",
                kWidth, kHeight, kFrameRate, static_cast<long long>(kMeasured.count()), panel.width(),
                panel.height());
    std::printf("ffmpeg -threads 1 decode of an equivalent stream: %.3f ms CPU per frame\n", decodePerFrame * 1e3);
    std::printf("ffmpeg -threads 1 decode of the service's own stream: %.3f ms CPU per frame decoding only "
                "(%.3f ms with ffmpeg's start-up over %d frames)\n\n",
                servicePerFrame * 1e3, own.wholeProcess * 1e3, captureFrames);
    std::printf("%5s %9s %9s %7s %9s %7s %8s %8s %6s %8s %7s %7s %7s\n", "cells", "client%", "decode%", "ratio",
                "ownDec%", "ratio", "fps/cell", "min fps", "late", "unshown", "RSS MB", "MB/cam", "queued");

    // The rows to run: all by default, or the cell counts given (bench_wall 16).
    std::vector<int> rows{1, 4, 16, 64};
    if (argc > 1) {
        rows.clear();
        for (int i = 1; i < argc; ++i)
            if (const int cells = std::atoi(argv[i]); cells >= 1 && cells <= 64) rows.push_back(cells);
    }
    for (const int cells : rows) {
        panel.SetLayout(cells);
        Pump(50);
        const double rss0 = ResidentMegabytes();
        int opened = 0;
        for (int camera = 0; camera < 120 && opened < cells; ++camera) {
            const std::string id = std::to_string(31000001 + camera);
            const control::TransportAddress address = client.RequestForwardingAddress(id);
            if (address.status != 1) continue;  // offline or expired
            auto shown = media::CameraRegistry::Instance().GetOrCreate(opened);
            if (shown->Open(id, address.forwardingIp, std::atoi(address.forwardingPort.c_str()),
                            panel.CellWindow(opened), "") != 1) {
                media::CameraRegistry::Instance().Remove(opened);
                continue;  // outside its viewing plan
            }
            ++opened;
        }
        // Warm-up: the service encodes each camera's clip when first asked for it.
        const auto warmStart = Clock::now();
        auto allShowing = [&] {
            for (int cell = 0; cell < opened; ++cell)
                if (panel.Cell(cell)->Presents() < 2 * kFrameRate) return false;
            return true;
        };
        while (!allShowing() && Clock::now() - warmStart < std::chrono::seconds(180)) Pump(100);
        // Then the play threads build their reserve: shown slower than sent until about
        // 50 packets are queued (some seconds). Measure the steady state after it.
        const auto reserveStart = Clock::now();
        auto reserveBuilt = [&] {
            for (int cell = 0; cell < opened; ++cell)
                if (media::CameraRegistry::Instance().GetOrCreate(cell)->VideoQueue().Size() < 45) return false;
            return true;
        };
        while (!reserveBuilt() && Clock::now() - reserveStart < std::chrono::seconds(20)) Pump(100);
        Pump(1000);

        std::vector<int> presents0(opened), last(opened);
        std::vector<Clock::time_point> lastChange(opened, Clock::now());
        for (int cell = 0; cell < opened; ++cell) last[cell] = presents0[cell] = panel.Cell(cell)->Presents();
        int late = 0;
        const double cpu0 = ProcessCpuSeconds();
        const auto start = Clock::now();
        while (Clock::now() - start < kMeasured) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            const auto now = Clock::now();
            for (int cell = 0; cell < opened; ++cell) {
                const int presents = panel.Cell(cell)->Presents();
                if (presents != last[cell]) {
                    if (now - lastChange[cell] > kLateGap) ++late;
                    last[cell] = presents;
                    lastChange[cell] = now;
                }
            }
            QThread::msleep(2);
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = ProcessCpuSeconds() - cpu0;
        const double rss = ResidentMegabytes();
        double queued = 0;
        for (int cell = 0; cell < opened; ++cell)
            if (auto camera = media::CameraRegistry::Instance().GetOrCreate(cell))
                queued += static_cast<double>(camera->VideoQueue().Size());
        double shown = 0, minFps = 1e9;
        for (int cell = 0; cell < opened; ++cell) {
            const double fps = (panel.Cell(cell)->Presents() - presents0[cell]) / seconds;
            shown += fps * seconds;
            minFps = std::min(minFps, fps);
        }
        const double expected = static_cast<double>(opened) * kFrameRate * seconds;
        const double decodeCpu = expected * decodePerFrame;
        const double ownDecodeCpu = expected * servicePerFrame;
        std::printf("%5d %8.1f%% %8.1f%% %7.2f %8.1f%% %7.2f %8.1f %8.1f %6d %8.0f %7.1f %7.2f %7.1f\n", opened,
                    100 * cpu / seconds, 100 * decodeCpu / seconds, decodeCpu > 0 ? cpu / decodeCpu : 0.0,
                    100 * ownDecodeCpu / seconds, ownDecodeCpu > 0 ? cpu / ownDecodeCpu : 0.0,
                    shown / opened / seconds, minFps, late, std::max(0.0, expected - shown), rss,
                    (rss - rss0) / std::max(opened, 1), queued / std::max(opened, 1));
        std::fflush(stdout);
        media::CameraRegistry::DestroyAll();
        Pump(200);
    }
    std::printf("\nclient%%: this process (all threads) in %% of one core; decode%%: ffmpeg's single-thread CPU for\n"
                "the same number of frames of the equivalent stream (start-up included), ownDec%%: decoding the service's\n"
                "own stream (start-up excluded); late: pictures more than two frame times after the one before;\n"
                "unshown: frames sent (25/s per camera) that were never presented; queued: video packets waiting\n"
                "per camera at the end.\n");
    platform::DestroyWindowHandle(wall.mainWindow);
    std::filesystem::remove_all(dir);
    return 0;
}
