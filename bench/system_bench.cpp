// The whole client as the program runs it: the outer loop of the real program
// (app::ApplicationProgramHooks: login window, login sequence, main window, task
// threads), logged into the simulated service running in its own process, one service
// per picture size (all cameras of it the same size, 25 frames a second). For 1, 4, 16
// and 64 cells the main window's own open command opens the first online cameras of
// the demo account's tree; once every play thread has built its reserve the client is
// measured: CPU of this process (all threads), pictures shown per cell, late pictures,
// open-to-first-picture latency and resident memory. Beside it, per size: single-thread
// ffmpeg decoding the service's own stream (the floor) and ffplay showing one stream
// (a peer). Between sizes the program switches user through its exit dialog and logs
// into the next service, as a user would.
//
//   bench_system [--sizes=352x288,704x576,1920x1080] [--cells=1,4,16,64] [--seconds=8]
#include <malloc.h>

#include <QApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/app_config.h"
#include "core/log_file.h"
#include "bench/sim_process.h"
#include "bench/stream_reference.h"
#include "control/control_client.h"
#include "mainwin/main_win.h"
#include "app/program_wiring.h"
#include "media/camera.h"
#include "media/camera_registry.h"
#include "platform/paths.h"
#include "transport/video_link.h"
#include "ui/camera_trees.h"
#include "ui/toolkit/paint_manager.h"
#include "ui/toolkit/window.h"
#include "wall/video_panel_mng.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench_support::Child;
using bench_support::ProcessCpuSeconds;
using bench_support::ResidentMegabytes;
using bench_support::Spawn;

constexpr int kFrameRate = 25;
constexpr int kSimCameras = 96;  // about 70 of them online, in service and watchable
// A picture that follows the one before by more than two frame times is late.
constexpr auto kLateGap = std::chrono::milliseconds(2 * 1000 / kFrameRate);
constexpr int kCaptureFrames = 8 * kFrameRate;

struct PictureSize {
    int width = 0, height = 0;
    std::string Name() const { return std::to_string(width) + "x" + std::to_string(height); }
};

struct Options {
    std::vector<PictureSize> sizes{{352, 288}, {704, 576}, {1920, 1080}};
    std::vector<int> cells{1, 4, 16, 64};
    int seconds = 8;
};

// The floor and the peer of one picture size.
struct Reference {
    double decodePerFrame = 0;  // ffmpeg -threads 1, decoding only, CPU s per frame
    double decodeWhole = 0;     // the same with ffmpeg's start-up spread over the frames
    double ffplayPercent = -1;  // ffplay showing one stream, % of one core; < 0: failed
};

// One row of the table.
struct Row {
    int cells = 0, opened = 0, showing = 0;
    double seconds = 0, cpuPercent = 0, fpsMean = 0, fpsMin = 0, unshown = 0;
    int late = 0;
    double firstMedian = 0, firstWorst = 0;
    double rss = 0, rssPerCamera = 0, queued = 0;
};

void Pump(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::msleep(1);
    }
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::msleep(1);
    }
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);)
        if (!part.empty()) parts.push_back(part);
    return parts;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--sizes=", 0) == 0) {
            options.sizes.clear();
            for (const auto& size : Split(arg.substr(8), ',')) {
                PictureSize parsed;
                if (std::sscanf(size.c_str(), "%dx%d", &parsed.width, &parsed.height) == 2) options.sizes.push_back(parsed);
            }
        } else if (arg.rfind("--cells=", 0) == 0) {
            options.cells.clear();
            for (const auto& cells : Split(arg.substr(8), ','))
                if (const int n = std::atoi(cells.c_str()); n >= 1 && n <= 64) options.cells.push_back(n);
        } else if (arg.rfind("--seconds=", 0) == 0) {
            options.seconds = std::max(2, std::atoi(arg.c_str() + 10));
        }
    }
    return options;
}

// CPU seconds (user + system) of another process so far, from /proc.
double OtherProcessCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double user = 0, system = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) user = std::atof(field.c_str());
        if (index == 15) system = std::atof(field.c_str());
    }
    return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// ffplay showing the captured stream at its own rate (looped) in a window of the
// picture's size on SDL's off-screen video driver: % of one core over `seconds`,
// after two seconds of start-up. The raw stream is put into Matroska first (no
// re-encoding) because ffplay loops by seeking, which a raw H.264 file cannot do.
double FfplayCpuPercent(const std::filesystem::path& file, int seconds) {
    const std::string boxed = file.string() + ".mkv";
    Child remux;
    if (!Spawn({"ffmpeg", "-y", "-f", "h264", "-framerate", std::to_string(kFrameRate), "-i", file.string(), "-c", "copy",
                boxed},
               remux, true))
        return -1;
    Child player;
    if (!Spawn({"ffplay", "-loglevel", "error", "-an", "-loop", "0", "-i", boxed}, player, false,
               {"SDL_VIDEODRIVER=offscreen", "SDL_AUDIODRIVER=dummy"}))
        return -1;
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double before = OtherProcessCpuSeconds(player.pid);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double after = OtherProcessCpuSeconds(player.pid);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    int status = 0;
    if (before < 0 || after < 0 || waitpid(player.pid, &status, WNOHANG) != 0) return -1;  // it ended early
    return 100 * (after - before) / elapsed;
}

// Asks the service for every online camera's stream once, so that each camera's clip
// is encoded before the client opens it (the service encodes a clip on first demand,
// which is the simulator's cost, not the client's first-picture latency).
int WarmClips(control::ControlClient& client) {
    struct Link {
        transport::PacketQueue video, audio;
        std::unique_ptr<transport::VideoLink> link;
    };
    std::vector<std::unique_ptr<Link>> links;
    for (int k = 0; k < kSimCameras; ++k) {
        const std::string id = std::to_string(31000001 + k);
        const control::TransportAddress address = client.RequestForwardingAddress(id);
        if (address.status != 1) continue;
        auto link = std::make_unique<Link>();
        link->link = std::make_unique<transport::VideoLink>(link->video, link->audio, nullptr);
        if (link->link->Open(id, address.forwardingIp, std::atoi(address.forwardingPort.c_str()), "") != 1) continue;
        links.push_back(std::move(link));
    }
    const auto deadline = Clock::now() + std::chrono::seconds(150);
    auto streaming = [&] {
        return std::count_if(links.begin(), links.end(), [](const auto& link) { return link->video.Size() > 0; });
    };
    while (streaming() < static_cast<long>(links.size()) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int warmed = static_cast<int>(streaming());
    for (auto& link : links) link->link->Close();
    return warmed;
}

std::string StateFile(const std::filesystem::path& dir, const PictureSize& size) {
    return (dir / ("sim-" + size.Name() + ".ini")).string();
}

// Starts the service of one picture size, warms its clips, measures the floor and the
// peer, and points the program's configuration at it.
bool PrepareSize(const std::filesystem::path& dir, const PictureSize& size, Child& sim, Reference& reference) {
    const std::string state = StateFile(dir, size);
    if (!Spawn({LARKVIEW_SIM_PROGRAM, "--db=" + (dir / ("sim-" + size.Name() + ".db")).string(), "--state=" + state,
                "--cameras=" + std::to_string(kSimCameras), "--camera-video=" + size.Name() + "@25",
                "--clip-seconds=2", "--clip-cache-mb=1024"},
               sim, false)) {
        std::fprintf(stderr, "cannot start the simulated service\n");
        return false;
    }
    const int port = bench_support::WaitForMasterPort(state);
    if (port <= 0) {
        std::fprintf(stderr, "the simulated service did not start\n");
        return false;
    }
    {
        core::AppConfig config = bench_support::DemoAccountConfig(port);
        control::ControlClient client(control::ControlClient::Timing{}, config);
        if (client.Connect() != 0 || client.Login() != 1) {
            std::fprintf(stderr, "login to the %s service failed\n", size.Name().c_str());
            return false;
        }
        const auto warmStart = Clock::now();
        const int warmed = WarmClips(client);
        std::printf("  service: %d cameras streaming, clips encoded in %.1f s (not counted)\n", warmed,
                    std::chrono::duration<double>(Clock::now() - warmStart).count());
        const auto captured = dir / ("service-" + size.Name() + ".h264");
        bool capturedOne = false;
        for (int k = 0; k < 10 && !capturedOne; ++k)
            capturedOne = bench_support::CaptureServiceStream(client, std::to_string(31000001 + k), captured, kCaptureFrames);
        if (capturedOne) {
            const bench_support::DecodeReference own = bench_support::FfmpegDecodeReference(captured, kCaptureFrames);
            reference.decodePerFrame = own.decodingOnly;
            reference.decodeWhole = own.wholeProcess;
            reference.ffplayPercent = FfplayCpuPercent(captured, 6);
        } else {
            std::fprintf(stderr, "could not capture the service's stream\n");
        }
    }
    std::ofstream(dir / "appConfig.ini") << "[ServerInfo]\nServerIp=127.0.0.1\nServerProt=" << port
                                         << "\nServerPath=/master\n";
    return true;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// One row: opens `cells` cameras through the main window, waits for the steady state,
// measures, closes them again.
Row MeasureRow(mainwin::CMainWin& window, const std::vector<control::ItemPtr>& candidates, int cells, int seconds) {
    wall::CVideoPanelMng* wall = window.LiveWall();
    Row row;
    row.cells = cells;
    wall->SetLayout(cells);
    Pump(300);
    // The rows before freed their cameras' memory into the heap, where the next row
    // would reuse it unseen: give it back to the system first.
    malloc_trim(0);
    const double rss0 = ResidentMegabytes();

    struct Open {
        control::ItemPtr item;
        int cell = -1;
        int base = 0;  // the cell's camera pictures before the open
        Clock::time_point opened;
        double firstMs = -1;
        bool refused = false;
    };
    std::vector<Open> opens;
    std::size_t next = 0;
    auto openNext = [&] {
        while (next < candidates.size()) {
            const control::ItemPtr item = candidates[next++];
            if (item->live) continue;
            const auto opened = Clock::now();
            if (!window.OpenCamera(item, -1)) continue;
            int cell = -1;
            for (int index = 0; index < 64 && cell < 0; ++index)
                if (wall->CellEntry(index) == item) cell = index;
            if (cell < 0) continue;
            opens.push_back({item, cell, wall->Cell(cell)->CameraPresents(), opened});
            return true;
        }
        return false;
    };
    for (int i = 0; i < cells; ++i) openNext();

    // First pictures. A camera the service refuses (outside its viewing plan) gives its
    // cell back: the next camera of the tree takes it.
    auto active = [&] {
        std::vector<Open*> result;
        for (auto& open : opens)
            if (!open.refused) result.push_back(&open);
        return result;
    };
    PumpUntil(
        [&] {
            const auto now = Clock::now();
            int pending = 0;
            for (std::size_t i = 0; i < opens.size(); ++i) {
                Open& open = opens[i];
                if (open.firstMs >= 0 || open.refused) continue;
                if (wall->Cell(open.cell)->CameraPresents() > open.base) {
                    open.firstMs = std::chrono::duration<double, std::milli>(now - open.opened).count();
                } else if (!open.item->live) {
                    open.refused = true;
                    openNext();
                } else {
                    ++pending;
                }
            }
            return pending == 0 && std::none_of(opens.begin(), opens.end(), [](const Open& open) {
                       return !open.refused && open.firstMs < 0;
                   });
        },
        30000);
    const std::vector<Open*> shown = active();
    row.opened = static_cast<int>(shown.size());

    // The play threads build their reserve of about 50 packets (shown slower than sent
    // until then), then play at the stream's rate: measure after it.
    auto camera = [](int cell) { return media::CameraRegistry::Instance().Find(cell); };
    PumpUntil(
        [&] {
            for (const Open* open : shown)
                if (auto c = camera(open->cell); !c || c->VideoQueue().Size() < 45) return false;
            return true;
        },
        15000);
    Pump(1000);

    const int opened = row.opened;
    std::vector<int> presents0(opened), last(opened);
    std::vector<Clock::time_point> lastChange(opened, Clock::now());
    for (int i = 0; i < opened; ++i) last[i] = presents0[i] = wall->Cell(shown[i]->cell)->CameraPresents();
    const double cpu0 = ProcessCpuSeconds();
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        // Sleeps until something arrives, as the program's own loop does; a picture's
        // present request is such an event, so each cell is looked at as it changes.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        const auto now = Clock::now();
        for (int i = 0; i < opened; ++i) {
            const int presents = wall->Cell(shown[i]->cell)->CameraPresents();
            if (presents != last[i]) {
                if (now - lastChange[i] > kLateGap) ++row.late;
                last[i] = presents;
                lastChange[i] = now;
            }
        }
    }
    row.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    row.cpuPercent = 100 * (ProcessCpuSeconds() - cpu0) / row.seconds;
    row.rss = ResidentMegabytes();
    row.rssPerCamera = (row.rss - rss0) / std::max(opened, 1);

    double shownFrames = 0;
    row.fpsMin = opened ? 1e9 : 0;
    std::vector<double> firsts;
    for (int i = 0; i < opened; ++i) {
        const double frames = wall->Cell(shown[i]->cell)->CameraPresents() - presents0[i];
        shownFrames += frames;
        row.fpsMin = std::min(row.fpsMin, frames / row.seconds);
        if (shown[i]->firstMs >= 0) {
            firsts.push_back(shown[i]->firstMs);
            ++row.showing;
        }
        if (auto c = camera(shown[i]->cell)) row.queued += static_cast<double>(c->VideoQueue().Size());
    }
    row.fpsMean = opened ? shownFrames / opened / row.seconds : 0;
    row.unshown = std::max(0.0, opened * kFrameRate * row.seconds - shownFrames);
    row.queued /= std::max(opened, 1);
    row.firstMedian = Median(firsts);
    row.firstWorst = firsts.empty() ? 0 : *std::max_element(firsts.begin(), firsts.end());

    // Close them all with the main window's own command and let the sessions end.
    window.CloseNode(nullptr);
    PumpUntil([] { return media::CameraRegistry::Instance().Count() == 0; }, 15000);
    Pump(300);
    return row;
}

void PrintRow(const Row& row, const Reference& reference, const PictureSize& size) {
    const double floor = 100.0 * row.opened * kFrameRate * reference.decodePerFrame;
    const double peers = reference.ffplayPercent > 0 ? reference.ffplayPercent * row.opened : 0;
    std::printf("%-9s %5d %5d %8.1f%% %7.1f%% %6.2f %8.1f%% %6.2f %7.2f %7.2f %5d %8.0f %7.0f %7.0f %7.0f %7.1f %6.1f\n",
                size.Name().c_str(), row.opened, row.showing, row.cpuPercent, floor,
                floor > 0 ? row.cpuPercent / floor : 0.0, peers, peers > 0 ? row.cpuPercent / peers : 0.0, row.fpsMean,
                row.fpsMin, row.late, row.unshown, row.firstMedian, row.firstWorst, row.rss, row.rssPerCamera,
                row.queued);
    std::fflush(stdout);
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string CpuModel() {
    std::ifstream file("/proc/cpuinfo");
    for (std::string line; std::getline(file, line);)
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    std::random_device random;
    const auto dir = std::filesystem::temp_directory_path() / ("larkview-system-bench-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    // A 1920 x 1080 headless screen, the size the main window is shown at.
    const auto screens = dir / "screens.json";
    std::ofstream(screens) << R"({"screens":[{"name":"bench","x":0,"y":0,"width":1920,"height":1080,)"
                           << R"("logicalDpiX":96,"logicalDpiY":96,"dpr":1}]})";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens.string()).c_str());
    QApplication application(argc, argv);
    ui::CPaintManagerUI::SetResourcePath(LARKVIEW_PROGRAM_DIR "/skinFiles");
    std::filesystem::copy_file(LARKVIEW_PROGRAM_DIR "/waiting.bmp", dir / "waiting.bmp");
    std::ofstream(dir / "appSavePath.ini") << "[VideoSavePath]\npath=" << (dir / "records").string() << "\n";
    platform::SetProgramDirectory(dir.string());
    app::InstallProgramWiring();

    std::printf("Larkview system benchmark: the program's own loop and main window, %d cameras per service, 25 fps\n",
                kSimCameras);
    std::printf("machine: %u cores (%s), load average %s, QPA %s\n", std::thread::hardware_concurrency(),
                CpuModel().c_str(), LoadAverage().c_str(), qgetenv("QT_QPA_PLATFORM").constData());

    std::vector<std::unique_ptr<Child>> sims;
    std::vector<Reference> references(options.sizes.size());
    std::size_t current = 0;
    bool failed = false;
    auto prepare = [&](std::size_t index) {
        std::printf("\n%s: preparing the service, the floor and the peer\n", options.sizes[index].Name().c_str());
        std::fflush(stdout);
        sims.push_back(std::make_unique<Child>());
        if (!PrepareSize(dir, options.sizes[index], *sims.back(), references[index])) return false;
        const Reference& r = references[index];
        std::printf("  ffmpeg -threads 1 decode of the service's stream: %.3f ms CPU per frame (decoding only; "
                    "%.3f ms with start-up); ffplay showing one stream: %.1f %% of a core\n",
                    r.decodePerFrame * 1e3, r.decodeWhole * 1e3, r.ffplayPercent);
        std::fflush(stdout);
        return true;
    };
    if (!prepare(0)) return 1;

    auto click = [](ui::WindowImplBase& window, const std::string& name) {
        if (ui::CControlUI* control = window.m_PaintManager.FindControl(name))
            window.m_PaintManager.SendNotify(control, ui::notify::kClick);
        else
            window.Close(-2);
    };
    bool switching = false;
    ui::SetModalObserver([&](ui::WindowImplBase& window) {
        const std::string kind = window.GetWindowClassName();
        if (kind == "DUILoninWin") {
            // The service of the size before is no longer needed.
            for (std::size_t i = 0; i + 1 < sims.size(); ++i) sims[i]->Stop();
            window.m_PaintManager.FindControl("UserEdit")->SetText("demo");
            window.m_PaintManager.FindControl("PassWord")->SetText("larkview");
            click(window, "BtnOK");
        } else if (kind == "DUIMainFrame") {
            auto& main = dynamic_cast<mainwin::CMainWin&>(window);
            QTimer::singleShot(0, [&main, &options, &references, &current, &failed, &switching, &prepare, click] {
                main.GetWidget()->resize(1920, 1040);  // maximised on a 1080p screen
                Pump(500);
                std::vector<control::ItemPtr> candidates;
                for (const auto& entry : main.Trees().Index(ui::CCameraTrees::kLive).Copy())
                    if (entry.item && entry.item->kind == control::ITEMINFO::kCamera && entry.item->active &&
                        !entry.item->expired)
                        candidates.push_back(entry.item);
                const PictureSize& size = options.sizes[current];
                std::printf("  logged in: %zu online cameras in the tree; live wall %dx%d\n\n", candidates.size(),
                            main.LiveWall()->width(), main.LiveWall()->height());
                std::printf("%-9s %5s %5s %9s %8s %6s %9s %6s %7s %7s %5s %8s %7s %7s %7s %7s %6s\n", "size", "cells",
                            "shown", "client%", "floor%", "ratio", "ffplay%", "ratio", "fps", "minfps", "late",
                            "unshown", "1st ms", "worst", "RSS MB", "MB/cam", "queue");
                for (const int cells : options.cells) {
                    const Row row = MeasureRow(main, candidates, cells, options.seconds);
                    PrintRow(row, references[current], size);
                }
                ++current;
                if (current < options.sizes.size()) {
                    failed = !prepare(current);
                    switching = !failed;
                }
                click(main, switching ? "closebtn" : "exituser");
            });
        } else if (kind == "ShutDownWnd") {  // change user between rows, leave after the last
            const char* choice = switching ? "change_user" : "shut_down";
            switching = false;
            QTimer::singleShot(0, [&window, click, choice] { click(window, choice); });
        } else {
            std::fprintf(stderr, "unexpected window %s\n", kind.c_str());
            window.Close(-2);
        }
    });
    app::RunProgram(app::ApplicationProgramHooks());
    ui::SetModalObserver(nullptr);
    core::LogFile::Destroy();

    std::printf("\nmachine load average at the end: %s\n", LoadAverage().c_str());
    std::printf("client%%: this process (all threads) in %% of one core while measured; floor%%: ffmpeg -threads 1\n"
                "decoding the same number of frames of the service's own stream (start-up excluded); ffplay%%: one\n"
                "ffplay per shown camera; late: pictures more than two frame times after the one before in their cell;\n"
                "unshown: frames sent (25/s per camera) never presented; 1st ms: open command to the cell's first\n"
                "camera picture (median, worst); MB/cam: resident memory added per camera; queue: packets waiting.\n");
    std::filesystem::remove_all(dir);
    return failed ? 1 : 0;
}
