#pragma once

class QWidget;

namespace brindleaf {

// Shows a top-level window in front of the others: a minimized window is
// restored first (showing a window that is already shown does nothing, and
// the window manager activates no window while it is iconic), then it is
// shown, raised and activated.
void bringToFront(QWidget* window);

} // namespace brindleaf
