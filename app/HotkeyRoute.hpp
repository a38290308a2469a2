#pragma once

#include <optional>
#include <string_view>

namespace brindleaf {

// How the global hot keys reach the program. In a Wayland session they go
// through the desktop portal's GlobalShortcuts only: X11 grabs there reach an
// XWayland client only while one of its windows has the focus, and a key that
// works sometimes is worse than none. Elsewhere they are X11 key grabs.
enum class HotkeyRoute { x11Grabs, desktopPortal };

// The route for a session whose XDG_SESSION_TYPE and WAYLAND_DISPLAY are
// these (absent when unset): a session type of "wayland", or a non-empty
// Wayland display, is a Wayland session.
HotkeyRoute chooseHotkeyRoute(std::optional<std::string_view> sessionType,
                              std::optional<std::string_view> waylandDisplay);

} // namespace brindleaf
