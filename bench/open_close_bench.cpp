// Opening and closing many cameras again and again, as "全部打开" and "全部关闭" do:
// the simulated service in its own process, every camera 704 x 576 at 25 frames a
// second, shown in a headless (or, with QT_QPA_PLATFORM=xcb under xvfb-run, an X11)
// wall through the camera registry, the way the open and close tasks reach it. After
// every close it prints the resident memory and what the C library's heap holds:
// bytes in use (live allocations) and bytes free but kept (not returned to the system).
//
//   bench_open_close [cameras=36] [cycles=4] [seconds open=6]
#include <malloc.h>

#include <QApplication>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "bench/sim_process.h"
#include "bench/wall_setup.h"
#include "bench/stream_reference.h"
#include "control/control_client.h"
#include "media/camera_registry.h"
#include "media/memory_return.h"
#include "platform/paths.h"
#include "platform/window_handles.h"
#include "ui/toolkit/ui_executor.h"
#include "wall/video_panel_mng.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench_support::Child;
using bench_support::ResidentMegabytes;
using bench_support::Spawn;

using bench_support::Pump;

void Report(const char* when, int cycle) {
    const struct mallinfo2 heap = mallinfo2();
    std::printf("%-12s %5d %8.1f %10.1f %10.1f %9.1f\n", when, cycle, ResidentMegabytes(),
                static_cast<double>(heap.uordblks) / 1048576, static_cast<double>(heap.fordblks) / 1048576,
                static_cast<double>(heap.hblkhd) / 1048576);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    media::MapLargeStreamBuffers();  // as the program does at start-up
    const int cameras = argc > 1 ? std::atoi(argv[1]) : 36;
    const int cycles = argc > 2 ? std::atoi(argv[2]) : 4;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 6;

    std::random_device random;
    const auto dir = std::filesystem::temp_directory_path() / ("larkview-open-close-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    platform::SetProgramDirectory(dir.string());
    const std::string state = (dir / "state.ini").string();
    Child sim;
    if (!Spawn({LARKVIEW_SIM_PROGRAM, "--db=" + (dir / "sim.db").string(), "--state=" + state, "--cameras=120",
                "--camera-video=704x576@25", "--clip-seconds=2"},
               sim, false)) {
        std::fprintf(stderr, "cannot start the simulated service\n");
        return 1;
    }
    const int masterPort = bench_support::WaitForMasterPort(state);
    if (masterPort <= 0) return 1;
    core::AppConfig config = bench_support::DemoAccountConfig(masterPort);
    control::ControlClient client(control::ControlClient::Timing{}, config);
    if (client.Connect() != 0 || client.Login() != 1) {
        std::fprintf(stderr, "login failed\n");
        return 1;
    }
    bench_support::CamerasAskThrough(client);
    const bench_support::BenchWall wall = bench_support::ShownBenchWall(QSize(704, 576));
    wall::CVideoPanelMng& panel = *wall.panel;
    panel.SetLayout(cameras <= 36 ? 36 : 64);
    Pump(300);

    std::printf("%d cameras D1, %d cycles of %d s open; platform %s\n", cameras, cycles, seconds,
                qPrintable(QGuiApplication::platformName()));
    std::printf("%-12s %5s %8s %10s %10s %9s\n", "", "cycle", "RSS MB", "heap used", "heap free", "mmapped");
    Report("start", 0);
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        int opened = 0;
        for (int camera = 0; camera < 120 && opened < cameras; ++camera) {
            const std::string id = std::to_string(31000001 + camera);
            const control::TransportAddress address = client.RequestForwardingAddress(id);
            if (address.status != 1) continue;
            auto shown = media::CameraRegistry::Instance().GetOrCreate(opened);
            if (shown->Open(id, address.forwardingIp, std::atoi(address.forwardingPort.c_str()),
                            panel.CellWindow(opened), "") != 1)
                continue;
            ++opened;
        }
        const auto start = Clock::now();
        auto allShowing = [&] {
            for (int cell = 0; cell < opened; ++cell)
                if (panel.Cell(cell)->CameraPresents() < 10) return false;
            return true;
        };
        while (!allShowing() && Clock::now() - start < std::chrono::seconds(120)) Pump(100);
        Pump(seconds * 1000);
        Report("open", cycle);
        // "全部关闭": each cell's camera closes and stays in the registry for its cell.
        const std::uint64_t returns = media::FreedMemoryReturn::Instance().Returns();
        for (int cell = 0; cell < opened; ++cell) media::CameraRegistry::Instance().GetOrCreate(cell)->Close();
        // The memory goes back once the closes are over.
        const auto closed = Clock::now();
        while (media::FreedMemoryReturn::Instance().Returns() == returns && Clock::now() - closed < std::chrono::seconds(2))
            Pump(20);
        Pump(500);
        Report("closed", cycle);
    }
    media::CameraRegistry::DestroyAll();
    platform::DestroyWindowHandle(wall.mainWindow);
    std::filesystem::remove_all(dir);
    return 0;
}
