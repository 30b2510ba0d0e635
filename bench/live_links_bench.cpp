// 64 live links at 25 frames a second on loopback: what the client's receive side
// costs. The simulated service runs as a separate process (larkview-sim), so its
// drawing, encoding and sending are not counted; this process is the client: the
// control connection, 64 VideoLinks with their reader and supervision threads, and
// one thread that takes the packets off the queues as the play threads would. Run
// twice: as the client runs its links, and without heartbeats, whose JSON is the
// only thing that allocates once the media flows.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "alloc_counter.h"
#include "bench/sim_process.h"
#include "control/control_client.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "transport/video_link.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLinks = 64;
constexpr int kFrameRate = 25;
constexpr auto kMeasured = std::chrono::seconds(10);

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of another process, from /proc/<pid>/stat (user + system).
double ChildCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15) ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Child {
    pid_t pid = 0;
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    }
};

}  // namespace

int main() {
    std::random_device random;
    const auto dir = std::filesystem::temp_directory_path() / ("larkview-links-bench-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    platform::SetProgramDirectory(dir.string());  // the client's log goes here
    const std::string state = (dir / "state.ini").string();

    // The service in its own process: every camera D1 at 25 frames a second.
    std::vector<std::string> args = {LARKVIEW_SIM_PROGRAM,         "--db=" + (dir / "sim.db").string(),
                                     "--state=" + state,           "--cameras=100",
                                     "--camera-video=704x576@25", "--clip-seconds=2"};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    Child sim;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&sim.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        return 1;
    }
    posix_spawn_file_actions_destroy(&actions);
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

    struct Link {
        transport::PacketQueue video, audio;
        std::unique_ptr<transport::VideoLink> link;
    };
    auto addresses = [&](const std::string& id) { return client.RequestForwardingAddress(id); };

    // One run: open the links, let them flow, measure, close them.
    auto run = [&](const char* title, const transport::LinkTiming& timing) {
        std::vector<std::unique_ptr<Link>> links;
        for (int camera = 0; camera < 100 && static_cast<int>(links.size()) < kLinks; ++camera) {
            const std::string id = std::to_string(31000001 + camera);
            const control::TransportAddress address = client.RequestForwardingAddress(id);
            if (address.status != 1) continue;  // offline or expired
            auto link = std::make_unique<Link>();
            link->link = std::make_unique<transport::VideoLink>(link->video, link->audio, addresses, timing);
            if (link->link->Open(id, address.forwardingIp, std::atoi(address.forwardingPort.c_str()), "") != 1)
                continue;  // outside its viewing plan
            links.push_back(std::move(link));
        }
        std::printf("== %s: %zu links (D1, %d frames a second each)\n", title, links.size(), kFrameRate);

        // The play threads' part: take every packet and give it back.
        std::atomic<bool> stop{false};
        std::atomic<std::uint64_t> packets{0}, bytes{0};
        std::vector<std::atomic<std::uint64_t>> perLink(links.size());
        std::thread consumer([&] {
            while (!stop) {
                for (std::size_t i = 0; i < links.size(); ++i)
                    while (auto record = links[i]->video.Pop()) {
                        ++perLink[i];
                        ++packets;
                        bytes += record->length;
                        links[i]->video.Release(std::move(record));
                    }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });

        // Warm-up: the service encodes each camera's clip when it is first asked for,
        // and the links' heartbeats start after two seconds.
        const auto warmStart = Clock::now();
        auto allFlowing = [&] {
            for (const auto& n : perLink)
                if (n < 3u * kFrameRate) return false;
            return true;
        };
        while (!allFlowing() && Clock::now() - warmStart < std::chrono::seconds(120))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::printf("warm-up             %8.1f s\n", std::chrono::duration<double>(Clock::now() - warmStart).count());

        const double cpu0 = ProcessCpuSeconds(), simCpu0 = ChildCpuSeconds(sim.pid);
        const std::uint64_t packets0 = packets, bytes0 = bytes, allocations0 = bench::Allocations();
        const auto start = Clock::now();
        std::this_thread::sleep_for(kMeasured);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = ProcessCpuSeconds() - cpu0, simCpu = ChildCpuSeconds(sim.pid) - simCpu0;
        const double received = static_cast<double>(packets - packets0);
        const std::uint64_t allocations = bench::Allocations() - allocations0;
        stop = true;
        consumer.join();

        std::printf("packets             %8.0f /s (expected %d)\n", received / seconds, kLinks * kFrameRate);
        std::printf("payload             %8.2f MB/s\n", static_cast<double>(bytes - bytes0) / seconds / 1e6);
        std::printf("client CPU          %8.1f %% of one core\n", 100 * cpu / seconds);
        std::printf("client CPU/packet   %8.1f us\n", cpu * 1e6 / received);
        std::printf("client allocations  %8.3f per packet\n", allocations / received);
        std::printf("service CPU         %8.1f %% of one core (its own process, not counted above)\n",
                    100 * simCpu / seconds);
        links.clear();
    };

    run("links as the client runs them (heartbeat every second)", transport::LinkTiming{});
    transport::LinkTiming quiet;
    quiet.heartbeatStartMs = 3600000;
    quiet.silenceMs = 3600000;  // without heartbeat replies the ten-second rule would reopen every link
    run("receive path alone (no heartbeats)", quiet);
    std::filesystem::remove_all(dir);
    return 0;
}
