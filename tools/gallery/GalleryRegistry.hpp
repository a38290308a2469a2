#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace brindleaf::gallery {

// Where a gallery page writes its files, and the fixed clock every page renders
// with, so that two runs write the same pictures.
class GalleryOutput {
public:
    explicit GalleryOutput(QString directory);

    // Saves the image as NAME.png (NAME may hold a sub-folder, "icons/pulse-dark@2x").
    void savePNG(const QString& name, const QImage& image);
    // Saves text as NAME (with its own extension).
    void saveText(const QString& name, const std::string& text);

    const QString& directory() const { return directory_; }
    int filesWritten() const { return filesWritten_; }

    // The fixed "now" of every fixture: 2026-03-14 09:26:53 UTC, in seconds since 1970.
    static constexpr double fixedNow = 1773480413.0;

private:
    QString directory_;
    int filesWritten_ = 0;
};

struct GalleryPage {
    std::string name;
    std::function<void(GalleryOutput&)> render;
};

// Pages register themselves from their own file:
//   static const bool registered = registerGalleryPage({"icons", renderIcons});
bool registerGalleryPage(GalleryPage page);
const std::vector<GalleryPage>& galleryPages();

} // namespace brindleaf::gallery
