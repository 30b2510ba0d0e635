#include "media/video_output_widget.h"

#include <QGuiApplication>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>
#include <QResizeEvent>

#include "media/gl_video_presenter.h"
#include "ui/toolkit/ui_executor.h"

namespace media {

bool VideoOutputWidget::GpuPresentationAvailable() {
    static const bool available = [] {
        if (qEnvironmentVariableIsSet("LARKVIEW_NO_GPU")) return false;
        QOpenGLContext context;
        if (!context.create()) return false;
        QOffscreenSurface surface;
        surface.setFormat(context.format());
        surface.create();
        if (!surface.isValid() || !context.makeCurrent(&surface)) return false;
        const bool desktop = !context.isOpenGLES();
        context.doneCurrent();
        return desktop;
    }();
    return available;
}

VideoOutputWidget::VideoOutputWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (GpuPresentationAvailable()) {
        presenter_ = new GlVideoPresenter(this);
        presenter_->setAttribute(Qt::WA_TransparentForMouseEvents);
        presenter_->hide();
    }
    handle_ = platform::CreateWindowHandle([this](platform::Message& message) { return OnMessage(message); },
                                           ui::UiExecutor());
    target_ = VideoTarget::Register(handle_, presenter_ != nullptr);
    target_->SetClientSize(width(), height());
}

VideoOutputWidget::~VideoOutputWidget() {
    VideoTarget::Unregister(handle_);
    platform::DestroyWindowHandle(handle_);
}

void VideoOutputWidget::SetBackground(const QColor& colour) {
    background_ = colour;
    update();
}

std::intptr_t VideoOutputWidget::OnMessage(platform::Message& message) {
    switch (message.id) {
        case kVideoPresentMessage:
            target_->PresentTaken();
            ++presents_;
            if (const auto surface = target_->Current(); surface && surface->HoldsCameraPicture()) ++cameraPresents_;
            ShowSurfaceKind();
            if (presenter_ && presenter_->isVisible())
                presenter_->update();
            else
                update();
            return 0;
        case kVideoEraseMessage:
            ShowSurfaceKind();
            update();
            return 0;
        default:
            return handler_ ? handler_(message) : 0;
    }
}

void VideoOutputWidget::ShowSurfaceKind() {
    if (!presenter_) return;
    const std::shared_ptr<DisplaySurface> surface = target_->Current();
    const bool gpu = surface && surface->Type() != kSurfacePlain;
    if (gpu != presenter_->isVisible()) presenter_->setVisible(gpu);
}

void VideoOutputWidget::resizeEvent(QResizeEvent* event) {
    if (presenter_) presenter_->setGeometry(QRect(QPoint(0, 0), event->size()));
    target_->SetClientSize(event->size().width(), event->size().height());
    QWidget::resizeEvent(event);
}

void VideoOutputWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const std::shared_ptr<DisplaySurface> surface = target_->Current();
    if (!surface || surface->Type() != kSurfacePlain) {
        // The GPU presenter covers the widget while it shows a picture.
        painter.fillRect(rect(), background_);
        return;
    }
    std::lock_guard lock(surface->Mutex());
    const QImage image(surface->Bits(), surface->Width(), surface->Height(), surface->Pitch(), QImage::Format_RGB32);
    painter.drawImage(rect(), image);
}

}  // namespace media
