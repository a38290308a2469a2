#include "platform/X11TraySelection.hpp"
#include "platform/X11Atom.hpp"

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace brindleaf {

namespace {

void selectEvents(xcb_connection_t* connection, xcb_window_t window, std::uint32_t mask) {
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
}

void selectStructureEvents(xcb_connection_t* connection, xcb_window_t window) {
    selectEvents(connection, window, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
}

} // namespace

X11TraySelection::X11TraySelection(const char* displayName) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(displayName, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection) xcb_disconnect(connection);
        return;
    }
    const xcb_screen_t* screen = screenOf(connection, screenNumber);
    if (!screen) {
        xcb_disconnect(connection);
        return;
    }
    connection_ = connection;
    root_ = screen->root;
    selection_ = internAtom(connection_, "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
    manager_ = internAtom(connection_, "MANAGER");
    colours_ = internAtom(connection_, "_NET_SYSTEM_TRAY_COLORS");
    // A new tray's MANAGER message goes to the root window's structure listeners.
    selectStructureEvents(connection_, root_);
    refreshOwner();
    readEvents();
}

X11TraySelection::~X11TraySelection() {
    if (connection_) xcb_disconnect(connection_);
}

int X11TraySelection::fileDescriptor() const { return connection_ ? xcb_get_file_descriptor(connection_) : -1; }

std::uint32_t X11TraySelection::askOwner() const {
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection_), nullptr);
    const std::uint32_t owner = reply ? reply->owner : 0;
    std::free(reply);
    return owner;
}

void X11TraySelection::refreshOwner() {
    if (!connection_ || selection_ == XCB_ATOM_NONE) return;
    // Its end is the tray's end. Asked again after listening to it: once the
    // server has seen the request to listen (the second answer comes after
    // it), a destroy cannot slip by unseen.
    // The same holds for a change of its colours.
    for (std::uint32_t owner = askOwner();;) {
        owner_ = owner;
        if (owner_ == 0) break;
        selectEvents(connection_, owner_, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
        owner = askOwner();
        if (owner == owner_) break;
    }
    readColours();
}

void X11TraySelection::readColours() {
    foreground_.reset();
    if (!owner_ || colours_ == XCB_ATOM_NONE) return;
    // Foreground, error, warning and success colours, three CARDINALs each.
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, owner_, colours_, XCB_ATOM_CARDINAL, 0, 12), nullptr);
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 12) {
        const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        foreground_ =
            std::array<std::uint16_t, 3>{static_cast<std::uint16_t>(values[0]), static_cast<std::uint16_t>(values[1]),
                                         static_cast<std::uint16_t>(values[2])};
    }
    std::free(reply);
}

bool X11TraySelection::readEvents() {
    if (!connection_) return false;
    const bool hadOwner = hasOwner();
    bool ask = false;
    // The owner's reply can queue events behind it: read until none is left.
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            switch (event->response_type & ~0x80) {
            case XCB_CLIENT_MESSAGE: {
                auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                if (message->type == manager_ && message->format == 32 && message->data.data32[1] == selection_)
                    ask = true;
                break;
            }
            case XCB_PROPERTY_NOTIFY: {
                const auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
                if (change->window == owner_ && change->atom == colours_) readColours();
                break;
            }
            case XCB_DESTROY_NOTIFY:
                if (reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == owner_) ask = true;
                break;
            default:
                break;
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection_)) {
            xcb_disconnect(connection_);
            connection_ = nullptr;
            owner_ = 0;
            foreground_.reset();
            break;
        }
        if (!ask) break;
        ask = false;
        refreshOwner();
    }
    return hadOwner != hasOwner();
}

} // namespace brindleaf
