#pragma once
// The display stage: shows each picture in the camera's cell window. Until the first
// real picture a waiting thread shows the waiting picture, and when no picture has
// come after ten seconds it asks the application to close the camera (thread message
// 1029 with the cell index and lParam 1).

#include <atomic>
#include <memory>

#include "core/thread_wrapper.h"
#include "media/ddraw_show.h"
#include "media/stage.h"
#include "media/waiting_picture.h"

namespace media {

struct DisplayTiming {
    std::uint32_t waitingPeriodMs = 10;
    std::uint32_t noPictureLimitMs = 10000;
};

class CDoShow final : public CDoHandle {
public:
    explicit CDoShow(StageHost& host, DisplayTiming timing = {});
    ~CDoShow() override;

    bool Init() override;
    bool Release() override;
    // Always true: a picture that cannot be shown does not stop the chain.
    bool Process(StageFrame& frame) override;

    // For tests and diagnostics.
    bool WaitingThreadRunning() const { return waiting_.IsRunning(); }
    int SurfaceType();
    bool SurfacesReady();

private:
    void WaitingLoop(core::ThreadWrapper& self);

    const DisplayTiming timing_;
    std::atomic<bool> dataArrived_{false};
    CDDrawShow ddraw_;
    platform::WindowHandle window_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool ready_ = false;
    // What the surface holds when it was the waiting picture, so that the waiting
    // thread does not convert the same picture every 10 ms.
    const std::uint8_t* waitingShown_ = nullptr;
    core::ThreadWrapper waiting_;
};

}  // namespace media
