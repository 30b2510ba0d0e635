#pragma once
// How long the play thread waits between frames: the stream's own frame interval plus
// a smoothing delay that shrinks as packets queue up, less the time the frame took.

#include <cstddef>
#include <cstdint>

namespace media {

constexpr std::uint32_t kPlayStartWaitMs = 40;
constexpr std::uint32_t kPlayIdleWaitMs = 40;
constexpr std::uint32_t kPlayZeroWaitMs = 5;
constexpr std::uint32_t kRepaintAfterIdleMs = 5000;

// 30 ms with fewer than 10 packets queued, down by 5 ms per further 10, 0 from 50 on.
std::uint32_t SmoothingDelayMs(std::size_t queuedPackets);

// The wait after a cycle that showed a frame of a `fps` stream (fps > 0), computed
// as an unsigned 32-bit value: over 1000 ms (including a cycle that took longer than
// the frame interval, which wraps) it is 40 ms; exactly 0 becomes 5 ms.
std::uint32_t FrameWaitMs(int fps, std::uint32_t smoothingMs, std::uint32_t elapsedMs);

// The play thread's pacing state across cycles.
class PlayPacer {
public:
    std::uint32_t Wait() const { return wait_; }
    std::uint32_t IdleCycles() const { return idle_; }
    // Records one cycle; `fps` is RunOnce's result (0: no frame or a stage refused).
    // True when the last picture should be shown again: from the 126th empty cycle in
    // a row on, after every further empty cycle.
    bool AfterCycle(int fps, std::uint32_t smoothingMs, std::uint32_t elapsedMs);

private:
    std::uint32_t wait_ = kPlayStartWaitMs;
    std::uint32_t idle_ = 0;
};

}  // namespace media
