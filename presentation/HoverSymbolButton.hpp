#pragma once

#include <QAbstractButton>

#include <string>

namespace brindleaf {

// A symbol on a shape of the secondary colour that darkens under the pointer:
// the dashboard's circular floating-window button and the floating window's
// rounded close button. Takes no keyboard focus unless given a focus policy
// (the dashboard's does, the close button does not); with the focus it shows
// the focus ring along its shape. Its title is its tooltip and spoken label.
class HoverSymbolButton final : public QAbstractButton {
    Q_OBJECT
public:
    enum class Shape { circle, roundedSquare };

    HoverSymbolButton(std::string symbol, const QString& title, double side, Shape shape, double symbolPointSize,
                      QWidget* parent = nullptr);

    bool isHovering() const { return hovering_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    std::string symbol_;
    double side_;
    Shape shape_;
    double symbolPointSize_;
    bool hovering_ = false;
};

} // namespace brindleaf
