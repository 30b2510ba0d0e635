#include "libs/glaze/glaze.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "libs/glaze/gbk_text.h"
#include "libs/glaze/text_raster.h"
#include "libs/glaze/yuv_blend.h"

namespace glaze {
namespace {

constexpr int kFontPixels[] = {16, 24, 32};
constexpr std::size_t kCachedTexts = 8;

// One mixer: its font and the texts it drew lately (an on-screen text rarely
// changes, so it is rendered once and blended on every picture).
class Mixer {
public:
    void Draw(const GLZ_TEXT_ENTRY& entry, std::uint8_t* picture, int width, int height) {
        const int fontIndex = std::clamp(entry.fontIndex, 0, 2);
        const std::size_t length = strnlen(entry.text, sizeof entry.text);
        if (length == 0) return;
        const TextMask& mask = Lookup(std::string(entry.text, length), kFontPixels[fontIndex]);
        if (mask.width == 0) return;
        int x = entry.x;
        if (entry.anchor == 'R') x -= mask.width;
        if (entry.anchor == 'C') x -= mask.width / 2;
        const YuvColour colour = entry.style == 0 ? ToYuv(235, 32, 32) : ToYuv(240, 240, 240);
        BlendMask(picture, width, height, mask, x, entry.y, colour);
    }

    std::mutex mutex;

private:
    struct Cached {
        std::string gbk;
        int pixels;
        TextMask mask;
    };
    const TextMask& Lookup(const std::string& gbk, int pixels) {
        for (auto it = cache_.begin(); it != cache_.end(); ++it) {
            if (it->pixels == pixels && it->gbk == gbk) {
                cache_.splice(cache_.begin(), cache_, it);
                return cache_.front().mask;
            }
        }
        cache_.push_front({gbk, pixels, raster_.Render(DecodeGbk(gbk.data(), gbk.size()), pixels)});
        if (cache_.size() > kCachedTexts) cache_.pop_back();
        return cache_.front().mask;
    }

    TextRaster raster_;
    std::list<Cached> cache_;
};

class MixerTable {
public:
    static MixerTable& Get() {
        static MixerTable* table = new MixerTable;  // handles may be used during exit
        return *table;
    }
    int Add() {
        std::lock_guard lock(mutex_);
        do {
            next_ = next_ >= 0x7FFFFFFF ? 1 : next_ + 1;
        } while (mixers_.count(next_));
        mixers_[next_] = std::make_shared<Mixer>();
        return next_;
    }
    std::shared_ptr<Mixer> Find(int handle) {
        std::lock_guard lock(mutex_);
        auto it = mixers_.find(handle);
        return it == mixers_.end() ? nullptr : it->second;
    }
    void Remove(int handle) {
        std::shared_ptr<Mixer> doomed;  // freed outside the lock, after any running mix
        std::lock_guard lock(mutex_);
        auto it = mixers_.find(handle);
        if (it == mixers_.end()) return;
        doomed = std::move(it->second);
        mixers_.erase(it);
    }

private:
    std::mutex mutex_;
    int next_ = 0;
    std::map<int, std::shared_ptr<Mixer>> mixers_;
};

}  // namespace
}  // namespace glaze

GLAZE_API int GLZ_Initialize() {
    try {
        return glaze::MixerTable::Get().Add();
    } catch (...) {
        return 0;
    }
}

GLAZE_API void GLZ_MixOSD(int mixer, const GLZ_OSD* osd, const GLZ_PICTURE* picture) {
    if (osd == nullptr || picture == nullptr || picture->picture == nullptr || picture->width <= 0 ||
        picture->height <= 0)
        return;
    auto target = glaze::MixerTable::Get().Find(mixer);
    if (!target) return;
    std::lock_guard lock(target->mutex);
    for (const GLZ_TEXT_ENTRY& entry : osd->texts) {
        if (entry.enabled == 0) continue;
        try {
            target->Draw(entry, picture->picture, picture->width, picture->height);
        } catch (...) {
            // Out of memory while rendering: the picture stays as it was.
        }
    }
}

GLAZE_API void GLZ_Uninitialize(int mixer) { glaze::MixerTable::Get().Remove(mixer); }
