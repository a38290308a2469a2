#include "windows/BringToFront.hpp"

#include <QWidget>

namespace brindleaf {

void bringToFront(QWidget* window) {
    if (!window) return;
    if (window->windowState() & Qt::WindowMinimized) {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace brindleaf
