#include "platform/X11WindowActivator.hpp"

#include "platform/X11Atom.hpp"

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <string>

namespace brindleaf {

namespace {

constexpr auto answerWithin = std::chrono::seconds(1);

struct Connection {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;

    explicit Connection(const char* displayName) {
        int screenNumber = 0;
        connection = xcb_connect(displayName, &screenNumber);
        if (!connection || xcb_connection_has_error(connection)) return;
        if (const xcb_screen_t* screen = screenOf(connection, screenNumber)) root = screen->root;
    }
    ~Connection() {
        if (connection) xcb_disconnect(connection);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    bool ok() const { return connection && !xcb_connection_has_error(connection) && root; }

    // The reply to a request, waited for at most `answerWithin`.
    std::unique_ptr<void, decltype(&std::free)> reply(unsigned int sequence) const {
        std::unique_ptr<void, decltype(&std::free)> none(nullptr, &std::free);
        xcb_flush(connection);
        const auto deadline = std::chrono::steady_clock::now() + answerWithin;
        for (;;) {
            void* answer = nullptr;
            xcb_generic_error_t* error = nullptr;
            if (xcb_poll_for_reply(connection, sequence, &answer, &error)) {
                std::free(error);
                return {answer, &std::free};
            }
            if (xcb_connection_has_error(connection)) return none;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return none;
            pollfd entry{xcb_get_file_descriptor(connection), POLLIN, 0};
            poll(&entry, 1, static_cast<int>(left.count()));
            // Reading the answer into xcb's queue; events are dropped.
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) std::free(event);
        }
    }

    std::optional<xcb_atom_t> atom(const char* name) const {
        const auto cookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
        auto answer = reply(cookie.sequence);
        if (!answer) return std::nullopt;
        return static_cast<xcb_intern_atom_reply_t*>(answer.get())->atom;
    }

    // A property of 32-bit values.
    std::optional<std::vector<uint32_t>> cardinals(xcb_window_t window, const char* name, xcb_atom_t type) const {
        const auto property = atom(name);
        if (!property) return std::nullopt;
        const auto cookie = xcb_get_property(connection, 0, window, *property, type, 0, 1 << 16);
        auto answer = reply(cookie.sequence);
        if (!answer) return std::nullopt;
        auto* value = static_cast<xcb_get_property_reply_t*>(answer.get());
        if (value->format != 32) return std::nullopt;
        const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(value));
        return std::vector<uint32_t>(data, data + xcb_get_property_value_length(value) / 4);
    }

    void clientMessage(xcb_window_t window, const char* type, std::initializer_list<uint32_t> data) const {
        const auto messageType = atom(type);
        if (!messageType) return;
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = *messageType;
        std::copy(data.begin(), data.end(), event.data.data32);
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }
};

} // namespace

X11WindowActivator::X11WindowActivator(const char* displayName) : displayName_(displayName) {}

bool X11WindowActivator::isAvailable() const { return Connection(displayName_).ok(); }

std::optional<X11WindowActivator::OwnedWindow> X11WindowActivator::windowOf(
    const std::vector<int64_t>& processes) const {
    Connection x(displayName_);
    if (!x.ok()) return std::nullopt;
    // Bottom to top: the last window of a process is its most recently raised.
    auto windows = x.cardinals(x.root, "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW);
    if (!windows || windows->empty()) windows = x.cardinals(x.root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW);
    if (!windows) return std::nullopt;
    std::vector<std::pair<uint32_t, int64_t>> owners;
    for (uint32_t window : *windows) {
        const auto pid = x.cardinals(window, "_NET_WM_PID", XCB_ATOM_CARDINAL);
        if (pid && !pid->empty()) owners.emplace_back(window, static_cast<int64_t>((*pid)[0]));
    }
    for (int64_t process : processes) {
        for (auto owner = owners.rbegin(); owner != owners.rend(); ++owner)
            if (owner->second == process) return OwnedWindow{owner->first, process};
    }
    return std::nullopt;
}

std::optional<uint32_t> X11WindowActivator::activeWindow() const {
    Connection x(displayName_);
    if (!x.ok()) return std::nullopt;
    const auto active = x.cardinals(x.root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
    if (!active || active->empty() || (*active)[0] == 0) return std::nullopt;
    return (*active)[0];
}

bool X11WindowActivator::activate(uint32_t window) const {
    Connection x(displayName_);
    if (!x.ok()) return false;
    constexpr uint32_t allDesktops = 0xFFFFFFFF;
    const auto desktop = x.cardinals(window, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL);
    const auto current = x.cardinals(x.root, "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL);
    if (desktop && !desktop->empty() && (*desktop)[0] != allDesktops &&
        (!current || current->empty() || (*current)[0] != (*desktop)[0]))
        x.clientMessage(x.root, "_NET_CURRENT_DESKTOP", {(*desktop)[0], XCB_CURRENT_TIME});
    const auto hidden = x.atom("_NET_WM_STATE_HIDDEN");
    const auto state = x.cardinals(window, "_NET_WM_STATE", XCB_ATOM_ATOM);
    if (hidden && state && std::find(state->begin(), state->end(), *hidden) != state->end())
        xcb_map_window(x.connection, window); // a map request restores an iconic window (ICCCM 4.1.4)
    x.clientMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
    // A round trip: the requests have reached the server when it answers.
    const auto sync = xcb_get_input_focus(x.connection);
    return x.reply(sync.sequence) != nullptr;
}

} // namespace brindleaf
