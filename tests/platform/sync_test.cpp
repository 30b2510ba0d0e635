#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "platform/sync.h"
#include "platform/tick.h"

using namespace platform;

TEST(Event, AutoResetReleasesOneWaiterAndResets) {
    Event event(false, false);
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0)) << "an auto-reset event must reset after one waiter";
}

TEST(Event, ManualResetStaysSetForEveryWaiter) {
    Event event(true, false);
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(Event, SetFromAnotherThreadWakesWaiter) {
    Event event;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event.Set();
    });
    EXPECT_TRUE(event.Wait(5000));
    setter.join();
}

TEST(Semaphore, CountsAndRespectsMaximum) {
    Semaphore semaphore(1, 2);
    EXPECT_TRUE(semaphore.Release(1));
    EXPECT_FALSE(semaphore.Release(1)) << "going over the maximum must fail";
    EXPECT_EQ(semaphore.Count(), 2);
    EXPECT_TRUE(semaphore.Wait(0));
    EXPECT_TRUE(semaphore.Wait(0));
    EXPECT_FALSE(semaphore.Wait(0));
}

TEST(WaitForAny, ReturnsLowestSignalledIndexAndConsumesOnlyIt) {
    Semaphore first(0, 10);
    Event second(false, false);
    Event third(true, false);
    second.Set();
    third.Set();
    EXPECT_EQ(WaitForAny({&first, &second, &third}, 0), 1);
    EXPECT_EQ(WaitForAny({&first, &second, &third}, 0), 2);
    EXPECT_TRUE(third.IsSet()) << "a manual-reset event stays set after the wait";
}

TEST(WaitForAny, TimesOutWhenNothingIsSignalled) {
    Event a, b;
    std::uint32_t start = TickCount();
    EXPECT_EQ(WaitForAny({&a, &b}, 30), kWaitTimeout);
    EXPECT_GE(TickSince(start), 25u);
}

TEST(WaitForAny, WakesOnWhicheverObjectFiresLater) {
    Event a;
    Semaphore b(0, 5);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        b.Release(1);
    });
    EXPECT_EQ(WaitForAny({&a, &b}, 5000), 1);
    releaser.join();
}

TEST(WaitForAny, ManyWaitersShareSemaphoreCountsExactly) {
    Semaphore semaphore(0, 1000);
    Event stop(true, false);
    std::atomic<int> taken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            while (WaitForAny({&semaphore, &stop}) == 0) ++taken;
        });
    for (int i = 0; i < 500; ++i) semaphore.Release(1);
    while (semaphore.Count() > 0) std::this_thread::yield();
    stop.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(taken, 500);
}

TEST(Tick, DifferenceIsCorrectAcrossTheWrap) {
    EXPECT_EQ(TickDiff(5u, 0xFFFFFFFBu), 10u);
    EXPECT_EQ(TickDiff(1000u, 400u), 600u);
}
