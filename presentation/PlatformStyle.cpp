#include "presentation/PlatformStyle.hpp"

#include "presentation/FocusRing.hpp"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace brindleaf::PlatformStyle {

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightnessF() < 0.5; }

Appearance appearance(const QPalette& palette) { return isDark(palette) ? Appearance::dark : Appearance::light; }

QColor toQColor(const ThemeColor& fixed) {
    return QColor::fromRgbF(static_cast<float>(fixed.red), static_cast<float>(fixed.green),
                            static_cast<float>(fixed.blue), static_cast<float>(fixed.alpha));
}

QColor color(const ThemeColor& themeColor, const QPalette& palette) {
    const bool dark = isDark(palette);
    QColor base;
    double opacity = 1;
    switch (themeColor.role) {
    case ThemeColor::Role::fixed:
        return toQColor(themeColor);
    case ThemeColor::Role::primaryLabel:
        base = palette.color(QPalette::WindowText);
        break;
    case ThemeColor::Role::secondaryLabel:
        base = palette.color(QPalette::WindowText);
        opacity = 0.55;
        break;
    case ThemeColor::Role::tertiaryLabel:
        base = palette.color(QPalette::WindowText);
        opacity = 0.3;
        break;
    case ThemeColor::Role::accent:
        base = palette.color(QPalette::Highlight);
        break;
    case ThemeColor::Role::orange:
        base = dark ? QColor(255, 159, 10) : QColor(255, 149, 0);
        break;
    case ThemeColor::Role::green:
        base = dark ? QColor(48, 209, 88) : QColor(52, 199, 89);
        break;
    }
    base.setAlphaF(static_cast<float>(base.alphaF() * opacity * themeColor.alpha));
    return base;
}

QFont font(double pixelSize, QFont::Weight weight) {
    QFont f = QGuiApplication::font();
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    f.setWeight(weight);
    return f;
}

QFont font(TextStyle style, QFont::Weight weight) {
    if (style == TextStyle::headline && weight == QFont::Normal) weight = QFont::DemiBold;
    return font(textStyleSize(style), weight);
}

TextLineLayout::Line textLine(const QFont& font) {
    const QFontMetricsF metrics(font);
    return TextLineLayout::line(metrics.ascent(), metrics.descent());
}

void drawFocusRing(QPainter& painter, const QRectF& bounds, double cornerRadius, const QPalette& palette) {
    const double inset = FocusRing::inset;
    const double radius = std::max(0.0, cornerRadius - inset);
    QPainterPath ring;
    ring.addRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), radius, radius);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(color(FocusRing::color, palette), FocusRing::lineWidth));
    painter.drawPath(ring);
    painter.restore();
}

QPalette lightPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(236, 236, 236));
    p.setColor(QPalette::WindowText, QColor(0, 0, 0, 217));
    p.setColor(QPalette::Base, QColor(255, 255, 255));
    p.setColor(QPalette::Text, QColor(0, 0, 0, 217));
    p.setColor(QPalette::Button, QColor(246, 246, 246));
    p.setColor(QPalette::ButtonText, QColor(0, 0, 0, 217));
    p.setColor(QPalette::Highlight, QColor(0, 122, 255));
    p.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    return p;
}

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(40, 40, 42));
    p.setColor(QPalette::WindowText, QColor(255, 255, 255, 217));
    p.setColor(QPalette::Base, QColor(30, 30, 30));
    p.setColor(QPalette::Text, QColor(255, 255, 255, 217));
    p.setColor(QPalette::Button, QColor(60, 60, 62));
    p.setColor(QPalette::ButtonText, QColor(255, 255, 255, 217));
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    return p;
}

} // namespace brindleaf::PlatformStyle
