#include "sim/video_clip.h"

#include <QImage>

#include <algorithm>
#include <cstdio>

#include "sim/service_store.h"

namespace sim {

std::string ClipLook::Key() const {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "|%dx%d@%d/q%d/k%d|%.4f,%.4f,%.3f,%d", settings.width, settings.height,
                  settings.frameRate, settings.qp, settings.keyFrameSeconds, view.centerX, view.centerY, view.zoom, view.iris);
    return cameraId + "|" + name + "|" + label + numbers + "|" + std::to_string(clockStart);
}

std::size_t VideoClip::NextKeyFrame(std::size_t index) const {
    for (std::size_t i = index; i < frames.size(); ++i)
        if (frames[i].key) return i;
    return 0;
}

std::shared_ptr<const VideoClip> EncodeClip(const ClipLook& look, int seconds, std::time_t clockStart,
                                            std::string* error) {
    auto encoder = H264Encoder::Open(look.settings, error);
    if (!encoder) return nullptr;
    auto clip = std::make_shared<VideoClip>();
    clip->settings = look.settings;
    const int frameRate = look.settings.frameRate;
    const int count = std::max(1, seconds) * frameRate;
    clip->frames.reserve(static_cast<std::size_t>(count));
    QImage picture(look.settings.width, look.settings.height, QImage::Format_RGB32);
    PictureText text{look.cameraId, look.name, {}, look.label, 0, count};
    for (int i = 0; i < count; ++i) {
        // The clock moves in whole seconds through the clip.
        text.clock = FormatDateTime(clockStart + i / frameRate);
        text.frameIndex = i;
        DrawCameraPicture(picture, text, look.view);
        EncodedFrame frame;
        if (!encoder->Encode(picture, i % (frameRate * std::clamp(look.settings.keyFrameSeconds, 1, 60)) == 0, frame)) {
            if (error) *error = "encoding failed";
            return nullptr;
        }
        clip->bytes += frame.data.size();
        clip->frames.push_back(std::move(frame));
    }
    return clip;
}

ClipCache::ClipCache(Options options) : options_(std::move(options)) {}

std::shared_ptr<const VideoClip> ClipCache::Get(const ClipLook& look) {
    const std::string key = look.Key();
    const auto now = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    auto it = entries_.find(key);
    if (it != entries_.end() && (!it->second.ready || now - it->second.made < options_.maxAge)) {
        it->second.used = now;
        ++stats_.hits;
        std::shared_future<Clip> clip = it->second.clip;
        lock.unlock();  // another link may be encoding this look right now
        return clip.get();
    }
    if (it != entries_.end()) {
        stats_.bytes -= it->second.bytes;
        entries_.erase(it);
    }
    std::promise<Clip> promise;
    Entry entry;
    entry.clip = promise.get_future().share();
    entry.made = entry.used = now;
    entries_.emplace(key, std::move(entry));
    ++stats_.encodes;
    lock.unlock();

    std::time_t clockStart = look.clockStart;
    if (clockStart == 0) clockStart = options_.wallClock ? options_.wallClock() : std::time(nullptr);
    Clip clip = EncodeClip(look, options_.clipSeconds, clockStart);
    promise.set_value(clip);

    lock.lock();
    it = entries_.find(key);
    if (it != entries_.end()) {
        if (!clip) {
            entries_.erase(it);  // the next request tries again
        } else {
            it->second.ready = true;
            it->second.bytes = clip->bytes;
            stats_.bytes += clip->bytes;
        }
    }
    EvictOverBudget();
    return clip;
}

void ClipCache::EvictOverBudget() {
    while (stats_.bytes > options_.maxBytes) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->second.ready && (oldest == entries_.end() || it->second.used < oldest->second.used)) oldest = it;
        if (oldest == entries_.end()) break;
        // Links still playing the clip keep it alive through their own reference.
        stats_.bytes -= oldest->second.bytes;
        entries_.erase(oldest);
    }
}

ClipCache::Stats ClipCache::GetStats() const {
    std::lock_guard lock(mutex_);
    Stats stats = stats_;
    stats.clips = entries_.size();
    return stats;
}

}  // namespace sim
