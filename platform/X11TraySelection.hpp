#pragma once

#include <cstdint>

struct xcb_connection_t;

namespace brindleaf {

// Whether an XEmbed tray is there: an X client owning the screen's system tray
// selection ("_NET_SYSTEM_TRAY_S<screen>"). A tray that starts announces
// itself with a MANAGER message on the root window; one that ends destroys the
// window that owns the selection. Both arrive on a connection of its own,
// whose descriptor the caller watches; nothing is read until it says so.
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

private:
    void refreshOwner();
    std::uint32_t askOwner() const;

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint32_t selection_ = 0;
    std::uint32_t manager_ = 0;
    std::uint32_t owner_ = 0;
};

} // namespace brindleaf
