#pragma once
// How long the user-interface thread keeps the user waiting: a thread of its own posts
// a closure to the Qt event loop, waits until it ran, notes the delay, and posts the
// next one after a short pause. The longest delay is the longest the window could not
// answer a click. A stall is an answer over `stallLimit` (printed as it happens when
// `reportStalls`); no answer within `hangLimit` ends the process (exit 3), so that a hung
// benchmark does not hang its caller.

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>

namespace bench_support {

class UiWatchdog {
public:
    struct Figures {
        std::uint64_t answers = 0;
        std::uint64_t stalls = 0;   // answers over the stall limit
        std::int64_t longestMs = 0;
        std::int64_t longestAtMs = 0;  // when the longest wait began, on Now()'s clock
    };

    UiWatchdog(std::chrono::milliseconds period, std::chrono::milliseconds stallLimit,
               std::chrono::seconds hangLimit = std::chrono::seconds(30), bool reportStalls = true)
        : period_(period), stallLimit_(stallLimit), hangLimit_(hangLimit), reportStalls_(reportStalls),
          thread_([this] { Run(); }) {}
    ~UiWatchdog() {
        stop_ = true;
        thread_.join();
    }

    static std::int64_t Now() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // Everything since the start.
    Figures Total() const { return Read(total_); }
    // Everything since the last Mark (or the start).
    Figures SinceMark() const { return Read(window_); }
    void Mark() { Reset(window_); }

    // The process's own progress stamp: `progressLimit` without a Progress ends it.
    void Progress() { progress_ = Now(); }
    void SetProgressLimit(std::chrono::seconds limit) { progressLimit_ = limit.count() * 1000; }
    // From now on the process must end within `limit` (the teardown).
    void Deadline(std::chrono::seconds limit) { deadline_ = Now() + limit.count() * 1000; }
    // Run before a hang ends the process (stopping the service it started, say); set it
    // before the hang can happen.
    void OnHang(std::function<void()> action) { onHang_ = std::move(action); }

private:
    struct Counters {
        std::atomic<std::uint64_t> answers{0}, stalls{0};
        std::atomic<std::int64_t> longestMs{0}, longestAtMs{0};
    };
    static Figures Read(const Counters& c) {
        return {c.answers.load(), c.stalls.load(), c.longestMs.load(), c.longestAtMs.load()};
    }
    static void Reset(Counters& c) {
        c.answers = 0;
        c.stalls = 0;
        c.longestMs = 0;
        c.longestAtMs = 0;
    }
    static void Count(Counters& c, std::int64_t waited, std::int64_t sent, bool stalled) {
        ++c.answers;
        if (stalled) ++c.stalls;
        if (waited > c.longestMs) {
            c.longestMs = waited;
            c.longestAtMs = sent;
        }
    }

    [[noreturn]] void GiveUp() {
        if (onHang_) onHang_();
        _exit(3);
    }

    void Run() {
        progress_ = Now();
        while (!stop_) {
            const std::int64_t sent = Now();
            auto answered = std::make_shared<std::atomic<std::int64_t>>(0);
            QMetaObject::invokeMethod(qApp, [answered] { *answered = Now(); }, Qt::QueuedConnection);
            bool reported = false;
            while (!stop_ && *answered == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                const std::int64_t waited = Now() - sent;
                if (reportStalls_ && !reported && waited > stallLimit_.count()) {
                    reported = true;
                    std::printf("[watchdog] the user-interface thread has not answered for %.1f s\n", waited / 1000.0);
                    std::fflush(stdout);
                }
                if (waited > hangLimit_.count() * 1000) {
                    std::printf("[watchdog] HANG: the user-interface thread did not answer for %lld s; giving up\n",
                                static_cast<long long>(hangLimit_.count()));
                    std::fflush(stdout);
                    GiveUp();
                }
            }
            if (*answered != 0) {
                const std::int64_t waited = *answered - sent;
                const bool stalled = waited > stallLimit_.count();
                Count(total_, waited, sent, stalled);
                Count(window_, waited, sent, stalled);
            }
            if (deadline_ != 0 && Now() > deadline_) {
                std::printf("[watchdog] HANG: the program did not end in time; giving up\n");
                std::fflush(stdout);
                GiveUp();
            }
            if (deadline_ == 0 && progressLimit_ > 0 && Now() - progress_ > progressLimit_) {
                std::printf("[watchdog] HANG: no progress for %lld s; giving up\n",
                            static_cast<long long>(progressLimit_ / 1000));
                std::fflush(stdout);
                GiveUp();
            }
            std::this_thread::sleep_for(period_);
        }
    }

    const std::chrono::milliseconds period_, stallLimit_;
    const std::chrono::seconds hangLimit_;
    const bool reportStalls_;
    std::function<void()> onHang_;
    std::atomic<bool> stop_{false};
    Counters total_, window_;
    std::atomic<std::int64_t> progress_{0};
    std::atomic<std::int64_t> progressLimit_{0};
    std::atomic<std::int64_t> deadline_{0};
    std::thread thread_;
};

}  // namespace bench_support
