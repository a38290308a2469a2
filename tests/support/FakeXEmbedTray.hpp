#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>

namespace brindleaf::testing {

// An XEmbed tray as far as tray icons and tray watchers see it: a second
// client of the test's X server ($DISPLAY) that takes the system tray
// selection and announces it as trays do, and counts the icons that ask it to
// dock them.
class FakeXEmbedTray {
public:
    FakeXEmbedTray();
    ~FakeXEmbedTray();
    FakeXEmbedTray(const FakeXEmbedTray&) = delete;
    FakeXEmbedTray& operator=(const FakeXEmbedTray&) = delete;

    // Takes the _NET_SYSTEM_TRAY_S0 selection with a new window and announces
    // it with a MANAGER message to the root; once this returns the server has
    // handled both.
    void start();
    // Destroys the tray's window, and with it the selection; once this
    // returns the server has handled it.
    void stop();

    // Sets _NET_SYSTEM_TRAY_COLORS on the tray's window, as GTK's trays do:
    // the foreground (red, green, blue, 16 bits each), then the error, warning
    // and success colours. Once this returns the server has handled it.
    void setColours(std::array<std::uint16_t, 3> foreground);

    // The dock requests that arrived so far.
    int dockRequests();
    // Waits until the server has handled every request of this client, and so
    // has sent it every event before them.
    void sync();

private:
    xcb_atom_t atom(const char* name) const;

    xcb_connection_t* connection_;
    xcb_window_t window_ = 0;
    xcb_atom_t opcode_ = 0;
    int docks_ = 0;
};

} // namespace brindleaf::testing
