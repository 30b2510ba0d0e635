#include "media/video_output_widget.h"

#include <QGuiApplication>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QPainter>
#include <QResizeEvent>
#include <QStringList>
#include <atomic>
#include <string>

#include "core/message_ids.h"
#include "core/log_file.h"
#include "media/display_path.h"
#include "media/gl_video_presenter.h"
#include "ui/toolkit/ui_executor.h"

namespace media {

namespace {

// Qt's own verdict on the platform, given by a QOpenGLWidget as it is made: it renders
// into a texture that the window's backing store composes, and a platform without
// that composition (offscreen with an X display, say, which still makes contexts)
// gets the warning below and a widget that crashes once shown. Qt offers no public
// call for the capability itself, so the probe listens for the warning.
std::atomic<bool> g_widgetRefused{false};
QtMessageHandler g_previousHandler = nullptr;

void ListenForRefusal(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("QOpenGLWidget is not supported on this platform"))) {
        g_widgetRefused = true;
        return;
    }
    if (g_previousHandler) g_previousHandler(type, context, message);
}

bool PlatformHostsOpenGlWidgets() {
    // Platforms that draw into memory only never show an OpenGL widget, whatever the
    // probe says (its warning text could change with Qt).
    static const QStringList kMemoryOnly{"offscreen", "minimal", "vnc", "linuxfb"};
    if (kMemoryOnly.contains(QGuiApplication::platformName(), Qt::CaseInsensitive)) return false;
    g_widgetRefused = false;
    g_previousHandler = qInstallMessageHandler(ListenForRefusal);
    { QOpenGLWidget probe; }
    qInstallMessageHandler(g_previousHandler);
    return !g_widgetRefused;
}

}  // namespace

GlCapabilities VideoOutputWidget::ProbeOpenGl() {
    GlCapabilities gl;
    gl.platform = QGuiApplication::platformName().toStdString();
    gl.platformHostsGl = PlatformHostsOpenGlWidgets();
    if (!gl.platformHostsGl) return gl;
    QOpenGLContext context;
    if (!context.create()) return gl;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) return gl;
    gl.contextMade = true;
    gl.desktopGl = !context.isOpenGLES();
    auto text = [&](GLenum name) {
        const GLubyte* value = context.functions()->glGetString(name);
        return value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
    };
    gl.renderer = text(GL_RENDERER);
    gl.vendor = text(GL_VENDOR);
    context.doneCurrent();
    return gl;
}

bool VideoOutputWidget::GpuPresentationAvailable() {
    static const bool available = [] {
        const DisplayPreference preference = ReadDisplayPreference();
        // A forced software path needs no probe: no OpenGL is touched at all.
        const GlCapabilities gl = preference.choice == DisplayChoice::kSoftware ? GlCapabilities{} : ProbeOpenGl();
        const DisplayDecision decision = DecideDisplayPath(preference, gl);
        core::LogWrite("video display: %s path, %s (choice: %s)\n", decision.gpu ? "GPU" : "software",
                      decision.reason.c_str(), preference.source.c_str());
        return decision.gpu;
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
        case core::kVideoPresent:
            target_->PresentTaken();
            ++presents_;
            if (const auto surface = target_->Current(); surface && surface->HoldsCameraPicture()) ++cameraPresents_;
            ShowSurfaceKind();
            if (presenter_ && presenter_->isVisible())
                presenter_->update();
            else
                update();
            return 0;
        case core::kVideoErase:
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

void VideoOutputWidget::OverlayChanged(bool now) {
    if (presenter_ && presenter_->isVisible()) {
        // The presenter covers this widget: the overlay is drawn by it.
        if (now)
            presenter_->repaint();
        else
            presenter_->update();
        return;
    }
    if (now)
        repaint();
    else
        update();
}

void VideoOutputWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const std::shared_ptr<DisplaySurface> surface = target_->Current();
    if (!surface || surface->Type() != kSurfacePlain) {
        // The GPU presenter covers the widget while it shows a picture (and draws the
        // overlay itself).
        painter.fillRect(rect(), background_);
    } else {
        std::lock_guard lock(surface->Mutex());
        const QImage image(surface->Bits(), surface->Width(), surface->Height(), surface->Pitch(), QImage::Format_RGB32);
        painter.drawImage(rect(), image);
    }
    PaintOverlay(painter, rect());
}

}  // namespace media
