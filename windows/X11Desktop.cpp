#include "windows/X11Desktop.hpp"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace brindleaf::X11Desktop {

namespace {

constexpr std::uint32_t allDesktops = 0xFFFFFFFF;

xcb_connection_t* connection() {
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return app ? app->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!reply) return XCB_ATOM_NONE;
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
}

xcb_window_t rootOf(xcb_connection_t* c) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    return screens.rem ? screens.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

bool isX11() { return connection() != nullptr; }

void showOnAllDesktops(QWidget* window) {
    xcb_connection_t* c = connection();
    if (!c || !window) return;
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t desktop = atom(c, "_NET_WM_DESKTOP");
    if (desktop == XCB_ATOM_NONE) return;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
    if (window->isVisible()) {
        // A mapped window's desktop is the window manager's to change.
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = id;
        event.type = desktop;
        event.data.data32[0] = allDesktops;
        event.data.data32[1] = 1; // a normal application
        xcb_send_event(c, 0, rootOf(c), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_flush(c);
}

std::optional<std::uint32_t> windowDesktop(QWidget* window) {
    xcb_connection_t* c = connection();
    if (!c || !window) return std::nullopt;
    const xcb_atom_t desktop = atom(c, "_NET_WM_DESKTOP");
    auto cookie = xcb_get_property(c, 0, xcb_window_t(window->winId()), desktop, XCB_ATOM_CARDINAL, 0, 1);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (!reply) return std::nullopt;
    std::optional<std::uint32_t> result;
    if (reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        result = *static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    std::free(reply);
    return result;
}

bool hasCompositor() {
    xcb_connection_t* c = connection();
    if (!c) return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    // The first screen's compositor (Qt uses one X screen per display).
    const std::string name = "_NET_WM_CM_S0";
    const xcb_atom_t selection = atom(c, name.c_str());
    if (selection == XCB_ATOM_NONE) return false;
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    if (!reply) return false;
    const bool owned = reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

} // namespace brindleaf::X11Desktop
