#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSizeF>
#include <QString>

#include <string_view>

namespace brindleaf {

// Our own monochrome symbol set (resources/symbols/<name>.svg, one file per
// symbol name the windows use), tinted when drawn. A name without a symbol
// draws an empty frame and is logged once.
namespace Symbols {

bool exists(std::string_view name);

// The symbol fitted into a logical size, in one colour, at a device pixel
// ratio (the image carries that ratio). Cached per name, size, colour and ratio.
QImage image(std::string_view name, QSizeF logicalSize, const QColor& tint, qreal devicePixelRatio = 1);
QPixmap pixmap(std::string_view name, QSizeF logicalSize, const QColor& tint, qreal devicePixelRatio = 1);

// An icon that draws the symbol at whatever size and ratio it is asked for;
// disabled icons take the colour at 40 % opacity.
QIcon icon(std::string_view name, const QColor& tint);

} // namespace Symbols

} // namespace brindleaf
