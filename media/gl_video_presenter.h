#pragma once
// Shows a packed 4:2:2 or planar 4:2:0 display surface through OpenGL textures,
// converting to RGB with the BT.601 studio-range equations in a fragment shader,
// scaled to the widget.

#include <QOpenGLFunctions>
#include <QOpenGLPaintDevice>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <memory>

#include "media/video_target.h"

namespace media {

class VideoOutputWidget;

class GlVideoPresenter final : public QOpenGLWidget, protected QOpenGLFunctions {
public:
    explicit GlVideoPresenter(VideoOutputWidget* owner);
    ~GlVideoPresenter() override;

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void DrawPicture();
    bool Upload(DisplaySurface& surface);
    void ReleaseTextures();

    VideoOutputWidget* owner_;
    std::unique_ptr<QOpenGLPaintDevice> overlayDevice_;  // made on the first overlay
    QOpenGLShaderProgram packed_;
    QOpenGLShaderProgram planar_;
    bool programsReady_ = false;
    GLuint textures_[3] = {0, 0, 0};
    // What the textures hold.
    std::uint64_t uploadedFrom_ = 0;  // surface serial
    std::uint64_t uploadedGeneration_ = 0;
};

}  // namespace media
