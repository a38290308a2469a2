#pragma once

#include <array>
#include <cstdint>
#include <optional>

struct xcb_connection_t;

namespace brindleaf {

// Whether an XEmbed tray is there: an X client owning the screen's system tray
// selection ("_NET_SYSTEM_TRAY_S<screen>"). A tray that starts announces
// itself with a MANAGER message on the root window; one that ends destroys the
// window that owns the selection. Both arrive on a connection of its own,
// whose descriptor the caller watches; nothing is read until it says so.
//
// The tray may also say which colour its icons should be drawn in
// (_NET_SYSTEM_TRAY_COLORS on the window that owns the selection); a change of
// it arrives on the same connection.
//
// Without an X server it is never connected and no owner is ever seen.
// One thread at a time.
class X11TraySelection {
public:
    // Connects to `displayName`, or to $DISPLAY when it is null.
    explicit X11TraySelection(const char* displayName = nullptr);
    ~X11TraySelection();
    X11TraySelection(const X11TraySelection&) = delete;
    X11TraySelection& operator=(const X11TraySelection&) = delete;

    bool isConnected() const { return connection_ != nullptr; }
    // The connection's descriptor (readable when events arrived); -1 without one.
    int fileDescriptor() const;
    bool hasOwner() const { return owner_ != 0; }
    // Reads the events that arrived; true when a tray came or went.
    bool readEvents();
    // The foreground colour of the tray's _NET_SYSTEM_TRAY_COLORS (red, green,
    // blue, 16 bits each), while the tray sets one.
    std::optional<std::array<std::uint16_t, 3>> trayForeground() const { return foreground_; }

private:
    void refreshOwner();
    std::uint32_t askOwner() const;
    void readColours();

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint32_t selection_ = 0;
    std::uint32_t manager_ = 0;
    std::uint32_t owner_ = 0;
    std::uint32_t colours_ = 0;
    std::optional<std::array<std::uint16_t, 3>> foreground_;
};

} // namespace brindleaf
