#pragma once
// The window a camera draws into: a Qt widget with a platform window handle, which is
// all the camera knows of it. A video-wall cell is (or contains) one. Pictures arrive
// as a display surface filled on the play thread; the widget paints it scaled to its
// size, through OpenGL textures where an OpenGL context exists (packed 4:2:2 and
// planar 4:2:0 surfaces), otherwise from the 32-bit software surface.

#include <QColor>
#include <QPainter>
#include <QWidget>
#include <memory>

#include "media/display_path.h"
#include "media/video_target.h"

namespace media {

class GlVideoPresenter;

class VideoOutputWidget : public QWidget {
public:
    explicit VideoOutputWidget(QWidget* parent = nullptr);
    ~VideoOutputWidget() override;

    platform::WindowHandle Handle() const { return handle_; }
    std::shared_ptr<VideoTarget> Target() const { return target_; }
    bool UsesGpu() const { return presenter_ != nullptr; }

    // Messages other than the video's own go to this procedure (for example the
    // wall cell's); without one they are ignored.
    void SetMessageHandler(platform::WindowProc handler) { handler_ = std::move(handler); }

    // Shown while no picture is attached (the cell's background by default).
    void SetBackground(const QColor& colour);

    // Present requests handled so far (tests, diagnostics).
    int Presents() const { return presents_; }
    // Of those, the ones that showed a camera's picture (not the waiting picture).
    int CameraPresents() const { return cameraPresents_; }

    // What is drawn over the picture (a cell's caption), on either path: by the
    // widget itself over the software surface, by the GPU presenter over its textures.
    virtual bool HasOverlay() const { return false; }
    virtual void PaintOverlay(QPainter& painter, const QRect& area) {
        (void)painter;
        (void)area;
    }
    // The overlay changed: repaints whichever of the two shows the picture, at once
    // with `now`.
    void OverlayChanged(bool now);

    // Whether this process takes the GPU display path (surface types 0 and 2). Decided
    // once, on the user-interface thread, and logged with the reason (see
    // display_path.h for the rules and how the user forces a path).
    static bool GpuPresentationAvailable();
    // What the platform and OpenGL offer (a fresh probe; on the user-interface thread).
    static GlCapabilities ProbeOpenGl();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::intptr_t OnMessage(platform::Message& message);
    void ShowSurfaceKind();

    platform::WindowHandle handle_ = 0;
    std::shared_ptr<VideoTarget> target_;
    GlVideoPresenter* presenter_ = nullptr;  // child widget, owned by Qt
    platform::WindowProc handler_;
    QColor background_{56, 60, 61};
    int presents_ = 0;
    int cameraPresents_ = 0;
};

}  // namespace media
