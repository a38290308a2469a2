#pragma once

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf::testing {

// A client of the test's X server ($DISPLAY) that asks the window manager for
// things as a task bar or pager does, and checks first what such a request
// relies on: a window manager runs the display, it manages the window, the
// server passed the request on. Each check's failure says which of these was
// missing, and `describe` gives a window's state for the message of a wait
// that ran out.
class WindowManagerProbe {
public:
    WindowManagerProbe();
    ~WindowManagerProbe();
    WindowManagerProbe(const WindowManagerProbe&) = delete;
    WindowManagerProbe& operator=(const WindowManagerProbe&) = delete;

    // A window manager runs the display: the window that the root's
    // _NET_SUPPORTING_WM_CHECK names names itself (the property a manager
    // that has ended leaves behind does not).
    ::testing::AssertionResult isRunning();
    // The window manager runs and manages the window: the window has the
    // WM_STATE it sets and is in its _NET_CLIENT_LIST.
    ::testing::AssertionResult manages(xcb_window_t window);
    // Sends the window manager a message about a managed window (to the root,
    // as the conventions ask) and waits for the server's answer: success once
    // the server has passed it on.
    ::testing::AssertionResult ask(xcb_window_t window, const char* type, std::array<std::uint32_t, 5> data);

    // "0x… viewable, WM_STATE Normal, _NET_WM_STATE [_NET_WM_STATE_HIDDEN],
    // managed by Openbox (pid 42)", or what of this is missing.
    std::string describe(xcb_window_t window);
    // The window manager's name and pid, or why none runs.
    std::string windowManager();

    // The names of a property's atoms in their order (a window's
    // _NET_WM_STATE or _NET_WM_WINDOW_TYPE); none when the window lacks it.
    std::vector<std::string> atomNames(xcb_window_t window, const char* property);
    // A text property (_NET_WM_NAME) as the server holds it; empty when unset.
    std::string text(xcb_window_t window, const char* property);

    // The root's work area (_NET_WORKAREA, the first desktop's) as the
    // window manager publishes it: x, y, width, height.
    std::optional<std::array<std::int32_t, 4>> workArea();

protected:
    xcb_atom_t atom(const char* name);
    std::string atomName(xcb_atom_t atom);
    // A 32-bit property's values; none when the window lacks it (or is gone).
    std::optional<std::vector<std::uint32_t>> property(xcb_window_t window, xcb_atom_t name);
    std::string textProperty(xcb_window_t window, xcb_atom_t name);
    // The window the root's _NET_SUPPORTING_WM_CHECK names, when it names itself.
    std::optional<xcb_window_t> checkWindow();

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
};

} // namespace brindleaf::testing
