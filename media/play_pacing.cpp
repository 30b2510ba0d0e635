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

namespace {
PaceClock::duration FrameInterval(int fps) {
    return std::chrono::duration_cast<PaceClock::duration>(std::chrono::seconds(1)) / fps;
}
}  // namespace

PaceClock::duration FrameStep(int fps, std::size_t queuedPackets) {
    const PaceClock::duration interval = FrameInterval(fps);
    if (queuedPackets >= kCatchUpDepth) return interval * 3 / 4;
    return interval + std::chrono::milliseconds(SmoothingDelayMs(queuedPackets));
}

bool PlayPacer::AfterCycle(int fps, std::size_t queued, PaceClock::time_point begun, PaceClock::time_point ended) {
    if (fps > 0) {
        idle_ = 0;
        const PaceClock::duration step = FrameStep(fps, queued);
        if (ended - begun > step) {
            due_ = ended + kPlayIdleWait;
            return false;
        }
        // Count from when this frame was due. A cycle that began more than a frame
        // late (the thread was held up) starts a new rhythm instead of rushing through
        // the backlog; a deep queue catches up at a bounded rate instead.
        const PaceClock::time_point base = begun - due_ > FrameInterval(fps) ? begun : due_;
        due_ = base + step;
        return false;
    }
    if (idle_ < 0xFFFFFFFFu / kPlayIdleWaitMs) ++idle_;  // saturates instead of wrapping after weeks
    due_ = ended + kPlayIdleWait;
    return idle_ * kPlayIdleWaitMs > kRepaintAfterIdleMs;
}

}  // namespace media
