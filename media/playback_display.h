#pragma once
// Where a local recording's pictures go: the playback cell's window, through the same
// surfaces and presentation as a live camera's display stage. One per playback; the
// playback library calls Target()'s function on its play thread.

#include <QImage>
#include <cstdint>
#include <mutex>
#include <vector>

#include "libs/rewind/rewind.h"
#include "media/ddraw_show.h"
#include "platform/window_handles.h"

namespace media {

class PlaybackDisplay {
public:
    explicit PlaybackDisplay(platform::WindowHandle cell);
    ~PlaybackDisplay();
    PlaybackDisplay(const PlaybackDisplay&) = delete;
    PlaybackDisplay& operator=(const PlaybackDisplay&) = delete;

    // For TARN_PB_StartPlay; valid as long as this object.
    const TARN_PB_Display* Target() const { return &display_; }
    // Takes the picture off the cell (after the playback stopped) and forgets it.
    void Clear();
    // The picture shown last, for a snapshot; null when none was.
    QImage LastPicture() const;
    // The recorded time of that picture, seconds since 1970 (0 when none).
    long long LastPictureTime() const;

private:
    static void Show(void* user, const unsigned char* yuv, int width, int height, long long frameTime);

    const platform::WindowHandle cell_;
    TARN_PB_Display display_{};
    mutable std::mutex mutex_;
    CDDrawShow show_;
    std::vector<std::uint8_t> last_;
    int lastWidth_ = 0;
    int lastHeight_ = 0;
    long long lastTime_ = 0;
};

}  // namespace media
