#include "app/shell/PopoverWindow.hpp"

#include "windows/WindowManagerHints.hpp"
#include "windows/X11Desktop.hpp"

#include <QEvent>
#include <QKeyEvent>
#include <QMoveEvent>
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
    target_ = topLeft;
    corrections_ = 0;
    // Qt hands the place to the native window before mapping it, marked as
    // the program's choice, so the window manager keeps it.
    move(topLeft);
    // Part of the tray, not of the task list.
    const auto hints = WindowManagerHints::forRole(WindowManagerHints::Role::trayPopover);
    X11Desktop::applyHints(this, hints);
    show();
    X11Desktop::applyHints(this, hints);
    raise();
    activateWindow();
    holdPlace();
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

void PopoverWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    holdPlace();
}

void PopoverWindow::holdPlace() {
    if (!isVisible() || !target_ || pos() == *target_ || corrections_ >= maximumCorrections) return;
    ++corrections_;
    move(*target_);
}

void PopoverWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace brindleaf
