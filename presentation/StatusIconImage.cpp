#include "presentation/StatusIconImage.hpp"

#include <QPainter>
#include <QPixmap>

namespace brindleaf {

QIcon StatusIconImage::toIcon() const {
    QIcon icon;
    if (!at1x.isNull()) icon.addPixmap(QPixmap::fromImage(at1x));
    if (!at2x.isNull()) icon.addPixmap(QPixmap::fromImage(at2x));
    return icon;
}

namespace {

QImage tint(const QImage& source, const QColor& colour) {
    if (source.isNull()) return source;
    QImage out = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(source.devicePixelRatio());
    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), out.deviceIndependentSize()), colour);
    return out;
}

} // namespace

StatusIconImageRef tintedForPanel(const StatusIconImageRef& image, Appearance appearance) {
    if (!image || !image->isTemplate) return image;
    const QColor colour =
        appearance == Appearance::dark ? QColor::fromRgbF(1, 1, 1, 0.85f) : QColor::fromRgbF(0, 0, 0, 0.85f);
    auto tinted = std::make_shared<StatusIconImage>(*image);
    tinted->at1x = tint(image->at1x, colour);
    tinted->at2x = tint(image->at2x, colour);
    tinted->isTemplate = false;
    return tinted;
}

} // namespace brindleaf
