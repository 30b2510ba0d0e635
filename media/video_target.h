#pragma once
// Where the display stage draws: an off-screen surface per camera, filled on the play
// thread, and the window that shows it, found by its window handle. The window's own
// thread (the user-interface thread for a video cell) blits the surface, scaled to
// the window, when it is asked to present.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/window_handles.h"

namespace media {

// Surface types, numbered as the display stage tries them.
enum SurfaceType : int {
    kSurfaceYuy2 = 0,   // packed 4:2:2, a GPU texture format
    kSurfacePlain = 1,  // 32-bit blue, green, red, unused: the software path
    kSurfaceYv12 = 2,   // planar 4:2:0 (Y, V, U), a GPU texture format
};

class DisplaySurface {
public:
    // Bits() is null when the memory could not be had.
    DisplaySurface(int type, int width, int height);
    DisplaySurface(const DisplaySurface&) = delete;
    DisplaySurface& operator=(const DisplaySurface&) = delete;

    // Unique for the life of the process (an address may come back for a new surface).
    std::uint64_t Serial() const { return serial_; }
    int Type() const { return type_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Pitch() const { return pitch_; }
    std::size_t Bytes() const { return bytes_; }
    std::uint8_t* Bits() { return bits_.get(); }
    const std::uint8_t* Bits() const { return bits_.get(); }

    // Held while the play thread fills the surface and while the window shows it.
    std::mutex& Mutex() { return mutex_; }
    // Counts fills, so that a GPU window uploads each picture once.
    std::uint64_t Generation() const { return generation_; }
    void Filled() { ++generation_; }
    // Whether the last fill was a camera's picture rather than the waiting picture, so
    // that the window can tell the first real picture apart (benchmarks, diagnostics).
    bool HoldsCameraPicture() const { return cameraPicture_; }
    void SetHoldsCameraPicture(bool camera) { cameraPicture_ = camera; }

private:
    const std::uint64_t serial_;
    const int type_;
    const int width_;
    const int height_;
    int pitch_ = 0;
    std::size_t bytes_ = 0;
    std::unique_ptr<std::uint8_t[]> bits_;
    std::mutex mutex_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<bool> cameraPicture_{false};
};

class VideoTarget {
public:
    // Makes `window` a video window; `gpu` tells whether it can show the GPU types.
    static std::shared_ptr<VideoTarget> Register(platform::WindowHandle window, bool gpu);
    static void Unregister(platform::WindowHandle window);
    static std::shared_ptr<VideoTarget> Find(platform::WindowHandle window);

    VideoTarget(platform::WindowHandle window, bool gpu) : window_(window), gpu_(gpu) {}

    platform::WindowHandle Window() const { return window_; }
    bool GpuCapable() const { return gpu_; }
    bool IsOpen() const { return open_; }

    // Display side, any thread.
    bool Attach(std::shared_ptr<DisplaySurface> surface);
    void Detach(const DisplaySurface* surface);
    bool Shows(const DisplaySurface* surface) const;
    // Asks the window to show the attached surface. At most one request is in flight,
    // so a window that is slower than the stream skips pictures instead of queueing.
    bool Present();
    // Detaches whatever is attached and asks the window to paint its background.
    void Erase();

    // The window's client area in pixels (0 x 0 until the window tells). The software
    // surface is converted at this size when the picture is larger, so neither the
    // conversion nor the blit handles pixels the window cannot show.
    int ClientWidth() const { return static_cast<int>(clientSize_.load() >> 32); }
    int ClientHeight() const { return static_cast<int>(clientSize_.load() & 0xFFFFFFFFu); }

    // Window side.
    void SetClientSize(int width, int height) {
        clientSize_ = (static_cast<std::uint64_t>(std::max(width, 0)) << 32) | static_cast<std::uint32_t>(std::max(height, 0));
    }
    std::shared_ptr<DisplaySurface> Current() const;
    // The window took the present request (call before painting).
    void PresentTaken() { presentPending_ = false; }
    // The window is going away: nothing attaches any more.
    void Close();

private:
    const platform::WindowHandle window_;
    const bool gpu_;
    std::atomic<bool> open_{true};
    std::atomic<bool> presentPending_{false};
    std::atomic<std::uint64_t> clientSize_{0};
    mutable std::mutex mutex_;
    std::shared_ptr<DisplaySurface> current_;
};

}  // namespace media
