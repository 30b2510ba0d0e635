// The control channel against the simulated service on loopback: request round trip
// (median and 99th percentile) and the 10,000-camera list fetched and turned into rows.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "control/camera_rows.h"
#include "control/control_client.h"
#include "sim/sim_service.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void PrintPercentiles(const char* what, std::vector<double> values, const char* unit) {
    std::sort(values.begin(), values.end());
    std::printf("%-44s median %8.3f %s   p99 %8.3f %s   (n=%zu)\n", what, values[values.size() / 2], unit,
                values[std::min(values.size() - 1, values.size() * 99 / 100)], unit, values.size());
}

}  // namespace

int main() {
    const auto dir = std::filesystem::temp_directory_path() / "larkview-control-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    sim::SimConfig simConfig;
    simConfig.databasePath = (dir / "sim.db").string();
    simConfig.cameraCount = 10000;
    sim::SimService service(simConfig);
    if (service.Start() != sim::SimService::kOk) {
        std::fprintf(stderr, "the simulated service did not start\n");
        return 1;
    }

    core::AppConfig config;
    config.serverList = {"127.0.0.1"};
    config.serverPort = service.MasterPort();
    config.serverPath = simConfig.serverPath;
    config.currentUserName = "demo";
    config.currentUserPassword = "larkview";
    control::ControlClient client(control::ControlClient::Timing{}, config);
    if (client.Connect() != 0 || client.Login() != 1) {
        std::fprintf(stderr, "login failed\n");
        return 1;
    }

    control::CameraListReply list;
    std::vector<double> fetch, build;
    for (int run = 0; run < 10; ++run) {
        auto t0 = Clock::now();
        client.FetchCameraList(list);
        auto t1 = Clock::now();
        control::CameraRows rows = control::BuildCameraRows(list, nullptr);
        control::ReorderRows(rows.rows);
        auto t2 = Clock::now();
        fetch.push_back(Millis(t1 - t0));
        build.push_back(Millis(t2 - t1));
    }
    std::vector<double> total(fetch.size());
    for (std::size_t i = 0; i < fetch.size(); ++i) total[i] = fetch[i] + build[i];
    PrintPercentiles("list fetch, 10,000 cameras", fetch, "ms");
    PrintPercentiles("row building and reorder, 10,000 cameras", build, "ms");
    PrintPercentiles("list fetch + rows (target < 200 ms)", total, "ms");

    const std::string camera = control::SplitList(list.lists[control::CameraListReply::kCameraId]).back();
    std::vector<double> roundTrip;
    for (int i = 0; i < 2000; ++i) {
        auto t0 = Clock::now();
        client.RequestForwardingAddress(camera);
        roundTrip.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    PrintPercentiles("request round trip (forwarding address)", roundTrip, "us");
    service.Stop();
    std::filesystem::remove_all(dir);
    return 0;
}
