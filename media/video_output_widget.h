#pragma once
// The window a camera draws into: a Qt widget with a platform window handle, which is
// all the camera knows of it. A video-wall cell is (or contains) one. Pictures arrive
// as a display surface filled on the play thread; the widget paints it scaled to its
// size, through OpenGL textures where an OpenGL context exists (packed 4:2:2 and
// planar 4:2:0 surfaces), otherwise from the 32-bit software surface.

#include <QColor>
#include <QWidget>
#include <memory>

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

    // Whether this process can show the GPU surface types: an OpenGL (not ES)
    // context can be made current. Decided once, on the user-interface thread.
    static bool GpuPresentationAvailable();

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
