#include "presentation/WindowFocus.hpp"

#include <QTimer>
#include <QWidget>

namespace brindleaf {

namespace {
void clearNow(QWidget* window) {
    if (QWidget* focused = window->focusWidget()) focused->clearFocus();
    window->setFocus(Qt::OtherFocusReason); // the window itself, so no control holds the focus
}
} // namespace

void clearInitialFocus(QWidget* window) {
    if (!window) return;
    clearNow(window);
    // The window is the timer's context: a window that has gone cancels the step.
    QTimer::singleShot(0, window, [window] { clearNow(window); });
}

} // namespace brindleaf
