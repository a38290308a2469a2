// Exports the application icon (an SVG of our own) as the PNG sizes a desktop
// entry's icon theme uses, plus the SVG itself as the scalable size:
//   OUTPUT_DIR/hicolor/<N>x<N>/apps/NAME.png and OUTPUT_DIR/hicolor/scalable/apps/NAME.svg
//
//   brindleaf-export-app-icon SVG NAME OUTPUT_DIR
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: brindleaf-export-app-icon SVG NAME OUTPUT_DIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString svg = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    const QString out = QString::fromLocal8Bit(argv[3]) + "/hicolor";
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "brindleaf-export-app-icon: cannot read %s\n", argv[1]);
        return 1;
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        if (!QDir().mkpath(folder) || !image.save(folder + "/" + name + ".png", "PNG")) {
            std::fprintf(stderr, "brindleaf-export-app-icon: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    const QString scalable = out + "/scalable/apps";
    QDir().mkpath(scalable);
    QFile::remove(scalable + "/" + name + ".svg");
    if (!QFile::copy(svg, scalable + "/" + name + ".svg")) {
        std::fprintf(stderr, "brindleaf-export-app-icon: cannot write %s\n", qPrintable(scalable));
        return 1;
    }
    return 0;
}
