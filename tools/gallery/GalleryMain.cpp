#include "tools/gallery/GalleryRegistry.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <string>

namespace brindleaf::gallery {

namespace {
std::vector<GalleryPage>& pages() {
    static std::vector<GalleryPage> list;
    return list;
}
} // namespace

bool registerGalleryPage(GalleryPage page) {
    pages().push_back(std::move(page));
    return true;
}

const std::vector<GalleryPage>& galleryPages() { return pages(); }

GalleryOutput::GalleryOutput(QString directory) : directory_(std::move(directory)) {}

void GalleryOutput::savePNG(const QString& name, const QImage& image) {
    const QString path = directory_ + "/" + name + ".png";
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "brindleaf-gallery: could not write %s\n", qPrintable(path));
        return;
    }
    ++filesWritten_;
}

void GalleryOutput::saveText(const QString& name, const std::string& text) {
    const QString path = directory_ + "/" + name;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
        std::fprintf(stderr, "brindleaf-gallery: could not write %s\n", qPrintable(path));
        return;
    }
    ++filesWritten_;
}

} // namespace brindleaf::gallery

int main(int argc, char** argv) {
    using namespace brindleaf::gallery;
    QString out;
    QString only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            out = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strncmp(argv[i], "--out=", 6) == 0) {
            out = QString::fromLocal8Bit(argv[i] + 6);
        } else if (std::strncmp(argv[i], "--only=", 7) == 0) {
            only = QString::fromLocal8Bit(argv[i] + 7);
        } else {
            std::fprintf(stderr, "usage: brindleaf-gallery --out DIR [--only=PAGE]\n");
            return 2;
        }
    }
    if (out.isEmpty()) {
        std::fprintf(stderr, "usage: brindleaf-gallery --out DIR [--only=PAGE]\n");
        return 2;
    }
    // The gallery draws off screen unless the caller chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "brindleaf-gallery: cannot create %s\n", qPrintable(out));
        return 1;
    }
    GalleryOutput output(QDir(out).absolutePath());
    for (const auto& page : galleryPages()) {
        if (!only.isEmpty() && only != QString::fromStdString(page.name)) continue;
        page.render(output);
    }
    std::printf("brindleaf-gallery: %d files in %s\n", output.filesWritten(), qPrintable(output.directory()));
    return 0;
}
