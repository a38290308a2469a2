#pragma once

#include "tests/support/WindowManagerProbe.hpp"

#include <QApplication>

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf::testing {

// The process's QApplication, on the rig's X server.
QApplication& x11Application();

// Runs Qt's events until the condition holds. Returns false only when it
// still does not after a bound (30 s) that a working rig never reaches.
bool processEventsUntil(const std::function<bool()>& condition);

// A second client of the X server that looks at (and asks about) a window as
// a task bar does, apart from Qt's own connection.
class X11WindowProbe : public WindowManagerProbe {
public:
    // Asks the window manager to iconify the window (WM_CHANGE_STATE,
    // IconicState); fails, saying why, unless a window manager manages the
    // window and the server passed the request on.
    ::testing::AssertionResult requestIconic(xcb_window_t window);
    // The window and all its ancestors are mapped.
    bool isViewable(xcb_window_t window);
    // The window's _NET_WM_STATE holds the named state ("_NET_WM_STATE_HIDDEN").
    bool hasState(xcb_window_t window, const std::string& state);

    // The functions of _MOTIF_WM_HINTS, when the window sets them.
    std::optional<std::uint32_t> motifFunctions(xcb_window_t window);
    static constexpr std::uint32_t motifFunctionMinimize = 1u << 3;

    // The window's minimum and maximum size from WM_NORMAL_HINTS, when both are set.
    struct SizeLimits {
        std::int32_t minWidth, minHeight, maxWidth, maxHeight;
    };
    std::optional<SizeLimits> sizeLimits(xcb_window_t window);
};

} // namespace brindleaf::testing
