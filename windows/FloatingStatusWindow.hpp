#pragma once

#include <QWidget>

#include <functional>

namespace brindleaf {

// The floating status window itself: frameless, above other windows, on every
// desktop, with no taskbar entry. It paints its own chrome around the content
// (from the inside out: the content clipped to radius 15, a 7-pixel inner
// band with a 1-pixel light border, a 28-pixel outer band, radii 15, 22 and
// 50); over a compositor the bands are translucent, without one the window is
// cut to its rounded shape with a mask. It is moved by dragging its background
// and resized at its left and right edges (the height follows the content).
// Escape and Ctrl+W close it; the key is taken even without onClose.
class FloatingStatusWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr int innerRadius = 15;
    static constexpr int innerBorder = 7;
    static constexpr int outerBorder = 28;
    static constexpr int resizeGrip = 10; // pixels at the left and right edges that resize

    // Takes ownership of the content.
    explicit FloatingStatusWindow(QWidget* content, bool translucent, QWidget* parent = nullptr);

    QWidget* content() const { return content_; }
    bool isTranslucent() const { return translucent_; }

    std::function<void()> onClose;
    // The user or the program moved or resized the window.
    std::function<void()> onMoved;
    std::function<void()> onResized;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    Qt::Edges edgesAt(const QPoint& position) const;
    void applyMask();

    QWidget* content_;
    bool translucent_;
    // The fallback drag when the platform cannot move the window itself.
    bool dragging_ = false;
    QPoint dragOffset_;
};

} // namespace brindleaf
