#include "tests/support/FakeXEmbedTray.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace brindleaf::testing {

FakeXEmbedTray::FakeXEmbedTray() : connection_(xcb_connect(nullptr, nullptr)) {
    opcode_ = atom("_NET_SYSTEM_TRAY_OPCODE");
}

FakeXEmbedTray::~FakeXEmbedTray() { xcb_disconnect(connection_); }

void FakeXEmbedTray::start() {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
    xcb_set_selection_owner(connection_, window_, selection, XCB_CURRENT_TIME);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = screen->root;
    message.type = atom("MANAGER");
    message.data.data32[0] = XCB_CURRENT_TIME;
    message.data.data32[1] = selection;
    message.data.data32[2] = window_;
    xcb_send_event(connection_, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    sync();
}

void FakeXEmbedTray::stop() {
    xcb_destroy_window(connection_, window_);
    sync();
}

void FakeXEmbedTray::setColours(std::array<std::uint16_t, 3> foreground) {
    const std::uint32_t values[12] = {
        foreground[0], foreground[1], foreground[2], 0xffff, 0, 0, 0xffff, 0x8000, 0, 0, 0xffff, 0};
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_SYSTEM_TRAY_COLORS"), XCB_ATOM_CARDINAL,
                        32, 12, values);
    sync();
}

int FakeXEmbedTray::dockRequests() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            // SYSTEM_TRAY_REQUEST_DOCK is opcode 0.
            if (message->type == opcode_ && message->data.data32[1] == 0) ++docks_;
        }
        std::free(event);
    }
    return docks_;
}

void FakeXEmbedTray::sync() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

xcb_atom_t FakeXEmbedTray::atom(const char* name) const {
    auto* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : 0;
    std::free(reply);
    return value;
}

} // namespace brindleaf::testing
