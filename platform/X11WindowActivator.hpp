#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace brindleaf {

// Finds and brings forward top-level windows through the window manager
// (EWMH), over a connection of its own opened per call; every answer of the
// X server is waited for at most a second.
class X11WindowActivator {
public:
    // Connects to `displayName`, or to $DISPLAY when it is null.
    explicit X11WindowActivator(const char* displayName = nullptr);

    // True when an X server answers.
    bool isAvailable() const;
    struct OwnedWindow {
        uint32_t window = 0;
        int64_t owner = 0;
    };
    // The managed window (`_NET_CLIENT_LIST`) whose `_NET_WM_PID` is the first
    // of `processes` (in order) that owns one; of several windows of that
    // process, the one highest in the stacking order (the most recently used).
    std::optional<OwnedWindow> windowOf(const std::vector<int64_t>& processes) const;
    // `_NET_ACTIVE_WINDOW`.
    std::optional<uint32_t> activeWindow() const;
    // Switches to the window's desktop, restores it if minimised and asks the
    // window manager to activate it (source indication 2, a pager).
    bool activate(uint32_t window) const;

private:
    const char* displayName_;
};

} // namespace brindleaf
