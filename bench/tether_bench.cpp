// Tether over loopback: messages per second and MB/s one way (client to server and
// server to client) for 100-byte and 64-KiB messages, and the request/reply round
// trip (median and 99th percentile).
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "libs/tether/tether.h"

namespace {

using Clock = std::chrono::steady_clock;

// Counts what arrives and wakes a waiter when a target count is reached.
struct Counter {
    std::mutex mutex;
    std::condition_variable reached;
    std::atomic<std::int64_t> count{0};
    std::int64_t target = 0;

    void Add() {
        if (count.fetch_add(1, std::memory_order_relaxed) + 1 >= target) {
            std::lock_guard<std::mutex> lock(mutex);
            reached.notify_all();
        }
    }
    void WaitFor(std::int64_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        reached.wait(lock, [&] { return count.load() >= n; });
    }
    static void Callback(int status, const char*, int, void* user) {
        if (status >= 0) static_cast<Counter*>(user)->Add();
    }
};

// A server that counts messages, or echoes them back.
struct Loopback {
    explicit Loopback(bool echo) : server(Handlers(echo)) { port = server.Listen("127.0.0.1", 0); }
    tether::Server::Handlers Handlers(bool echo) {
        tether::Server::Handlers h;
        h.onAccept = [this](tether::Server::ConnectionId id, const std::string&) {
            std::lock_guard<std::mutex> lock(mutex);
            connection = id;
            accepted.notify_all();
        };
        h.onMessage = [this, echo](tether::Server::ConnectionId id, const char* data, std::size_t length) {
            if (echo)
                server.Send(id, data, length);
            else
                received.Add();
        };
        return h;
    }
    tether::Server::ConnectionId WaitForConnection() {
        std::unique_lock<std::mutex> lock(mutex);
        accepted.wait(lock, [&] { return connection != 0; });
        return connection;
    }
    Counter received;
    std::mutex mutex;
    std::condition_variable accepted;
    tether::Server::ConnectionId connection = 0;
    tether::Server server;
    int port = -1;
};

constexpr int kBatch = 2000;

void BM_ClientToServer(benchmark::State& state) {
    const std::string message(static_cast<std::size_t>(state.range(0)), 'm');
    Loopback loopback(false);
    Counter unused;
    auto handle = tether::Connect("127.0.0.1", loopback.port, &Counter::Callback, &unused);
    if (handle == 0) return state.SkipWithError("connect failed");
    const int batch = message.size() > 1000 ? kBatch / 4 : kBatch;
    std::int64_t sent = 0;
    loopback.received.target = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) tether::Send(handle, message.data(), static_cast<long>(message.size()), false);
        sent += batch;
        loopback.received.target = sent;
        loopback.received.WaitFor(sent);
    }
    state.SetItemsProcessed(sent);
    state.SetBytesProcessed(sent * static_cast<std::int64_t>(message.size()));
    tether::Close(handle);
}
BENCHMARK(BM_ClientToServer)->Arg(100)->Arg(64 * 1024)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ServerToClient(benchmark::State& state) {
    const std::string message(static_cast<std::size_t>(state.range(0)), 'm');
    Loopback loopback(false);
    Counter received;
    auto handle = tether::Connect("127.0.0.1", loopback.port, &Counter::Callback, &received);
    if (handle == 0) return state.SkipWithError("connect failed");
    const auto connection = loopback.WaitForConnection();
    const int batch = message.size() > 1000 ? kBatch / 4 : kBatch;
    std::int64_t sent = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) loopback.server.Send(connection, message.data(), message.size());
        sent += batch;
        received.target = sent;
        received.WaitFor(sent);
    }
    state.SetItemsProcessed(sent);
    state.SetBytesProcessed(sent * static_cast<std::int64_t>(message.size()));
    tether::Close(handle);
}
BENCHMARK(BM_ServerToClient)->Arg(100)->Arg(64 * 1024)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_RoundTrip(benchmark::State& state) {
    const std::string request(static_cast<std::size_t>(state.range(0)), 'r');
    Loopback loopback(true);
    Counter replies;
    auto handle = tether::Connect("127.0.0.1", loopback.port, &Counter::Callback, &replies);
    if (handle == 0) return state.SkipWithError("connect failed");
    std::vector<double> micros;
    std::int64_t expected = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        replies.target = ++expected;
        tether::Send(handle, request.data(), static_cast<long>(request.size()), false);
        replies.WaitFor(expected);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    }
    tether::Close(handle);
}
BENCHMARK(BM_RoundTrip)->Arg(100)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
