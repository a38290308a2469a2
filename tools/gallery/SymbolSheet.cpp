// The symbol sheet: every symbol of our set with its name, in light and dark,
// at device pixel ratio 1 and 2.
#include "presentation/PlatformStyle.hpp"
#include "presentation/SymbolCatalog.hpp"
#include "presentation/Symbols.hpp"
#include "tools/gallery/GalleryRegistry.hpp"

#include <QPainter>

namespace brindleaf::gallery {

namespace {

void renderSymbols(GalleryOutput& output) {
    constexpr int columns = 5;
    constexpr int cellWidth = 210;
    constexpr int cellHeight = 64;
    const int rows = (static_cast<int>(symbolNames.size()) + columns - 1) / columns;
    for (const bool dark : {false, true}) {
        const QPalette palette = dark ? PlatformStyle::darkPalette() : PlatformStyle::lightPalette();
        const QColor ink = PlatformStyle::color(ThemeColor::system(ThemeColor::Role::primaryLabel), palette);
        const QColor accent = PlatformStyle::color(ThemeColor::system(ThemeColor::Role::accent), palette);
        for (const int ratio : {1, 2}) {
            QImage sheet(QSize(columns * cellWidth, rows * cellHeight) * ratio, QImage::Format_ARGB32_Premultiplied);
            sheet.setDevicePixelRatio(ratio);
            sheet.fill(palette.color(QPalette::Window));
            QPainter painter(&sheet);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setFont(PlatformStyle::font(TextStyle::caption2));
            for (std::size_t i = 0; i < symbolNames.size(); ++i) {
                const int x = static_cast<int>(i % columns) * cellWidth;
                const int y = static_cast<int>(i / columns) * cellHeight;
                const auto name = symbolNames[i];
                painter.drawImage(QPointF(x + 10, y + 8), Symbols::image(name, QSizeF(28, 28), ink, ratio));
                painter.drawImage(QPointF(x + 48, y + 14), Symbols::image(name, QSizeF(16, 16), accent, ratio));
                painter.drawImage(QPointF(x + 72, y + 17), Symbols::image(name, QSizeF(10, 10), ink, ratio));
                painter.setPen(ink);
                painter.drawText(QRectF(x + 4, y + 40, cellWidth - 8, 20), Qt::AlignLeft | Qt::AlignVCenter,
                                 QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
            }
            painter.end();
            output.savePNG(QStringLiteral("symbols/symbols-%1@%2x").arg(dark ? "dark" : "light").arg(ratio), sheet);
        }
    }
}

const bool registered = registerGalleryPage({"symbols", renderSymbols});

} // namespace

} // namespace brindleaf::gallery
