#include "media/playback_display.h"

#include <cstring>

#include "media/yuv_convert.h"

namespace media {

PlaybackDisplay::PlaybackDisplay(platform::WindowHandle cell) : cell_(cell) {
    display_.user = this;
    display_.showPicture = &PlaybackDisplay::Show;
}

PlaybackDisplay::~PlaybackDisplay() {
    std::lock_guard lock(mutex_);
    show_.Destroy();
}

void PlaybackDisplay::Show(void* user, const unsigned char* yuv, int width, int height, long long frameTime) {
    auto* self = static_cast<PlaybackDisplay*>(user);
    if (!yuv || width <= 0 || height <= 0) return;
    const std::size_t area = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const std::size_t bytes = area * 3 / 2;
    std::lock_guard lock(self->mutex_);
    // The surfaces are made for the cell on the first picture (and again for a new size).
    // Without a surface (the cell is gone) nothing is drawn, but the snapshot still works.
    if (self->show_.Surface() != nullptr || self->show_.CreateAny(self->cell_, width, height))
        self->show_.Draw(width, height, yuv, yuv + area, yuv + area * 5 / 4);
    self->last_.resize(bytes);
    std::memcpy(self->last_.data(), yuv, bytes);
    self->lastWidth_ = width;
    self->lastHeight_ = height;
    self->lastTime_ = frameTime;
}

void PlaybackDisplay::Clear() {
    std::lock_guard lock(mutex_);
    show_.Destroy();
    if (auto target = VideoTarget::Find(cell_)) target->Erase();
    last_.clear();
    lastWidth_ = lastHeight_ = 0;
    lastTime_ = 0;
}

QImage PlaybackDisplay::LastPicture() const {
    std::lock_guard lock(mutex_);
    if (last_.empty()) return {};
    QImage image(lastWidth_, lastHeight_, QImage::Format_RGB32);
    // Blue, green, red, unused in memory is Qt's 32-bit RGB on a little-endian machine.
    ConvertToBgrx(PlanesOf(last_.data(), lastWidth_, lastHeight_), image.bits(),
                  static_cast<int>(image.bytesPerLine()));
    return image;
}

long long PlaybackDisplay::LastPictureTime() const {
    std::lock_guard lock(mutex_);
    return lastTime_;
}

}  // namespace media
