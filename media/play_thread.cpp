#include "media/play_thread.h"

#include "media/play_pacing.h"
#include "platform/thread_priority.h"

namespace media {

bool PlayThread::Start() {
    return thread_.Start([this](core::ThreadWrapper& self) { Run(self); }) == 1;
}

void PlayThread::Run(core::ThreadWrapper& self) {
    // Decoding a wall of cameras can take every processor: the window must still answer
    // (and paint what was decoded) first.
    platform::SetCurrentThreadBelowNormal();
    PlayPacer pacer(PaceClock::now());
    while (!self.WaitForStopUntil(pacer.Due())) {
        self.Beat();
        const std::size_t queued = video_.Size();
        const PaceClock::time_point begun = PaceClock::now();
        const int fps = chain_.RunOnce();
        if (pacer.AfterCycle(fps, queued, begun, PaceClock::now())) chain_.Repaint();
    }
}

}  // namespace media
