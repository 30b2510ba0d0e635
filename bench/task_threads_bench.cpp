// Worker pool throughput and the latency from posting a thread message to the task
// pump until a worker starts its handler.
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <vector>

#include "core/task_threads.h"
#include "platform/sync.h"
#include "platform/thread_messages.h"

namespace {

void BM_PoolThroughput(benchmark::State& state) {
    const int workers = static_cast<int>(state.range(0));
    constexpr int kTasks = 20000;
    for (auto _ : state) {
        core::WorkerPool pool(workers);
        std::atomic<int> ran{0};
        for (int i = 0; i < kTasks; ++i) pool.Queue([&] { ran.fetch_add(1, std::memory_order_relaxed); });
        pool.Stop();
        benchmark::DoNotOptimize(ran.load());
    }
    state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(BM_PoolThroughput)->Arg(1)->Arg(4)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PostToStartLatency(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    core::WorkerPool pool(20);
    core::TaskDispatcher dispatcher;
    platform::Event started(false, false);
    Clock::time_point startedAt;
    dispatcher.Register(1028, [&](platform::Message&) {
        startedAt = Clock::now();
        started.Set();
    });
    core::TaskPump pump(pool, dispatcher);
    pump.Start();
    std::vector<double> micros;
    for (auto _ : state) {
        auto postedAt = Clock::now();
        platform::PostThreadMessage(pump.ThreadId(), platform::Message(1028));
        started.Wait();
        micros.push_back(std::chrono::duration<double, std::micro>(startedAt - postedAt).count());
    }
    pump.Stop();
    pool.Stop();
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    }
}
BENCHMARK(BM_PostToStartLatency)->Iterations(2000)->UseRealTime();

void BM_ThreadMessageRoundTrip(benchmark::State& state) {
    platform::EnsureThreadMessageQueue();
    platform::ThreadId self = platform::CurrentThreadId();
    for (auto _ : state) {
        platform::PostThreadMessage(self, platform::Message(1));
        platform::Message message;
        platform::PeekThreadMessage(message);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ThreadMessageRoundTrip);

}  // namespace

BENCHMARK_MAIN();
