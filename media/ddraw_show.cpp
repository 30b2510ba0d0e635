#include "media/ddraw_show.h"

#include "core/log_file.h"
#include "media/yuv_convert.h"

#include <algorithm>

namespace media {

CDDrawShow::~CDDrawShow() { Destroy(); }

bool CDDrawShow::Create(platform::WindowHandle window, int type, int width, int height) {
    if (window == 0 || window == static_cast<platform::WindowHandle>(-1)) return false;
    // The display device: the window's own presenter; GPU formats need one that runs
    // on an OpenGL context.
    std::shared_ptr<VideoTarget> target = VideoTarget::Find(window);
    if (!target || (type != kSurfacePlain && !target->GpuCapable())) {
        core::LogWrite(" CDDrawShow::CreateDDrawObj 创建DirectCraw对象失败!");
        return false;
    }
    if (!platform::IsWindowHandle(window)) return false;
    // The primary surface: the window must still take pictures.
    if (!target->IsOpen()) {
        core::LogWrite(" CDDrawShow::CreateDDrawObj 创建DirectCraw主表面失败!");
        return false;
    }
    // The window clips what it shows to itself; there is no separate clipper to make.
    target_ = std::move(target);
    pictureWidth_ = width;
    pictureHeight_ = height;
    if (!MakeSurface(type)) {
        target_.reset();
        surface_.reset();
        core::LogWrite(" CDDrawShow::CreateDDrawObj 创建辅表面失败!");
        return false;
    }
    window_ = window;
    type_ = type;
    return true;
}

namespace {
// A side of the software surface: the picture's, or the window's when that is smaller
// (and known).
int FitSide(int picture, int window) { return window > 0 ? std::min(picture, window) : picture; }
}  // namespace

bool CDDrawShow::MakeSurface(int type) {
    int width = pictureWidth_;
    int height = pictureHeight_;
    if (type == kSurfacePlain) {
        width = FitSide(width, target_->ClientWidth());
        height = FitSide(height, target_->ClientHeight());
    }
    auto surface = std::make_shared<DisplaySurface>(type, width, height);
    if (surface->Bits() == nullptr) return false;
    surface_ = std::move(surface);
    return true;
}

void CDDrawShow::FitPlainSurface() {
    if (surface_->Type() != kSurfacePlain) return;
    const int width = FitSide(pictureWidth_, target_->ClientWidth());
    const int height = FitSide(pictureHeight_, target_->ClientHeight());
    if (width == surface_->Width() && height == surface_->Height()) return;
    // The window was resized: a surface of its new size; the old one goes when the
    // window takes the new one.
    std::shared_ptr<DisplaySurface> old = surface_;
    if (!MakeSurface(kSurfacePlain)) surface_ = std::move(old);
}

bool CDDrawShow::CreateAny(platform::WindowHandle window, int width, int height) {
    for (int type : {kSurfaceYuy2, kSurfaceYv12, kSurfacePlain})
        if (Create(window, type, width, height)) return true;
    return false;
}

int CDDrawShow::Draw(int width, int height, const std::uint8_t* y, const std::uint8_t* second,
                     const std::uint8_t* third, bool cameraPicture) {
    if (!surface_ || pictureWidth_ != width || pictureHeight_ != height) {
        const platform::WindowHandle window = window_;
        Destroy();
        if (!CreateAny(window, width, height)) {
            core::LogWrite("创建显存失败, 无法使用显卡播放！");
            return 0;
        }
    }
    if (!target_ || !surface_ || !y || !second || !third) return 0;
    if (!target_->IsOpen()) return 0;  // the window is gone: the surface cannot be locked
    FitPlainSurface();

    {
        std::lock_guard lock(surface_->Mutex());
        const PlanarPicture picture{y, second, third, width, height};
        std::uint8_t* bits = surface_->Bits();
        switch (surface_->Type()) {
            case kSurfaceYuy2: PackYuy2(picture, bits, surface_->Pitch()); break;
            case kSurfaceYv12: CopyYv12(picture, bits, surface_->Pitch()); break;
            default:
                if (surface_->Width() == width && surface_->Height() == height)
                    ConvertToBgrx(picture, bits, surface_->Pitch());
                else
                    ConvertToBgrxScaled(picture, bits, surface_->Pitch(), surface_->Width(), surface_->Height(), scale_);
                break;
        }
        surface_->SetHoldsCameraPicture(cameraPicture);
        surface_->Filled();
    }

    // Blit: the window shows the surface scaled to its client area. A window that let
    // go of the surface (erased, or recreated its presenter) takes it again.
    if (!target_->Shows(surface_.get()) && !target_->Attach(surface_)) return 0;
    target_->Present();
    return 1;
}

void CDDrawShow::Destroy() {
    if (target_ && surface_) target_->Detach(surface_.get());
    surface_.reset();
    target_.reset();
}

}  // namespace media
