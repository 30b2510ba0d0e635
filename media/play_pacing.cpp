#include "media/play_pacing.h"

namespace media {

std::uint32_t SmoothingDelayMs(std::size_t queuedPackets) {
    if (queuedPackets < 10) return 30;
    if (queuedPackets < 20) return 25;
    if (queuedPackets < 30) return 20;
    if (queuedPackets < 40) return 15;
    if (queuedPackets < 50) return 10;
    return 0;
}

std::uint32_t FrameWaitMs(int fps, std::uint32_t smoothingMs, std::uint32_t elapsedMs) {
    const std::uint32_t wait = 1000u / static_cast<std::uint32_t>(fps) + smoothingMs - elapsedMs;
    if (wait > 1000) return kPlayIdleWaitMs;
    if (wait == 0) return kPlayZeroWaitMs;
    return wait;
}

bool PlayPacer::AfterCycle(int fps, std::uint32_t smoothingMs, std::uint32_t elapsedMs) {
    if (fps > 0) {
        idle_ = 0;
        wait_ = FrameWaitMs(fps, smoothingMs, elapsedMs);
        return false;
    }
    if (idle_ < 0xFFFFFFFFu / kPlayIdleWaitMs) ++idle_;  // saturates instead of wrapping after weeks
    wait_ = kPlayIdleWaitMs;
    return idle_ * kPlayIdleWaitMs > kRepaintAfterIdleMs;
}

}  // namespace media
