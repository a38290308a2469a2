#include "presentation/ElidedLabel.hpp"

#include "presentation/PlatformStyle.hpp"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

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
    return {fontMetrics().horizontalAdvance(text_) + 1, PlatformStyle::textLine(font()).height};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 2, PlatformStyle::textLine(font()).height};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(PlatformStyle::color(color_, palette()));
    painter.setFont(font());
    const QString shown = shownText();
    // The baseline on a whole row, with room below it for the descent's last row.
    using TextLineLayout::VerticalPlace;
    const VerticalPlace place = alignment_ & Qt::AlignTop      ? VerticalPlace::top
                                : alignment_ & Qt::AlignBottom ? VerticalPlace::bottom
                                                               : VerticalPlace::centre;
    const int baseline = TextLineLayout::baselineIn(PlatformStyle::textLine(font()), height(), place);
    const int advance = fontMetrics().horizontalAdvance(shown);
    const Qt::Alignment horizontal = QStyle::visualAlignment(layoutDirection(), alignment_);
    int x = 0;
    if (horizontal & Qt::AlignRight)
        x = width() - advance;
    else if (horizontal & Qt::AlignHCenter)
        x = (width() - advance) / 2;
    painter.drawText(QPoint(x, baseline), shown);
}

} // namespace brindleaf
