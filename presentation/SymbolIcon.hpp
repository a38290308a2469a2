#pragma once

#include "presentation/ThemeColor.hpp"

#include <QWidget>

#include <string>

namespace brindleaf {

// One symbol of our set in a fixed frame, tinted with a theme colour resolved
// from the palette when drawn (so it follows light and dark).
class SymbolIcon final : public QWidget {
    Q_OBJECT
public:
    SymbolIcon(std::string symbol, ThemeColor tint, QSizeF symbolSize, QSize frame, QWidget* parent = nullptr);

    void setSymbol(const std::string& symbol);
    void setTint(const ThemeColor& tint);
    const std::string& symbol() const { return symbol_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    ThemeColor tint_;
    QSizeF symbolSize_;
};

} // namespace brindleaf
