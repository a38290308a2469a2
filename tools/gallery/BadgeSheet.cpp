// The badge sheet: each provider's badge and accent colour, and an unknown
// provider's neutral badge, in light and dark at device pixel ratio 1 and 2.
#include "presentation/PlatformStyle.hpp"
#include "presentation/ProviderBadge.hpp"
#include "presentation/ProviderTheme.hpp"
#include "presentation/Symbols.hpp"
#include "tools/gallery/GalleryRegistry.hpp"

#include <QPainter>

namespace brindleaf::gallery {

namespace {

void renderBadges(GalleryOutput& output) {
    struct Row {
        const char* name;
        const char* symbol;
    } rows[] = {{"Codex", "terminal"},
                {"Claude Code", "curlybraces"},
                {"Hermes", "bolt.horizontal.circle"},
                {"Claude", "questionmark"}};
    for (const bool dark : {false, true}) {
        const QPalette palette = dark ? PlatformStyle::darkPalette() : PlatformStyle::lightPalette();
        for (const int ratio : {1, 2}) {
            QImage sheet(QSize(340, 40 * 4 + 16) * ratio, QImage::Format_ARGB32_Premultiplied);
            sheet.setDevicePixelRatio(ratio);
            sheet.fill(palette.color(QPalette::Window));
            QPainter painter(&sheet);
            painter.setRenderHint(QPainter::Antialiasing);
            int y = 8;
            for (const auto& row : rows) {
                const QColor accent = PlatformStyle::color(
                    ProviderTheme::accentColor(row.name, PlatformStyle::appearance(palette)), palette);
                painter.drawImage(QPointF(12, y + 6), Symbols::image(row.symbol, QSizeF(18, 18), accent, ratio));
                painter.setPen(PlatformStyle::color(ThemeColor::system(ThemeColor::Role::primaryLabel), palette));
                painter.setFont(PlatformStyle::font(TextStyle::body));
                painter.drawText(QRectF(40, y, 110, 30), Qt::AlignLeft | Qt::AlignVCenter, row.name);
                ProviderBadge::paint(painter, QPointF(150, y + 7), row.name,
                                     PlatformStyle::font(TextStyle::caption, QFont::DemiBold), palette);
                ProviderBadge::paint(painter, QPointF(240, y + 4), row.name, PlatformStyle::font(TextStyle::body),
                                     palette);
                y += 40;
            }
            painter.end();
            output.savePNG(QStringLiteral("badges/badges-%1@%2x").arg(dark ? "dark" : "light").arg(ratio), sheet);
        }
    }
}

const bool registered = registerGalleryPage({"badges", renderBadges});

} // namespace

} // namespace brindleaf::gallery
