#include "media/play_thread.h"

#include "media/play_pacing.h"
#include "platform/tick.h"

namespace media {

bool PlayThread::Start() {
    return thread_.Start([this](app::ThreadWrapper& self) { Run(self); }) == 1;
}

void PlayThread::Run(app::ThreadWrapper& self) {
    PlayPacer pacer;
    while (!self.WaitForStop(pacer.Wait())) {
        self.Beat();
        const std::uint32_t smoothing = SmoothingDelayMs(video_.Size());
        const std::uint32_t start = platform::TickCount();
        const int fps = chain_.RunOnce();
        if (pacer.AfterCycle(fps, smoothing, platform::TickSince(start))) chain_.Repaint();
    }
}

}  // namespace media
