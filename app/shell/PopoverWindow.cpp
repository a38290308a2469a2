#include "app/shell/PopoverWindow.hpp"

#include <QEvent>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace brindleaf {

PopoverWindow::PopoverWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), layout_(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("dashboardPopover"));
    setWindowTitle(QStringLiteral("Brindleaf Dashboard"));
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSizeConstraint(QLayout::SetFixedSize);
}

void PopoverWindow::setContent(QWidget* content) {
    if (content_) content_->deleteLater();
    content_ = content;
    layout_->addWidget(content);
}

void PopoverWindow::openAt(QPoint topLeft) {
    move(topLeft);
    show();
    raise();
    activateWindow();
}

void PopoverWindow::dismiss() {
    // Hiding deactivates the window at once, which must not count as closing itself.
    dismissing_ = true;
    hide();
    dismissing_ = false;
}

void PopoverWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow() && !dismissing_) {
        hide();
        emit closedItself();
    }
}

void PopoverWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace brindleaf
