#include "presentation/ProviderBadge.hpp"

#include "presentation/PlatformStyle.hpp"
#include "presentation/ProviderTheme.hpp"

#include <QEvent>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace brindleaf {

ProviderBadge::ProviderBadge(QString providerName, QFont font, QWidget* parent)
    : QWidget(parent), providerName_(std::move(providerName)), font_(std::move(font)) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(providerName_);
}

QSizeF ProviderBadge::badgeSize(const QString& providerName, const QFont& font) {
    const QFontMetricsF metrics(font);
    return {std::ceil(metrics.horizontalAdvance(providerName)) + 2 * ProviderBadgeLayout::horizontalPadding,
            std::ceil(metrics.height()) + 2 * ProviderBadgeLayout::verticalPadding};
}

QSize ProviderBadge::sizeHint() const { return badgeSize(providerName_, font_).toSize(); }

void ProviderBadge::paint(QPainter& painter, QPointF origin, const QString& providerName, const QFont& font,
                          const QPalette& palette) {
    const std::string name = providerName.toStdString();
    const Appearance appearance = PlatformStyle::appearance(palette);
    const QRectF rect(origin, badgeSize(providerName, font));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, ProviderBadgeLayout::cornerRadius, ProviderBadgeLayout::cornerRadius);
    if (auto fill = ProviderTheme::badgeFill(name)) {
        if (fill->kind == ProviderTheme::BadgeFill::Kind::linearGradient) {
            QLinearGradient gradient(rect.topLeft(), rect.topRight());
            gradient.setColorAt(0, PlatformStyle::color(fill->leading, palette));
            gradient.setColorAt(1, PlatformStyle::color(fill->trailing, palette));
            painter.fillPath(shape, gradient);
        } else {
            painter.fillPath(shape, PlatformStyle::color(fill->leading, palette));
        }
    } else {
        painter.fillPath(shape, PlatformStyle::color(ProviderBadgeLayout::neutralBackground, palette));
    }
    if (auto stroke = ProviderTheme::badgeStroke(name, appearance)) {
        // A border inside the edge.
        const qreal half = ProviderBadgeLayout::borderWidth / 2;
        QPainterPath inner;
        inner.addRoundedRect(rect.adjusted(half, half, -half, -half), ProviderBadgeLayout::cornerRadius - half,
                             ProviderBadgeLayout::cornerRadius - half);
        painter.setPen(QPen(PlatformStyle::color(*stroke, palette), ProviderBadgeLayout::borderWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(inner);
    }
    painter.setFont(font);
    painter.setPen(PlatformStyle::color(ProviderBadgeLayout::textColor(name), palette));
    const QRectF textRect =
        rect.adjusted(ProviderBadgeLayout::horizontalPadding, ProviderBadgeLayout::verticalPadding,
                      -ProviderBadgeLayout::horizontalPadding, -ProviderBadgeLayout::verticalPadding);
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, providerName);
    painter.restore();
}

void ProviderBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, QPointF(0, 0), providerName_, font_, palette());
}

void ProviderBadge::changeEvent(QEvent* event) {
    // The Hermes colours follow the appearance.
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

} // namespace brindleaf
