#include "media/show_stage.h"

#include "core/message_ids.h"
#include "core/log_file.h"
#include "platform/tick.h"

namespace media {

CDoShow::CDoShow(StageHost& host, DisplayTiming timing) : CDoHandle(host), timing_(timing) {}

CDoShow::~CDoShow() {
    dataArrived_ = true;
    waiting_.Stop();
    std::lock_guard lock(mutex_);
    ddraw_.Destroy();
}

bool CDoShow::Init() {
    std::lock_guard lock(mutex_);
    dataArrived_ = false;
    window_ = host_.DisplayWindow();
    width_ = 0;
    height_ = 0;
    ready_ = false;
    waitingShown_ = nullptr;
    if (window_ == 0) return false;
    if (!waiting_.IsRunning()) waiting_.Start([this](core::ThreadWrapper& self) { WaitingLoop(self); });
    return true;
}

bool CDoShow::Release() {
    // The waiting thread takes the stage mutex in Process: stop it before taking the
    // mutex, or both would wait for each other.
    dataArrived_ = true;
    waiting_.Stop();
    std::lock_guard lock(mutex_);
    if (ready_) ddraw_.Destroy();
    ready_ = false;
    waitingShown_ = nullptr;
    if (auto target = VideoTarget::Find(window_)) target->Erase();
    return true;
}

int CDoShow::SurfaceType() {
    std::lock_guard lock(mutex_);
    return ready_ ? ddraw_.Type() : -1;
}

bool CDoShow::SurfacesReady() {
    std::lock_guard lock(mutex_);
    return ready_;
}

bool CDoShow::Process(StageFrame& frame) {
    if (frame.hasPicture && waiting_.IsRunning()) dataArrived_ = true;
    std::lock_guard lock(mutex_);
    if (!frame.picture || frame.width <= 0 || frame.height <= 0) return true;
    // The waiting thread may have waited for the mutex while the first real picture
    // was drawn: it must not paint over it.
    if (!frame.hasPicture && dataArrived_) return true;
    const platform::WindowHandle window = host_.DisplayWindow();
    if (window == 0) return true;  // the camera is closing
    if (frame.width != width_ || frame.height != height_ || window != window_) {
        width_ = frame.width;
        height_ = frame.height;
        window_ = window;
        if (ready_) ddraw_.Destroy();
        waitingShown_ = nullptr;
        ready_ = ddraw_.CreateAny(window, frame.width, frame.height);
        if (!ready_) core::LogWrite("创建显存失败, 无法使用显卡播放！");
    }
    // Without surfaces nothing is drawn; a new size or window tries again.
    if (!ready_) return true;
    const bool waitingPicture = frame.hasPicture == 0;
    if (waitingPicture && frame.picture == waitingShown_) {
        // The waiting picture is on the surface already and the window still shows it.
        if (auto surface = ddraw_.Surface()) {
            if (auto target = VideoTarget::Find(window_); target && target->Shows(surface.get())) return true;
        }
    }
    const std::uint8_t* picture = frame.picture;
    const std::size_t area = static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height);
    const int drawn =
        ddraw_.Draw(frame.width, frame.height, picture, picture + area, picture + area * 5 / 4, !waitingPicture);
    waitingShown_ = waitingPicture && drawn ? frame.picture : nullptr;
    return true;
}

void CDoShow::WaitingLoop(core::ThreadWrapper& self) {
    std::shared_ptr<const WaitingPicture> picture = LoadWaitingPicture();
    if (!picture) return;  // no waiting picture: no ten-second rule either
    StageFrame frame;
    frame.picture = const_cast<std::uint8_t*>(picture->data());  // only read
    frame.width = kWaitingWidth;
    frame.height = kWaitingHeight;
    frame.hasPicture = 0;
    while (!self.WaitForStop(timing_.waitingPeriodMs)) {
        self.Beat();
        if (dataArrived_) return;
        if (platform::TickSince(self.StartTick()) > timing_.noPictureLimitMs) {
            core::LogWrite("十秒还未收到数据，关闭该摄像头!\n");
            // The camera rides along: the close must not end another camera opened in
            // the cell meanwhile.
            host_.PostToTaskThread(platform::Message(core::kTaskCloseCell, static_cast<std::uintptr_t>(host_.CellIndex()), 1,
                                                     platform::MakePayload(host_.CameraId())));
            return;
        }
        Process(frame);
    }
}

}  // namespace media
