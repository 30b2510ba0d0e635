#pragma once
// When the play thread shows its next frame. Each frame is due one frame interval
// plus a smoothing delay after the one before it; the delay shrinks as packets queue
// up, so a live stream builds a short reserve against network jitter and then plays
// at its own rate. Due times are points of the steady clock, counted from the last
// due time rather than from when the thread happened to wake, so neither rounding
// nor a late wake-up accumulates into a slower pace.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace media {

using PaceClock = std::chrono::steady_clock;

constexpr auto kPlayStartWait = std::chrono::milliseconds(40);
// After a cycle without a frame, and after a frame whose processing alone took longer
// than its own frame time (the machine cannot keep up: leave it room).
constexpr auto kPlayIdleWait = std::chrono::milliseconds(40);
constexpr std::uint32_t kRepaintAfterIdleMs = 5000;
constexpr std::uint32_t kPlayIdleWaitMs = 40;
// From this depth on the stream has fallen well behind (a stall, or a sender whose
// clock runs fast): frames are shown at four thirds of their rate until it is back.
constexpr std::size_t kCatchUpDepth = 75;

// 30 ms with fewer than 10 packets queued, down by 5 ms per further 10, 0 from 50 on.
std::uint32_t SmoothingDelayMs(std::size_t queuedPackets);

// How long after one frame of a `fps` stream (fps > 0) the next is due, with
// `queuedPackets` waiting.
PaceClock::duration FrameStep(int fps, std::size_t queuedPackets);

// The play thread's pacing state across cycles. Time is passed in, so the rule runs
// the same under a test's clock.
class PlayPacer {
public:
    explicit PlayPacer(PaceClock::time_point start) : due_(start + kPlayStartWait) {}

    // When the next cycle should run.
    PaceClock::time_point Due() const { return due_; }
    std::uint32_t IdleCycles() const { return idle_; }

    // Records one cycle that started at `begun` and ended at `ended`, with `queued`
    // packets waiting before it; `fps` is RunOnce's result (0: no frame or a stage
    // refused). True when the last picture should be shown again: from the 126th
    // empty cycle in a row on, after every further empty cycle.
    bool AfterCycle(int fps, std::size_t queued, PaceClock::time_point begun, PaceClock::time_point ended);

private:
    PaceClock::time_point due_;
    std::uint32_t idle_ = 0;
};

}  // namespace media
