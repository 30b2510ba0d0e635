#include "media/mixer_stage.h"

#include <cstring>

namespace media {

void FillRecordingMark(std::uint8_t* picture, int width, int height, GLZ_OSD& osd, GLZ_PICTURE& description) {
    std::memset(&osd, 0, sizeof osd);
    GLZ_TEXT_ENTRY& entry = osd.texts[1];
    entry.enabled = 1;
    entry.x = width * 7 / 8;
    entry.y = height * 9 / 10 - 30;
    entry.fontIndex = width <= 352 ? 0 : width <= 704 ? 1 : 2;
    entry.style = 0;
    entry.anchor = 'L';
    std::memcpy(entry.text, kRecordingMarkGbk, sizeof kRecordingMarkGbk);
    description = GLZ_PICTURE{picture, width, height, 0};
}

CDoMixer::CDoMixer(StageHost& host) : CDoHandle(host), mixer_(GLZ_Initialize()) {}

CDoMixer::~CDoMixer() {
    std::lock_guard lock(mutex_);
    GLZ_Uninitialize(mixer_);
}

bool CDoMixer::Init() {
    std::lock_guard lock(mutex_);
    window_ = host_.DisplayWindow();
    width_ = 0;
    height_ = 0;
    return window_ != 0;
}

bool CDoMixer::Release() {
    std::lock_guard lock(mutex_);
    return true;
}

bool CDoMixer::Process(StageFrame& frame) {
    std::lock_guard lock(mutex_);
    if (host_.IsRecording() && frame.picture && frame.width > 0 && frame.height > 0) {
        GLZ_PICTURE description{};
        FillRecordingMark(frame.picture, frame.width, frame.height, osd_, description);
        GLZ_MixOSD(mixer_, &osd_, &description);
    }
    const platform::WindowHandle window = host_.DisplayWindow();
    if (frame.width != width_ || frame.height != height_ || window != window_) {
        width_ = frame.width;
        height_ = frame.height;
        window_ = window;
    }
    return true;
}

}  // namespace media
