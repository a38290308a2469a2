#pragma once

#include <cstdint>
#include <optional>

class QWidget;

namespace brindleaf {

struct WindowManagerHints;

// The few X11 window-manager conversations the tray's windows need, through
// Qt's xcb connection. Off X11 (Wayland, offscreen) they do nothing.
namespace X11Desktop {

bool isX11();

// Puts a top-level window on every desktop (_NET_WM_DESKTOP 0xFFFFFFFF): the
// property is set on the window, and once it is mapped the window manager is
// asked as well.
void showOnAllDesktops(QWidget* window);

// Gives a top-level window the hints' type and states. Call it before the
// window is shown and again right after, on every showing: the states go into
// the property the window manager reads when it maps the window (after any a
// window manager removed when the window was last hidden, as the conventions
// ask), and once it is mapped the window manager is asked to add them, in
// case it read the property before they were there.
void applyHints(QWidget* window, const WindowManagerHints& hints);

// The window's _NET_WM_DESKTOP as the X server holds it; absent off X11 or
// when it is not set.
std::optional<std::uint32_t> windowDesktop(QWidget* window);

// Whether a compositing manager runs (someone owns _NET_WM_CM_S<screen>), so
// translucent windows show what lies behind them. Off X11: true on Wayland,
// false elsewhere.
bool hasCompositor();

} // namespace X11Desktop

} // namespace brindleaf
