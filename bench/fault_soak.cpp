// The fault soak: the real program (the outer loop with the login window and the main
// window, offscreen) logged into larkview-sim in its own process, sixteen live cameras
// opened through the main window's own open command, then minutes of faults: the
// simulated service runs a fault round every few seconds (one camera's links dropped,
// one camera's stream stopped, every forwarding link dropped, every control connection
// dropped) and is killed and started again on the same ports and database. Afterwards,
// with the faults off, every cell must show pictures again within a bound, the user-
// interface thread must have kept answering, and resident memory must not have grown
// beyond a bound. Prints the figures; exits non-zero when a check fails.
//
//   bench_fault_soak [fault seconds, default 120] [--size=WxH] [--fault-interval-ms=N]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "core/app_config.h"
#include "core/log_file.h"
#include "app/program.h"
#include "bench/sim_process.h"
#include "bench/ui_watchdog.h"
#include "mainwin/main_win.h"
#include "tests/support/cell_picture.h"
#include "app/program_wiring.h"
#include "media/camera_registry.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "ui/camera_trees.h"
#include "ui/message_box.h"
#include "ui/toolkit/paint_manager.h"
#include "ui/toolkit/window.h"
#include "wall/video_panel_mng.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Watchdog = bench_support::UiWatchdog;

constexpr int kCells = 16;
constexpr int kFrameRate = 25;
// The user-interface thread must run a posted closure within this time.
constexpr auto kAnswerLimit = 2s;
// Not answering for this long is a hang: the soak ends at once with a failure.
constexpr auto kHangLimit = 30s;
// Neither a new picture anywhere nor a step of the soak for this long is a hang as well.
constexpr auto kProgressLimit = 120s;
// After the faults: the links' ten-second rule, a failed first address request (the
// control connection logging in again after the restart) retried ten seconds later,
// and the reconnection supervisor's ten-second pass, plus ten seconds of margin.
constexpr auto kSettleLimit = 40s;
// Memory: at most this much growth from the end of the warm-up to the end (see the
// report the program prints and bench/README in docs/soak.md).
constexpr double kRssGrowthLimitMb = 48.0;

double ResidentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024 * 1024);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---- the simulated service in its own process ----

class SimProcess {
public:
    SimProcess(std::filesystem::path dir, std::string video) : dir_(std::move(dir)), video_(std::move(video)) {}
    ~SimProcess() { Kill(SIGTERM); }

    // Starts the service; the first start takes free ports, later ones reuse them.
    bool Start(int faultIntervalMs) {
        const std::string state = (dir_ / "state.ini").string();
        std::filesystem::remove(state);
        std::vector<std::string> args{LARKVIEW_SIM_PROGRAM,
                                      "--db=" + (dir_ / "sim.db").string(),
                                      "--state=" + state,
                                      "--cameras=40",
                                      "--camera-video=" + video_,
                                      "--clip-seconds=2",
                                      "--master-port=" + std::to_string(master_),
                                      "--proxy-port=" + std::to_string(proxy_)};
        if (!forward_.empty()) args.push_back("--forward=" + forward_);
        if (faultIntervalMs > 0) args.push_back("--fault-interval-ms=" + std::to_string(faultIntervalMs));
        const pid_t pid = bench_support::SpawnLogged(std::move(args), (dir_ / "sim.log").string());
        if (pid == 0) return false;
        pid_ = pid;
        const int port = bench_support::WaitForMasterPort(state);
        if (port <= 0) return false;
        if (master_ == 0) {
            // Remember every port, so that a restart serves the same addresses.
            master_ = port;
            proxy_ = std::atoi(platform::ReadProfileString("Ports", "Proxy", "0", state).c_str());
            const int count = std::atoi(platform::ReadProfileString("Ports", "ForwardCount", "0", state).c_str());
            for (int i = 1; i <= count; ++i) {
                if (!forward_.empty()) forward_ += ",";
                forward_ += "127.0.0.1:" + platform::ReadProfileString("Ports", "Forward" + std::to_string(i), "0", state);
            }
            forwardCount_ = count;
        }
        return port == master_;
    }
    // Ends the process as a crash would (SIGKILL) or politely (SIGTERM).
    void Kill(int signal) {
        if (pid_ <= 0) return;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
    }
    int MasterPort() const { return master_; }
    int ForwardCount() const { return forwardCount_; }
    // Fault rounds the service reported in its log (all its lives).
    int FaultRounds(std::map<std::string, int>& byKind) const {
        std::ifstream log(dir_ / "sim.log");
        std::string line;
        int rounds = 0;
        while (std::getline(log, line)) {
            const auto at = line.find("fault round ");
            if (at == std::string::npos) continue;
            ++rounds;
            const std::string what = line.substr(line.find(": ", at) + 2);
            if (what.rfind("dropped all", 0) == 0) ++byKind["all forwarding links dropped"];
            else if (what.rfind("dropped the control", 0) == 0) ++byKind["control connections dropped"];
            else if (what.rfind("stopped", 0) == 0) ++byKind["camera streams stopped"];
            else if (what.rfind("dropped", 0) == 0) ++byKind["one camera's links dropped"];
            else ++byKind["nothing to do"];
        }
        return rounds;
    }

private:
    std::filesystem::path dir_;
    std::string video_;
    pid_t pid_ = 0;
    int master_ = 0, proxy_ = 0, forwardCount_ = 0;
    std::string forward_;
};

// ---- the soak, driven by a timer on the user-interface thread ----

struct Options {
    int faultSeconds = 120;
    int width = 352, height = 288;
    int faultIntervalMs = 3000;
};

// Seeded cameras that are online, in service and always within their viewing plan.
std::vector<std::string> Watchable(int count) {
    std::vector<std::string> ids;
    for (int k = 0; static_cast<int>(ids.size()) < count; ++k)
        if (k % 11 != 5 && k % 7 != 3 && k % 17 != 9) ids.push_back(std::to_string(31000001 + k));
    return ids;
}

class Soak {
public:
    Soak(const Options& options, SimProcess& sim, Watchdog& watchdog)
        : options_(options), sim_(sim), watchdog_(watchdog), cameras_(Watchable(kCells)) {}

    void Begin(mainwin::CMainWin& window) {
        window_ = &window;
        start_ = Clock::now();
        timer_.setInterval(100);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }
    bool Passed() const { return passed_; }
    const std::string& Failure() const { return failure_; }

private:
    enum class Phase { kOpen, kWarmUp, kSteady, kFaults, kRestarting, kSettle, kDone };

    wall::CVideoPanelMng* Wall() const { return window_->LiveWall(); }

    bool ShowsPicture(int cell) const {
        return testing_support::ShowsCameraPicture(*Wall()->Cell(cell)->Target(), Wall()->Cell(cell)->size(),
                                                   options_.width, options_.height, cameras_[cell]);
    }
    // Shows its own camera, open, with a picture, and pictures kept coming over the
    // last second.
    bool Live(int cell) const {
        auto entry = Wall()->CellEntry(cell);
        if (!entry || entry->id != cameras_[cell]) return false;
        auto camera = media::CameraRegistry::Instance().Find(cell);
        if (!camera || !camera->IsOpen() || camera->CameraId() != cameras_[cell]) return false;
        return recentPresents_[cell] >= kFrameRate / 2 && ShowsPicture(cell);
    }
    int LiveCells() const {
        int n = 0;
        for (int cell = 0; cell < kCells; ++cell) n += Live(cell);
        return n;
    }

    void Fail(const std::string& why) {
        if (failure_.empty()) failure_ = why;
        passed_ = false;
    }

    // Presents of each cell over the last second (sampled every tick).
    void SamplePresents() {
        const auto now = Clock::now();
        std::vector<int> presents(kCells);
        for (int cell = 0; cell < kCells; ++cell) presents[cell] = Wall()->Cell(cell)->Presents();
        history_.push_back({now, presents});
        while (history_.size() > 1 && now - history_.front().first > 1s) history_.pop_front();
        std::uint64_t total = 0;
        for (int cell = 0; cell < kCells; ++cell) {
            recentPresents_[cell] = presents[cell] - history_.front().second[cell];
            total += static_cast<std::uint64_t>(presents[cell]);
        }
        if (total != lastTotalPresents_) {
            lastTotalPresents_ = total;
            watchdog_.Progress();
        }
    }

    void Report(const char* what) {
        std::printf("[%6.1f s] %-34s live cells %2d/%d, RSS %.1f MB\n", Seconds(Clock::now() - start_), what,
                    LiveCells(), kCells, ResidentMegabytes());
        std::fflush(stdout);
    }

    // Restarts the service on a thread of its own (it waits for the new process).
    void Restart(int faultIntervalMs) {
        ++restarts_;
        restartDone_ = std::async(std::launch::async, [this, faultIntervalMs] {
            sim_.Kill(SIGKILL);
            std::this_thread::sleep_for(500ms);
            return sim_.Start(faultIntervalMs);
        });
    }
    bool RestartFinished(bool& ok) {
        if (!restartDone_.valid() || restartDone_.wait_for(0s) != std::future_status::ready) return false;
        ok = restartDone_.get();
        return true;
    }

    void Tick() {
        SamplePresents();
        const auto now = Clock::now();
        const auto inPhase = now - phaseStart_;
        auto next = [&](Phase phase) {
            phase_ = phase;
            phaseStart_ = now;
        };
        switch (phase_) {
            case Phase::kOpen: {
                window_->m_PaintManager.SendNotify(window_->m_PaintManager.FindControl("Win16"), "click");
                for (int cell = 0; cell < kCells; ++cell) {
                    control::ItemPtr item = window_->Trees().FindItem(ui::CCameraTrees::kLive, cameras_[cell]);
                    if (!item) return Finish("camera " + cameras_[cell] + " is not in the tree");
                    window_->OpenCamera(item, cell);
                }
                Report("sixteen cameras opened");
                next(Phase::kWarmUp);
                break;
            }
            case Phase::kWarmUp:
                // The service encodes each camera's clip when it is first asked for.
                if (LiveCells() == kCells) {
                    Report("every cell shows pictures");
                    next(Phase::kSteady);
                } else if (inPhase > 90s) {
                    return Finish("only " + std::to_string(LiveCells()) + " cells show pictures after 90 s of warm-up");
                }
                break;
            case Phase::kSteady:
                // Each play thread builds its reserve of about two seconds first.
                if (inPhase > 10s) {
                    rssWarm_ = ResidentMegabytes();
                    Report("warm: faults begin (restart 1)");
                    faultStart_ = now;
                    Restart(options_.faultIntervalMs);
                    next(Phase::kFaults);
                }
                break;
            case Phase::kFaults: {
                bool ok = true;
                if (RestartFinished(ok) && !ok) return Finish("the simulated service did not start again");
                if (now - lastReport_ > 10s) {
                    lastReport_ = now;
                    minLiveDuringFaults_ = std::min(minLiveDuringFaults_, LiveCells());
                    faultRss_.emplace_back(Seconds(now - faultStart_), ResidentMegabytes());
                    Report("faults running");
                }
                if (now - faultStart_ > std::chrono::seconds(options_.faultSeconds)) {
                    Report("faults end (restart 2, no faults)");
                    Restart(0);
                    next(Phase::kRestarting);
                }
                break;
            }
            case Phase::kRestarting: {
                bool ok = true;
                if (!RestartFinished(ok)) break;
                if (!ok) return Finish("the simulated service did not start again");
                Report("service back; settling");
                next(Phase::kSettle);
                break;
            }
            case Phase::kSettle:
                if (LiveCells() == kCells) {
                    settleSeconds_ = Seconds(inPhase);
                    Report("every cell shows pictures again");
                    return Finish({});
                }
                if (inPhase > kSettleLimit) {
                    std::string missing;
                    for (int cell = 0; cell < kCells; ++cell)
                        if (!Live(cell)) missing += " " + std::to_string(cell) + "(" + cameras_[cell] + ")";
                    settleSeconds_ = Seconds(inPhase);
                    return Finish("cells without pictures " + std::to_string(Seconds(kSettleLimit)).substr(0, 4) +
                                  " s after the faults:" + missing);
                }
                break;
            case Phase::kDone:
                break;
        }
    }

    // A slow leak hides behind what grows once (thread heaps, free lists) early in a
    // run: the second half of the faults shows it as a slope.
    void PrintLateGrowth() const {
        if (faultRss_.size() < 6) return;
        const auto& middle = faultRss_[faultRss_.size() / 2];
        const auto& last = faultRss_.back();
        const double perTenMinutes = (last.second - middle.second) / (last.first - middle.first) * 600.0;
        std::printf("second half of faults   %.1f MB at %.0f s, %.1f MB at %.0f s: %+.1f MB per 10 minutes\n",
                    middle.second, middle.first, last.second, last.first, perTenMinutes);
    }

    void Finish(const std::string& failure) {
        if (phase_ == Phase::kDone) return;
        phase_ = Phase::kDone;
        timer_.stop();
        if (!failure.empty()) Fail(failure);
        rssEnd_ = ResidentMegabytes();
        PrintFigures();
        watchdog_.Deadline(30s);
        // Leave like a user: the exit dialog, "shut down" (the modal observer presses it).
        window_->m_PaintManager.SendNotify(window_->m_PaintManager.FindControl("closebtn"), "click");
    }

    void PrintFigures() {
        std::map<std::string, int> kinds;
        const int rounds = sim_.FaultRounds(kinds);
        const double growth = rssEnd_ - rssWarm_;
        std::printf("\n== fault soak figures\n");
        std::printf("cameras                 %d live cells, %dx%d at %d frames a second, %d forwarding servers\n", kCells,
                    options_.width, options_.height, kFrameRate, sim_.ForwardCount());
        std::printf("duration                %.0f s in all, %d s of faults\n", Seconds(Clock::now() - start_),
                    options_.faultSeconds);
        std::printf("fault rounds            %d, every %d ms:\n", rounds, options_.faultIntervalMs);
        for (const auto& [kind, count] : kinds) std::printf("                          %3d %s\n", count, kind.c_str());
        std::printf("service restarts        %d (SIGKILL, same ports and database)\n", restarts_);
        std::printf("fewest live cells       %d of %d (sampled every 10 s during the faults)\n",
                    minLiveDuringFaults_ == kCells + 1 ? -1 : minLiveDuringFaults_, kCells);
        std::printf("recovered               %d of %d cells show pictures, %.1f s after the service came back "
                    "(limit %.0f s)\n",
                    LiveCells(), kCells, settleSeconds_, Seconds(kSettleLimit));
        const Watchdog::Figures answers = watchdog_.Total();
        std::printf("watchdog                %llu answers, %llu stalls over %.0f s, longest answer %.2f s\n",
                    static_cast<unsigned long long>(answers.answers), static_cast<unsigned long long>(answers.stalls),
                    Seconds(kAnswerLimit), answers.longestMs / 1000.0);
        std::printf("resident memory         %.1f MB warm, %.1f MB at the end, growth %.1f MB (limit %.0f MB)\n",
                    rssWarm_, rssEnd_, growth, kRssGrowthLimitMb);
        PrintLateGrowth();
        std::printf("message boxes           %d\n", messageBoxes);
        if (answers.stalls > 0) Fail(std::to_string(answers.stalls) + " stalls of the user-interface thread");
        if (growth > kRssGrowthLimitMb) Fail("resident memory grew by " + std::to_string(growth) + " MB");
        std::fflush(stdout);
    }

public:
    int messageBoxes = 0;

private:
    const Options options_;
    SimProcess& sim_;
    Watchdog& watchdog_;
    const std::vector<std::string> cameras_;
    mainwin::CMainWin* window_ = nullptr;
    QTimer timer_;
    Phase phase_ = Phase::kOpen;
    Clock::time_point start_, phaseStart_, faultStart_, lastReport_;
    std::deque<std::pair<Clock::time_point, std::vector<int>>> history_;
    std::vector<int> recentPresents_ = std::vector<int>(kCells, 0);
    std::uint64_t lastTotalPresents_ = 0;
    std::future<bool> restartDone_;
    int restarts_ = 0;
    int minLiveDuringFaults_ = kCells + 1;
    double rssWarm_ = 0, rssEnd_ = 0, settleSeconds_ = 0;
    std::vector<std::pair<double, double>> faultRss_;  // (seconds into the faults, MB) every 10 s
    bool passed_ = true;
    std::string failure_;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--size=", 0) == 0) {
            std::sscanf(arg.c_str() + 7, "%dx%d", &options.width, &options.height);
        } else if (arg.rfind("--fault-interval-ms=", 0) == 0) {
            options.faultIntervalMs = std::max(500, std::atoi(arg.c_str() + 20));
        } else if (const int seconds = std::atoi(arg.c_str()); seconds > 0) {
            options.faultSeconds = seconds;
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    std::random_device random;
    const auto dir = std::filesystem::temp_directory_path() / ("larkview-fault-soak-" + std::to_string(random()));
    std::filesystem::create_directories(dir / "records");
    // The program directory: configuration, log, waiting picture; skins from the build.
    platform::SetProgramDirectory(dir.string());
    std::filesystem::copy_file(std::filesystem::path(LARKVIEW_PROGRAM_DIR) / "waiting.bmp", dir / "waiting.bmp");
    ui::CPaintManagerUI::SetResourcePath(LARKVIEW_PROGRAM_DIR "/skinFiles");
    app::InstallProgramWiring();

    SimProcess sim(dir, std::to_string(options.width) + "x" + std::to_string(options.height) + "@" +
                            std::to_string(kFrameRate));
    if (!sim.Start(0)) {
        std::fprintf(stderr, "the simulated service did not start (see %s)\n", (dir / "sim.log").c_str());
        return 1;
    }
    {
        std::ofstream(dir / "appConfig.ini") << "[ServerInfo]\nServerIp=127.0.0.1\nServerProt=" << sim.MasterPort()
                                             << "\nServerPath=/master\n";
        std::ofstream(dir / "appSavePath.ini") << "[VideoSavePath]\npath=" << (dir / "records").string() << "\n";
        // demo is remembered with auto-login: the login window logs in by itself.
        std::ofstream(dir / "appUser.ini") << "[UserInfo]\nUserNumber=1\n[" << core::UserSectionName(0)
                                           << "]\nUserName=demo\nPassWord=" << core::EncodePassword("larkview")
                                           << "\nAutoLogin=1\n";
    }
    std::printf("fault soak: %d s of faults, a round every %d ms; program folder %s\n", options.faultSeconds,
                options.faultIntervalMs, dir.c_str());
    std::fflush(stdout);

    Watchdog watchdog(200ms, kAnswerLimit, kHangLimit);
    watchdog.SetProgressLimit(kProgressLimit);
    watchdog.OnHang([&sim] { sim.Kill(SIGKILL); });  // the service does not outlive a hung soak
    Soak soak(options, sim, watchdog);
    std::vector<std::string> windows;
    ui::SetModalObserver([&](ui::WindowImplBase& window) {
        const std::string name = window.GetWindowClassName();
        windows.push_back(name);
        if (name == "DUILoninWin") return;  // logs in by itself
        if (name == "DUIMainFrame") {
            soak.Begin(dynamic_cast<mainwin::CMainWin&>(window));
            return;
        }
        if (name == "ShutDownWnd") {
            QTimer::singleShot(0, window.GetWidget(), [&window] {
                window.m_PaintManager.SendNotify(window.m_PaintManager.FindControl("shut_down"), "click");
            });
            return;
        }
        // Anything else (a message box) is counted, reported and closed.
        ++soak.messageBoxes;
        std::printf("[modal] %s appeared; closed\n", name.c_str());
        std::fflush(stdout);
        QTimer::singleShot(0, window.GetWidget(), [&window] { window.Close(-2); });
    });

    const int code = app::RunProgram(app::ApplicationProgramHooks());
    ui::SetModalObserver(nullptr);
    core::LogFile::Destroy();
    std::printf("program ended with %d; windows:", code);
    for (const auto& name : windows) std::printf(" %s", name.c_str());
    std::printf("\n");

    bool passed = soak.Passed() && code == 0;
    if (std::find(windows.begin(), windows.end(), "DUIMainFrame") == windows.end()) {
        passed = false;
        std::printf("the main window never opened (login failed?)\n");
    }
    if (!soak.Failure().empty()) std::printf("FAILED: %s\n", soak.Failure().c_str());
    std::printf("%s\n", passed ? "PASSED" : "FAILED");
    if (passed) std::filesystem::remove_all(dir);
    else std::printf("kept %s (Manage.log in appLogs/, sim.log)\n", dir.c_str());
    return passed ? 0 : 1;
}
