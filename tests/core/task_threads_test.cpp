#include <atomic>
#include <mutex>
#include <string>
#include <vector>
#include <gtest/gtest.h>
#include <thread>

#include "core/task_threads.h"
#include "platform/thread_messages.h"
#include "platform/tick.h"

using core::TaskDispatcher;
using core::TaskPump;
using core::WorkerPool;
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
    EXPECT_TRUE(dispatcher.Register(1028, [&](Message& message) {
        ASSERT_NE(platform::PayloadAs<std::string>(message), nullptr);
        cell = message.wParam;
        ++opened;
    }));
    EXPECT_FALSE(dispatcher.Register(1028, [](Message&) { ADD_FAILURE() << "a second handler replaced the first"; }));
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

// An open and a close of one cell must not overtake each other on two workers, while
// tasks for other cells go on meanwhile.
TEST(TaskPump, TasksOfOneKeyRunInPostingOrderAndOtherKeysRunMeanwhile) {
    WorkerPool pool(4);
    TaskDispatcher dispatcher;
    std::mutex mutex;
    std::vector<std::string> trace;
    std::atomic<bool> otherCellRan{false};
    bool firstSawOtherCell = false;
    auto note = [&](std::string text) {
        std::lock_guard lock(mutex);
        trace.push_back(std::move(text));
    };
    auto handler = [&](Message& message) {
        const std::string name = std::to_string(message.wParam) + "/" + std::to_string(message.lParam);
        note("start " + name);
        if (message.lParam == 1) firstSawOtherCell = WaitFor([&] { return otherCellRan.load(); }, 3000);
        if (message.wParam == 9) otherCellRan = true;
        note("end " + name);
    };
    dispatcher.Register(1028, handler);
    dispatcher.Register(1029, handler);
    auto byCell = [](const Message& m) -> std::optional<std::int64_t> { return static_cast<std::int64_t>(m.wParam); };
    dispatcher.SetOrderKey(1028, byCell);
    dispatcher.SetOrderKey(1029, byCell);
    TaskPump pump(pool, dispatcher);
    ASSERT_TRUE(pump.Start());
    ASSERT_TRUE(platform::PostThreadMessage(pump.ThreadId(), Message(1028, 3, 1)));  // open cell 3, slow
    ASSERT_TRUE(platform::PostThreadMessage(pump.ThreadId(), Message(1029, 3, 2)));  // close cell 3
    ASSERT_TRUE(platform::PostThreadMessage(pump.ThreadId(), Message(1028, 3, 3)));  // open cell 3 again
    ASSERT_TRUE(platform::PostThreadMessage(pump.ThreadId(), Message(1028, 9, 4)));  // another cell
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard lock(mutex);
        return trace.size() == 8;
    }));
    pump.Stop();
    pool.Stop();
    EXPECT_TRUE(firstSawOtherCell) << "another cell's task must not wait for cell 3";
    std::vector<std::string> cell3;
    for (const auto& line : trace)
        if (line.find(" 3/") != std::string::npos) cell3.push_back(line);
    EXPECT_EQ(cell3, (std::vector<std::string>{"start 3/1", "end 3/1", "start 3/2", "end 3/2", "start 3/3", "end 3/3"}));
}
