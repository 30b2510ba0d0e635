#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "app/task_threads.h"
#include "platform/thread_messages.h"
#include "platform/tick.h"

using app::TaskDispatcher;
using app::TaskPump;
using app::WorkerPool;
using platform::Message;

namespace {
template <class Predicate>
bool WaitFor(Predicate done, int timeoutMs = 5000) {
    std::uint32_t start = platform::TickCount();
    while (!done()) {
        if (platform::TickSince(start) > static_cast<std::uint32_t>(timeoutMs)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Counted {
    static inline std::atomic<int> alive{0};
    Counted() { ++alive; }
    Counted(const Counted&) { ++alive; }
    Counted(Counted&&) noexcept { ++alive; }
    ~Counted() { --alive; }
};
}  // namespace

TEST(WorkerPool, StopRunsEveryQueuedTaskBeforeAllWorkersExit) {
    std::atomic<int> ran{0};
    WorkerPool pool(2);
    platform::Event gate(true, false);
    // Hold both workers so that all 50 tasks are still queued when the stop comes.
    for (int i = 0; i < 2; ++i) pool.Queue([&] { gate.Wait(); });
    for (int i = 0; i < 50; ++i) pool.Queue([&] { ++ran; });
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate.Set();
    });
    pool.Stop();
    EXPECT_EQ(ran, 50);
    EXPECT_EQ(pool.GetStats().workers, 0);
    releaser.join();
}

TEST(WorkerPool, ShrinkingByMoreThanTheCountStopsExactlyAllWorkers) {
    WorkerPool pool(3);
    EXPECT_EQ(pool.GetStats().workers, 3);
    EXPECT_EQ(pool.Resize(-5), 3) << "the result is the count before the workers have left";
    ASSERT_TRUE(WaitFor([&] { return pool.GetStats().workers == 0; }));
    EXPECT_EQ(pool.Resize(2), 2);
    std::atomic<int> ran{0};
    pool.Queue([&] { ++ran; });
    pool.Stop();
    EXPECT_EQ(ran, 1) << "workers added after a full shrink still serve, and stop still waits for them";
}

TEST(WorkerPool, TasksRunInParallelAcrossWorkers) {
    WorkerPool pool(4);
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    for (int i = 0; i < 8; ++i)
        pool.Queue([&] {
            int now = ++inside;
            int seen = most;
            while (now > seen && !most.compare_exchange_weak(seen, now)) {}
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            --inside;
        });
    pool.Stop();
    EXPECT_GE(most, 2);
}

TEST(TaskPump, PostedMessagesReachTheirHandlersAndUnknownOnesAreFreed) {
    WorkerPool pool(2);
    TaskDispatcher dispatcher;
    std::atomic<int> opened{0};
    std::atomic<std::uintptr_t> cell{0};
    dispatcher.Register(1028, [&](Message& message) {
        ASSERT_NE(platform::PayloadAs<std::string>(message), nullptr);
        cell = message.wParam;
        ++opened;
    });
    TaskPump pump(pool, dispatcher);
    ASSERT_TRUE(pump.Start());
    EXPECT_TRUE(platform::PostThreadMessage(pump.ThreadId(),
                                            Message(1028, 7, 0, platform::MakePayload(std::string("cam-1")))));
    EXPECT_TRUE(platform::PostThreadMessage(pump.ThreadId(), Message(4242, 0, 0, platform::MakePayload(Counted()))));
    ASSERT_TRUE(WaitFor([&] { return opened == 1; }));
    EXPECT_EQ(cell, 7u);
    pump.Stop();
    pool.Stop();
    EXPECT_EQ(Counted::alive, 0) << "the payload of an unhandled message must be freed";
}

TEST(TaskPump, StopsPromptlyAndRefusesLaterPosts) {
    WorkerPool pool(1);
    TaskDispatcher dispatcher;
    TaskPump pump(pool, dispatcher);
    ASSERT_TRUE(pump.Start());
    platform::ThreadId id = pump.ThreadId();
    std::uint32_t start = platform::TickCount();
    pump.Stop();
    EXPECT_LT(platform::TickSince(start), 1000u);
    EXPECT_FALSE(platform::PostThreadMessage(id, Message(1028, 0, 0, platform::MakePayload(Counted()))));
    EXPECT_EQ(Counted::alive, 0);
}
