#pragma once

#include <string_view>
#include <vector>

namespace brindleaf {

// What the window manager is told about a top-level window, so that task
// bars, pagers and window switchers treat it as what it is. The dashboard
// under the tray icon and the floating status window belong to the tray: no
// task-bar button, no place in a pager, above ordinary windows. They stay
// utility windows, which every window manager maps with the keyboard focus
// and leaves where the program put them, and show their own titles as they
// are (the toolkit adds the product's name to every title, and these name it
// already). The settings, welcome and update windows are ordinary windows,
// left to the toolkit.
struct WindowManagerHints {
    enum class Role { ordinary, trayPopover, floatingPanel };

    // The EWMH window type (an atom name) put first in _NET_WM_WINDOW_TYPE;
    // empty: the toolkit's own.
    std::string_view windowType;
    // The _NET_WM_STATE atoms the window holds while it is mapped.
    std::vector<std::string_view> states;
    // Whether the window's names (_NET_WM_NAME, WM_NAME) are its title as set,
    // without the application's name after it.
    bool titleAsSet = false;

    static WindowManagerHints forRole(Role role);
};

} // namespace brindleaf
