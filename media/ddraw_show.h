#pragma once
// The display objects of one window: the window's video target (which stands for the
// display device, its primary surface and clipper) and one off-screen surface in one
// of three formats. The play thread fills the surface; the window's thread blits it,
// scaled to the window. The GPU surfaces hold the whole picture (the GPU scales it);
// the software surface holds it at the window's size when the window is smaller.

#include <cstdint>
#include <memory>

#include "media/video_target.h"
#include "media/yuv_convert.h"

namespace media {

class CDDrawShow {
public:
    CDDrawShow() = default;
    virtual ~CDDrawShow();
    CDDrawShow(const CDDrawShow&) = delete;
    CDDrawShow& operator=(const CDDrawShow&) = delete;

    // Prepares `window` for pictures of width x height on a surface of `type`
    // (kSurfaceYuy2, kSurfaceYv12: only where the window has a GPU presenter;
    // kSurfacePlain: any video window). Logs the failing step.
    bool Create(platform::WindowHandle window, int type, int width, int height);
    // Fills the surface with one picture (Y, second plane V, third plane U) and asks
    // the window to show it. 1 when drawn, 0 otherwise.
    int Draw(int width, int height, const std::uint8_t* y, const std::uint8_t* second, const std::uint8_t* third,
             bool cameraPicture = true);
    void Destroy();

    int Type() const { return type_; }
    std::shared_ptr<DisplaySurface> Surface() const { return surface_; }

    // Tries types 0, 2 and 1 in this order.
    bool CreateAny(platform::WindowHandle window, int width, int height);

private:
    // The software surface's size for the current picture and window.
    void FitPlainSurface();
    bool MakeSurface(int type);

    std::shared_ptr<VideoTarget> target_;
    std::shared_ptr<DisplaySurface> surface_;
    platform::WindowHandle window_ = 0;
    int type_ = kSurfaceYv12;
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
    ScaleScratch scale_;
};

}  // namespace media
