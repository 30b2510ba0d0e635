// Renders the skin's SVG drawings to the PNG files the skins name:
//   skin_render <in.svg> <out.png> [more pairs...]
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
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
