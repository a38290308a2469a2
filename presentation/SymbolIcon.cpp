#include "presentation/SymbolIcon.hpp"

#include "presentation/PlatformStyle.hpp"
#include "presentation/Symbols.hpp"

#include <QPainter>

namespace brindleaf {

SymbolIcon::SymbolIcon(std::string symbol, ThemeColor tint, QSizeF symbolSize, QSize frame, QWidget* parent)
    : QWidget(parent), symbol_(std::move(symbol)), tint_(tint), symbolSize_(symbolSize) {
    setFixedSize(frame);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolIcon::setSymbol(const std::string& symbol) {
    if (symbol == symbol_) return;
    symbol_ = symbol;
    update();
}

void SymbolIcon::setTint(const ThemeColor& tint) {
    if (tint == tint_) return;
    tint_ = tint;
    update();
}

void SymbolIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage image =
        Symbols::image(symbol_, symbolSize_, PlatformStyle::color(tint_, palette()), devicePixelRatioF());
    const QSizeF size = image.deviceIndependentSize();
    painter.drawImage(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), image);
}

} // namespace brindleaf
