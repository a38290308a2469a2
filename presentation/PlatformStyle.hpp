#pragma once

#include "presentation/Appearance.hpp"
#include "presentation/TextLineLayout.hpp"
#include "presentation/TextStyle.hpp"
#include "presentation/ThemeColor.hpp"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRectF>

class QPainter;

namespace brindleaf {

// The one mapping from the presentation rules' terms to Qt 6.4:
// - points are logical pixels (fonts get pixel sizes; Qt scales by the
//   device pixel ratio);
// - the accent colour is the palette's highlight;
// - dark means the window colour's lightness is below one half, read again
//   whenever the palette changes (QEvent::PaletteChange / ApplicationPaletteChange);
// - label colours are the palette's text colour at full (primary), 55 %
//   (secondary) and 30 % (tertiary) opacity; orange and green are fixed system
//   colours, a little lighter in the dark.
namespace PlatformStyle {

bool isDark(const QPalette& palette);
Appearance appearance(const QPalette& palette);

QColor color(const ThemeColor& color, const QPalette& palette);
QColor toQColor(const ThemeColor& fixed); // the sRGB components as given

// The system font at a text style's size and the given weight.
QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);
QFont font(double pixelSize, QFont::Weight weight = QFont::Normal);
// One line of the font on whole pixels, from its fractional ascent and descent.
TextLineLayout::Line textLine(const QFont& font);

// The focus ring of a control whose outline is `bounds`, a rounded rectangle
// of `cornerRadius` (half the side of a square makes a circle).
void drawFocusRing(QPainter& painter, const QRectF& bounds, double cornerRadius, const QPalette& palette);

// A light and a dark palette of our own, for the gallery and tests.
QPalette lightPalette();
QPalette darkPalette();

} // namespace PlatformStyle

} // namespace brindleaf
