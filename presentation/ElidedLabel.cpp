#include "presentation/ElidedLabel.hpp"

#include "presentation/PlatformStyle.hpp"

#include <QFontMetrics>
#include <QPainter>

#include <cmath>

namespace brindleaf {

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

bool ElidedLabel::setText(const QString& text) {
    if (text == text_) return false;
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    update();
    return true;
}

void ElidedLabel::setElideMode(Qt::TextElideMode mode) {
    mode_ = mode;
    update();
}

void ElidedLabel::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

void ElidedLabel::setTextFont(const QFont& font) {
    setFont(font);
    updateGeometry();
}

void ElidedLabel::setColor(const ThemeColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
}

QString ElidedLabel::shownText() const { return fontMetrics().elidedText(text_, mode_, width()); }

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return {metrics.horizontalAdvance(text_) + 1, metrics.height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 2, fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(PlatformStyle::color(color_, palette()));
    painter.setFont(font());
    painter.drawText(rect(), alignment_ | Qt::TextSingleLine, shownText());
}

} // namespace brindleaf
