// The contact sheet of the tray icons: the twelve icon sets (style, colour,
// size), each with its idle and waiting images and all of its running frames,
// on a light and a dark panel at device pixel ratio 1 and 2; template images
// are tinted as the tray shows them.
#include "presentation/PlatformStyle.hpp"
#include "presentation/StatusIconFactory.hpp"
#include "tools/gallery/GalleryRegistry.hpp"

#include <QPainter>
#include <QSvgRenderer>

namespace brindleaf::gallery {

namespace {

void drawImage(QPainter& painter, QPointF at, const StatusIconImageRef& image, Appearance appearance, int ratio) {
    const auto shown = tintedForPanel(image, appearance);
    painter.drawImage(QRectF(at, QSizeF(shown->pointSize)), shown->forRatio(ratio));
}

void renderIcons(GalleryOutput& output) {
    constexpr int labelWidth = 215;
    constexpr int cell = 42;
    constexpr int rowHeight = 40;
    const int columns = 2 + 16;
    for (const bool dark : {false, true}) {
        const Appearance appearance = dark ? Appearance::dark : Appearance::light;
        const QColor panel = dark ? QColor(38, 38, 40) : QColor(236, 236, 236);
        const QColor ink = dark ? QColor(255, 255, 255, 217) : QColor(0, 0, 0, 217);
        for (const int ratio : {1, 2}) {
            QImage sheet(QSize(labelWidth + columns * cell, 24 + 12 * rowHeight) * ratio,
                         QImage::Format_ARGB32_Premultiplied);
            sheet.setDevicePixelRatio(ratio);
            sheet.fill(panel);
            QPainter painter(&sheet);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(ink);
            painter.setFont(PlatformStyle::font(TextStyle::caption));
            painter.drawText(QRectF(labelWidth, 4, cell, 16), Qt::AlignCenter, "idle");
            painter.drawText(QRectF(labelWidth + cell, 4, cell, 16), Qt::AlignCenter, "waiting");
            for (int i = 0; i < 16; ++i)
                painter.drawText(QRectF(labelWidth + (2 + i) * cell, 4, cell, 16), Qt::AlignCenter,
                                 QStringLiteral("run %1").arg(i));
            int y = 24;
            for (auto style : allStatusIconStyles)
                for (auto mode : allStatusIconRenderingModes)
                    for (auto size : allStatusIconSizeOptions) {
                        const auto& set = StatusIconFactory::iconSet(style, mode, size);
                        const QSize points = set.idle->pointSize;
                        painter.drawText(QRectF(8, y, labelWidth - 8, rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                                         QStringLiteral("%1 %2 %3 (%4x%5)%6")
                                             .arg(toString(style).data(), toString(mode).data(), toString(size).data())
                                             .arg(points.width())
                                             .arg(points.height())
                                             .arg(set.isTemplate ? " T" : ""));
                        auto place = [&](int column, const StatusIconImageRef& image) {
                            const QPointF at(labelWidth + column * cell + (cell - image->pointSize.width()) / 2.0,
                                             y + (rowHeight - image->pointSize.height()) / 2.0);
                            drawImage(painter, at, image, appearance, ratio);
                        };
                        place(0, set.idle);
                        place(1, set.waiting);
                        for (std::size_t i = 0; i < set.running.size() && i < 16; ++i)
                            place(2 + static_cast<int>(i), set.running[i]);
                        y += rowHeight;
                    }
            painter.end();
            output.savePNG(QStringLiteral("icons/tray-icons-%1@%2x").arg(dark ? "dark" : "light").arg(ratio), sheet);
        }
    }

    // The application icon at the sizes a desktop entry uses.
    QSvgRenderer appIcon(QStringLiteral(":/icons/brindleaf.svg"));
    const int sizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
    QImage strip(QSize(600, 270), QImage::Format_ARGB32_Premultiplied);
    strip.fill(QColor(236, 236, 236));
    QPainter painter(&strip);
    int x = 6;
    for (int size : sizes) {
        appIcon.render(&painter, QRectF(x, 260 - size, size, size));
        x += size + 6;
    }
    painter.end();
    output.savePNG(QStringLiteral("icons/app-icon-sizes"), strip);
}

const bool registered = registerGalleryPage({"icons", renderIcons});

} // namespace

} // namespace brindleaf::gallery
