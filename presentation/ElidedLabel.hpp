#pragma once

#include "presentation/ThemeColor.hpp"

#include <QFont>
#include <QString>
#include <QWidget>

namespace brindleaf {

// One line of plain text (never markup), cut with an ellipsis to the width it
// gets, in a colour of the theme resolved from the palette when drawn.
class ElidedLabel final : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // Returns whether anything changed.
    bool setText(const QString& text);
    const QString& text() const { return text_; }
    void setElideMode(Qt::TextElideMode mode);
    void setAlignment(Qt::Alignment alignment);
    void setTextFont(const QFont& font);
    void setColor(const ThemeColor& color);
    const ThemeColor& color() const { return color_; }
    // The text as drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    Qt::TextElideMode mode_ = Qt::ElideRight;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
    ThemeColor color_ = ThemeColor::system(ThemeColor::Role::primaryLabel);
};

} // namespace brindleaf
