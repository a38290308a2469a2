#include "presentation/StatusIconImage.hpp"

#include "presentation/StatusIconGeometry.hpp"

#include <QPainter>
#include <QPixmap>

#include <cmath>

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

QImage placed(const QImage& source, QSize canvas, qreal ratio) {
    if (source.isNull()) return source;
    QImage out(static_cast<int>(std::ceil(canvas.width() * ratio)),
               static_cast<int>(std::ceil(canvas.height() * ratio)), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QImage pixels = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    pixels.setDevicePixelRatio(1); // drawn pixel for pixel
    const auto at = StatusIconGeometry::trayPlacement(pixels.width(), pixels.height(), out.width(), out.height());
    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(at.x, at.y), pixels);
    painter.end();
    out.setDevicePixelRatio(ratio);
    return out;
}

} // namespace

StatusIconImageRef placedOnCanvas(const StatusIconImageRef& image, QSize canvas) {
    if (!image || image->pointSize == canvas) return image;
    auto onCanvas = std::make_shared<StatusIconImage>(*image);
    onCanvas->pointSize = canvas;
    onCanvas->at1x = placed(image->at1x, canvas, 1);
    onCanvas->at2x = placed(image->at2x, canvas, 2);
    return onCanvas;
}

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
