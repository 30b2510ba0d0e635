// The simulated service's costs: seeding 10,000 cameras, answering the camera and
// node list for them, and an alarm search over a day.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include "sim/control_service.h"
#include "sim/service_store.h"

namespace {

class CountingChannel final : public sim::ReplyChannel {
public:
    bool Send(sim::ConnectionId, const std::string& message) override {
        bytes += message.size();
        ++messages;
        return true;
    }
    bool SendRaw(sim::ConnectionId, const std::string&) override { return true; }
    void Close(sim::ConnectionId) override {}
    std::size_t bytes = 0;
    std::size_t messages = 0;
};

std::string TempDatabase() {
    std::random_device random;
    return (std::filesystem::temp_directory_path() / ("larkview-sim-bench-" + std::to_string(random()) + ".db")).string();
}

void RemoveDatabase(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

std::string Request(int id, int type, const std::string& params) {
    return std::string(1, '\0') + "{\"id\":" + std::to_string(id) + ",\"msgType\":" + std::to_string(type) +
           ",\"params\":{" + params + "},\"realm\":1}\n";
}

void BM_SeedCameras(benchmark::State& state) {
    for (auto _ : state) {
        const std::string path = TempDatabase();
        {
            sim::ServiceStore store;
            sim::SeedOptions seed;
            seed.cameraCount = static_cast<int>(state.range(0));
            if (!store.Open(path, seed)) state.SkipWithError("seeding failed");
        }
        state.PauseTiming();
        RemoveDatabase(path);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SeedCameras)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_CameraListReplies(benchmark::State& state) {
    const std::string path = TempDatabase();
    sim::ServiceStore store;
    sim::SeedOptions seed;
    seed.cameraCount = static_cast<int>(state.range(0));
    if (!store.Open(path, seed)) state.SkipWithError("seeding failed");
    CountingChannel channel;
    sim::ControlOptions options;
    options.listChunkRows = 1000;
    sim::ControlService service(store, channel, nullptr, options);
    const std::string login = Request(1, 2, "\"oemId\":\"1\",\"password\":\"E744A3AA6019D2B8526D6FC49C5336CF\",\"userName\":\"demo\"");
    service.OnMessage(1, login.data(), login.size());
    const std::string list = Request(2, 29, "\"userId\":\"10001\"");
    for (auto _ : state) service.OnMessage(1, list.data(), list.size());
    state.counters["reply_bytes"] = benchmark::Counter(static_cast<double>(channel.bytes) / state.iterations());
    state.counters["replies"] = benchmark::Counter(static_cast<double>(channel.messages - 1) / state.iterations());
    RemoveDatabase(path);
}
BENCHMARK(BM_CameraListReplies)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_AlarmSearchDay(benchmark::State& state) {
    const std::string path = TempDatabase();
    sim::ServiceStore store;
    sim::SeedOptions seed;
    seed.cameraCount = 10000;
    seed.referenceTime = 1700000000;
    if (!store.Open(path, seed)) state.SkipWithError("seeding failed");
    store.SetClock([] { return std::time_t(1700000000); });
    sim::Account demo;
    store.CheckLogin("demo", "E744A3AA6019D2B8526D6FC49C5336CF", 1, "2023-11-14", 0, demo);
    const sim::AlarmQuery query{sim::FormatDate(1700000000) + " 00:00:00", sim::FormatDate(1700000000) + " 23:59:59", "", ""};
    std::size_t rows = 0;
    for (auto _ : state) rows = store.SearchAlarms(demo, query).size();
    state.counters["rows"] = static_cast<double>(rows);
    RemoveDatabase(path);
}
BENCHMARK(BM_AlarmSearchDay)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
