#include "media/video_target.h"

#include <map>

#include "core/message_ids.h"
#include "media/yuv_convert.h"

namespace media {
namespace {

int PitchFor(int type, int width) {
    switch (type) {
        case kSurfaceYuy2: return ((width + 1) / 2 * 4 + 15) & ~15;
        case kSurfaceYv12: return (width + 15) & ~15;
        default: return width * 4;
    }
}

std::size_t BytesFor(int type, int height, int pitch) {
    if (type == kSurfaceYv12) return Yv12Bytes(height, pitch);
    return static_cast<std::size_t>(pitch) * height;
}

std::uint64_t NextSerial() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1);
}

class TargetTable {
public:
    static TargetTable& Get() {
        static TargetTable* table = new TargetTable;
        return *table;
    }
    std::mutex mutex;
    std::map<platform::WindowHandle, std::shared_ptr<VideoTarget>> targets;
};

}  // namespace

DisplaySurface::DisplaySurface(int type, int width, int height)
    : serial_(NextSerial()), type_(type), width_(width), height_(height) {
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return;
    pitch_ = PitchFor(type, width);
    const std::size_t bytes = BytesFor(type, height, pitch_);
    bits_.reset(new (std::nothrow) std::uint8_t[bytes]);
    if (bits_) bytes_ = bytes;
}

std::shared_ptr<VideoTarget> VideoTarget::Register(platform::WindowHandle window, bool gpu) {
    auto target = std::make_shared<VideoTarget>(window, gpu);
    TargetTable& table = TargetTable::Get();
    std::lock_guard lock(table.mutex);
    table.targets[window] = target;
    return target;
}

void VideoTarget::Unregister(platform::WindowHandle window) {
    std::shared_ptr<VideoTarget> doomed;
    TargetTable& table = TargetTable::Get();
    std::lock_guard lock(table.mutex);
    auto it = table.targets.find(window);
    if (it == table.targets.end()) return;
    doomed = std::move(it->second);
    table.targets.erase(it);
    doomed->Close();
}

std::shared_ptr<VideoTarget> VideoTarget::Find(platform::WindowHandle window) {
    TargetTable& table = TargetTable::Get();
    std::lock_guard lock(table.mutex);
    auto it = table.targets.find(window);
    return it == table.targets.end() ? nullptr : it->second;
}

bool VideoTarget::Attach(std::shared_ptr<DisplaySurface> surface) {
    std::lock_guard lock(mutex_);
    if (!open_) return false;
    current_ = std::move(surface);
    return true;
}

void VideoTarget::Detach(const DisplaySurface* surface) {
    std::shared_ptr<DisplaySurface> doomed;
    std::lock_guard lock(mutex_);
    if (current_.get() == surface) doomed = std::move(current_);
}

bool VideoTarget::Shows(const DisplaySurface* surface) const {
    std::lock_guard lock(mutex_);
    return current_.get() == surface;
}

bool VideoTarget::Present() {
    if (!open_) return false;
    if (presentPending_.exchange(true)) return true;
    if (platform::PostWindowMessage(window_, platform::Message(core::kVideoPresent))) return true;
    presentPending_ = false;
    return false;
}

void VideoTarget::Erase() {
    {
        std::shared_ptr<DisplaySurface> doomed;
        std::lock_guard lock(mutex_);
        doomed = std::move(current_);
    }
    platform::PostWindowMessage(window_, platform::Message(core::kVideoErase));
}

std::shared_ptr<DisplaySurface> VideoTarget::Current() const {
    std::lock_guard lock(mutex_);
    return current_;
}

void VideoTarget::Close() {
    open_ = false;
    std::shared_ptr<DisplaySurface> doomed;
    std::lock_guard lock(mutex_);
    doomed = std::move(current_);
}

}  // namespace media
