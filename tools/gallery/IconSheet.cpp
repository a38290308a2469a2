// The contact sheet of the tray icons: the twelve icon sets (style, colour,
// size), each with its idle and waiting images and all of its running frames,
// on a light and a dark panel at device pixel ratio 1 and 2; template images
// are tinted as the tray shows them. Then the images the tray gets (every
// size on the large size's canvas) as panels show them, scaled into their
// slots.
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

// Each style and size as the tray gets it (idle, waiting, a running frame),
// scaled to fit square slots of 16, 22, 24 and 32 pixels as the panels do:
// the sizes stay apart in every slot.
void renderTraySlots(GalleryOutput& output) {
    constexpr int labelWidth = 150;
    constexpr int slotSizes[] = {16, 22, 24, 32};
    constexpr int group = 3 * 40;
    constexpr int rowHeight = 42;
    for (const bool dark : {false, true}) {
        const Appearance appearance = dark ? Appearance::dark : Appearance::light;
        const QColor panel = dark ? QColor(48, 48, 48) : QColor(236, 236, 236);
        const QColor ink = dark ? QColor(255, 255, 255, 217) : QColor(0, 0, 0, 217);
        const QColor slotLine = dark ? QColor(90, 90, 90) : QColor(200, 200, 200);
        for (const int ratio : {1, 2}) {
            QImage sheet(QSize(labelWidth + 4 * group, 24 + 6 * rowHeight) * ratio,
                         QImage::Format_ARGB32_Premultiplied);
            sheet.setDevicePixelRatio(ratio);
            sheet.fill(panel);
            QPainter painter(&sheet);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.setFont(PlatformStyle::font(TextStyle::caption));
            for (int i = 0; i < 4; ++i) {
                painter.setPen(ink);
                painter.drawText(QRectF(labelWidth + i * group, 4, group, 16), Qt::AlignCenter,
                                 QStringLiteral("%1 px slot").arg(slotSizes[i]));
            }
            int y = 24;
            for (auto style : allStatusIconStyles)
                for (auto size : allStatusIconSizeOptions) {
                    const auto mode = style == StatusIconStyle::pulse ? StatusIconRenderingMode::monochrome
                                                                      : StatusIconRenderingMode::color;
                    const auto& set = StatusIconFactory::trayIconSet(style, mode, size);
                    painter.setPen(ink);
                    painter.drawText(QRectF(8, y, labelWidth - 8, rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                                     QStringLiteral("%1 %2 on %3x%4")
                                         .arg(toString(style).data(), toString(size).data())
                                         .arg(set.idle->pointSize.width())
                                         .arg(set.idle->pointSize.height()));
                    for (int i = 0; i < 4; ++i) {
                        const int slot = slotSizes[i];
                        int column = 0;
                        for (const auto& image : {set.idle, set.waiting, set.running.front()}) {
                            const QRectF box(labelWidth + i * group + column * 40 + (40 - slot) / 2.0,
                                             y + (rowHeight - slot) / 2.0, slot, slot);
                            painter.setPen(slotLine);
                            painter.setBrush(Qt::NoBrush);
                            painter.drawRect(box.adjusted(-0.5, -0.5, 0.5, 0.5));
                            const auto shown = tintedForPanel(image, appearance);
                            const QSizeF fitted = QSizeF(shown->pointSize).scaled(box.size(), Qt::KeepAspectRatio);
                            painter.drawImage(
                                QRectF(box.center() - QPointF(fitted.width(), fitted.height()) / 2, fitted),
                                shown->forRatio(ratio));
                            ++column;
                        }
                    }
                    y += rowHeight;
                }
            painter.end();
            output.savePNG(QStringLiteral("icons/tray-slots-%1@%2x").arg(dark ? "dark" : "light").arg(ratio), sheet);
        }
    }
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

    renderTraySlots(output);

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
