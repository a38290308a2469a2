#include "windows/FloatingStatusWindow.hpp"

#include "presentation/PlatformStyle.hpp"
#include "windows/FloatingWindowGeometry.hpp"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QVBoxLayout>
#include <QWindow>

namespace brindleaf {

namespace {

QPainterPath rounded(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

} // namespace

FloatingStatusWindow::FloatingStatusWindow(QWidget* content, bool translucent, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      content_(content),
      translucent_(translucent) {
    setObjectName("floatingStatusWindow");
    setWindowTitle(QStringLiteral("Brindleaf"));
    setAttribute(Qt::WA_TranslucentBackground, translucent_);
    setMouseTracking(true);
    setMinimumSize(int(FloatingWindowGeometry::minimumWidth), int(FloatingWindowGeometry::minimumHeight));
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    const int inset = innerBorder + outerBorder;
    layout->setContentsMargins(inset, inset, inset, inset);
    content_->setParent(this);
    layout->addWidget(content_);
}

void FloatingStatusWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outer = QRectF(rect());
    const QRectF inner = outer.adjusted(outerBorder, outerBorder, -outerBorder, -outerBorder);
    QColor window = palette().color(QPalette::Window);
    const bool dark = PlatformStyle::isDark(palette());
    // The outer band stands for the desktop's glass under the window, the
    // inner one for a heads-up panel; without a compositor both are opaque.
    QColor outerFill = dark ? window.darker(130) : window.darker(108);
    QColor innerFill = dark ? window.lighter(115) : window.lighter(103);
    if (translucent_) {
        outerFill.setAlphaF(0.55f);
        innerFill.setAlphaF(0.9f);
    }
    painter.fillPath(rounded(outer, outerBorder + innerBorder + innerRadius), outerFill);
    painter.fillPath(rounded(inner, innerBorder + innerRadius), innerFill);
    QLinearGradient border(inner.topLeft(), inner.bottomRight());
    border.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.6f));
    border.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0.12f));
    painter.setPen(QPen(QBrush(border), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(rounded(inner.adjusted(0.5, 0.5, -0.5, -0.5), innerBorder + innerRadius - 0.5));
}

void FloatingStatusWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        if (onClose) onClose();
        return;
    }
    // Exactly Ctrl (no Shift, Alt or Meta) with W.
    if (event->key() == Qt::Key_W && (event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
        event->accept();
        if (onClose) onClose();
        return;
    }
    QWidget::keyPressEvent(event);
}

Qt::Edges FloatingStatusWindow::edgesAt(const QPoint& position) const {
    Qt::Edges edges;
    if (position.x() < resizeGrip) edges |= Qt::LeftEdge;
    if (position.x() >= width() - resizeGrip) edges |= Qt::RightEdge;
    return edges;
}

void FloatingStatusWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    QWindow* handle = windowHandle();
    if (const Qt::Edges edges = edgesAt(event->position().toPoint()); edges && handle) {
        handle->startSystemResize(edges);
        return;
    }
    if (handle && handle->startSystemMove()) return;
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void FloatingStatusWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        move(event->globalPosition().toPoint() - dragOffset_);
        event->accept();
        return;
    }
    setCursor(edgesAt(event->position().toPoint()) ? Qt::SizeHorCursor : Qt::ArrowCursor);
    QWidget::mouseMoveEvent(event);
}

void FloatingStatusWindow::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

void FloatingStatusWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (onMoved) onMoved();
}

void FloatingStatusWindow::resizeEvent(QResizeEvent* event) {
    applyMask();
    QWidget::resizeEvent(event);
    if (onResized) onResized();
}

void FloatingStatusWindow::applyMask() {
    if (translucent_) return;
    const QPainterPath shape = rounded(QRectF(rect()), outerBorder + innerBorder + innerRadius);
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

} // namespace brindleaf
