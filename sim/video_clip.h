#pragma once
// Encoding must not limit a simulator serving many cameras: each camera's look is
// encoded once into a short clip (a few seconds, a key frame every second unless the
// camera is set otherwise) that links replay in a loop with advancing timestamps. The cache shares clips between links of
// the same look, encodes each look once even when several links ask at the same time,
// renews clips after a while (so the clock in the picture stays roughly current) and
// forgets the least recently used ones beyond a byte budget.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/camera_picture.h"
#include "sim/h264_encoder.h"

namespace sim {

struct ClipLook {
    std::string cameraId;
    std::string name;
    std::string label;  // drawn after the name; recordings carry "回放"
    EncoderSettings settings;
    SceneView view;
    std::time_t clockStart = 0;  // the time the clock shows first; 0: when the clip is made

    std::string Key() const;
};

struct VideoClip {
    EncoderSettings settings;
    std::vector<EncodedFrame> frames;  // frames[0] is a key frame
    std::size_t bytes = 0;

    // The first key frame at or after `index` (wrapping to 0 at the end).
    std::size_t NextKeyFrame(std::size_t index) const;
};

// Draws and encodes `seconds` of a look; the clock starts at `clockStart`. Nothing
// when the encoder cannot be opened.
std::shared_ptr<const VideoClip> EncodeClip(const ClipLook& look, int seconds, std::time_t clockStart,
                                            std::string* error = nullptr);

class ClipCache {
public:
    struct Options {
        int clipSeconds = 4;
        std::size_t maxBytes = 256u << 20;
        std::chrono::seconds maxAge{600};
        std::function<std::time_t()> wallClock;  // the clock drawn into clips; default now
    };
    struct Stats {
        std::size_t encodes = 0;
        std::size_t hits = 0;
        std::size_t clips = 0;
        std::size_t bytes = 0;
    };

    explicit ClipCache(Options options);
    ClipCache(const ClipCache&) = delete;
    ClipCache& operator=(const ClipCache&) = delete;

    // The clip of a look, encoding it first when it is missing or too old (the caller
    // waits). Nothing when it cannot be encoded.
    std::shared_ptr<const VideoClip> Get(const ClipLook& look);
    Stats GetStats() const;
    // The length of every clip.
    int ClipSeconds() const { return std::max(1, options_.clipSeconds); }

private:
    using Clip = std::shared_ptr<const VideoClip>;
    struct Entry {
        std::shared_future<Clip> clip;
        std::chrono::steady_clock::time_point made;
        std::chrono::steady_clock::time_point used;
        std::size_t bytes = 0;
        bool ready = false;
    };
    void EvictOverBudget();

    const Options options_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> entries_;
    Stats stats_;
};

}  // namespace sim
