#include "windows/X11Desktop.hpp"

#include "windows/WindowManagerHints.hpp"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf::X11Desktop {

namespace {

constexpr std::uint32_t allDesktops = 0xFFFFFFFF;
// The source indication of requests to the window manager: a normal application.
constexpr std::uint32_t normalApplication = 1;

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

xcb_atom_t atom(xcb_connection_t* c, std::string_view name) { return atom(c, std::string(name).c_str()); }

std::vector<xcb_atom_t> atomList(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name) {
    auto cookie = xcb_get_property(c, 0, window, name, XCB_ATOM_ATOM, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    std::vector<xcb_atom_t> atoms;
    if (reply && reply->format == 32) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        atoms.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return atoms;
}

void setAtomList(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name, const std::vector<xcb_atom_t>& atoms) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, name, XCB_ATOM_ATOM, 32, std::uint32_t(atoms.size()),
                        atoms.data());
}

void sendToWindowManager(xcb_connection_t* c, xcb_window_t window, xcb_atom_t type,
                         std::initializer_list<std::uint32_t> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(c, 0, rootOf(c), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
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
    // A mapped window's desktop is the window manager's to change.
    if (window->isVisible()) sendToWindowManager(c, id, desktop, {allDesktops, normalApplication});
    xcb_flush(c);
}

void applyHints(QWidget* window, const WindowManagerHints& hints) {
    xcb_connection_t* c = connection();
    if (!c || !window) return;
    const auto id = xcb_window_t(window->winId());
    if (!hints.windowType.empty()) {
        // First, before the toolkit's own types, which stay as fallbacks.
        const xcb_atom_t typeProperty = atom(c, "_NET_WM_WINDOW_TYPE");
        const xcb_atom_t type = atom(c, hints.windowType);
        std::vector<xcb_atom_t> types = atomList(c, id, typeProperty);
        std::erase(types, type);
        types.insert(types.begin(), type);
        setAtomList(c, id, typeProperty, types);
    }
    if (!hints.states.empty()) {
        const xcb_atom_t stateProperty = atom(c, "_NET_WM_STATE");
        std::vector<xcb_atom_t> states;
        for (std::string_view state : hints.states) states.push_back(atom(c, state));
        if (window->isVisible()) {
            // Two states a message; 1 adds them.
            for (std::size_t i = 0; i < states.size(); i += 2)
                sendToWindowManager(c, id, stateProperty,
                                    {1, states[i], i + 1 < states.size() ? states[i + 1] : 0, normalApplication});
        } else {
            // Kept with what the toolkit (or anyone) put there; the toolkit
            // adds its own to this property when it maps the window.
            std::vector<xcb_atom_t> held = atomList(c, id, stateProperty);
            for (xcb_atom_t state : states)
                if (std::find(held.begin(), held.end(), state) == held.end()) held.push_back(state);
            setAtomList(c, id, stateProperty, held);
        }
    }
    if (hints.titleAsSet) {
        const QByteArray title = window->windowTitle().toUtf8();
        const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
        for (const xcb_atom_t name : {atom(c, "_NET_WM_NAME"), xcb_atom_t{XCB_ATOM_WM_NAME}})
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, name, utf8, 8, std::uint32_t(title.size()),
                                title.constData());
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
