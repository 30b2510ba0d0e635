// Renders the skin's SVG drawings to the PNG files the skins name:
//   skin_render <in.svg> <out.png> [more pairs...]
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

namespace {

QtMessageHandler g_qtHandler = nullptr;

// A build has no desktop session, and rendering needs no runtime folder: Qt's notice
// that it made one of its own would only clutter the build's output.
void QuietAboutRuntimeFolder(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    if (g_qtHandler) g_qtHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    g_qtHandler = qInstallMessageHandler(QuietAboutRuntimeFolder);
    QGuiApplication app(argc, argv);
    if (argc < 3 || argc % 2 != 1) {
        std::fprintf(stderr, "usage: skin_render <in.svg> <out.png> [...]\n");
        return 2;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        QSvgRenderer svg(QString::fromLocal8Bit(argv[i]));
        if (!svg.isValid()) {
            std::fprintf(stderr, "skin_render: cannot read %s\n", argv[i]);
            return 1;
        }
        QImage image(svg.defaultSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        svg.render(&painter);
        painter.end();
        if (!image.save(QString::fromLocal8Bit(argv[i + 1]))) {
            std::fprintf(stderr, "skin_render: cannot write %s\n", argv[i + 1]);
            return 1;
        }
    }
    return 0;
}
