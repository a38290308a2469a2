#pragma once

class QWidget;

namespace brindleaf {

// No control of a window that just opened is focused: the window's focus is
// cleared at once and again on the next turn of the event loop (the window's
// own setup may focus a control later in the same turn). The second step does
// nothing once the window is gone. Used by the dashboard, the settings window
// and the welcome window when they show or change tab.
void clearInitialFocus(QWidget* window);

} // namespace brindleaf
