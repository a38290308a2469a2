#include "presentation/HoverSymbolButton.hpp"

#include "presentation/PlainToolTip.hpp"
#include "presentation/PlatformStyle.hpp"
#include "presentation/Symbols.hpp"

#include <QPainter>
#include <QPainterPath>

namespace brindleaf {

HoverSymbolButton::HoverSymbolButton(std::string symbol, const QString& title, double side, Shape shape,
                                     double symbolPointSize, QWidget* parent)
    : QAbstractButton(parent),
      symbol_(std::move(symbol)),
      side_(side),
      shape_(shape),
      symbolPointSize_(symbolPointSize) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
    setToolTip(plainToolTip(title));
    setAccessibleName(title);
    setCursor(Qt::ArrowCursor);
}

QSize HoverSymbolButton::sizeHint() const { return {int(side_), int(side_)}; }

void HoverSymbolButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, 0, side_, side_);
    QPainterPath shape;
    if (shape_ == Shape::circle)
        shape.addEllipse(box);
    else
        shape.addRoundedRect(box, 16, 16);
    const auto role = ThemeColor::Role::secondaryLabel;
    painter.fillPath(shape, PlatformStyle::color(ThemeColor::system(role, hovering_ ? 0.18 : 0.1), palette()));
    const QColor tint = PlatformStyle::color(
        ThemeColor::system(hovering_ ? ThemeColor::Role::primaryLabel : ThemeColor::Role::secondaryLabel), palette());
    const QSizeF symbolSize(symbolPointSize_, symbolPointSize_);
    const QImage image = Symbols::image(symbol_, symbolSize, tint, devicePixelRatioF());
    const QSizeF size = image.deviceIndependentSize();
    painter.drawImage(QPointF((side_ - size.width()) / 2, (side_ - size.height()) / 2), image);
    if (hasFocus()) PlatformStyle::drawFocusRing(painter, box, shape_ == Shape::circle ? side_ / 2 : 16, palette());
}

void HoverSymbolButton::enterEvent(QEnterEvent* event) {
    hovering_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HoverSymbolButton::leaveEvent(QEvent* event) {
    hovering_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

} // namespace brindleaf
