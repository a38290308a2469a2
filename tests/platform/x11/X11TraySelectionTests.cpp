// The XEmbed tray's coming and going on the test's X server, played by a
// second client that takes the system tray selection as a tray does.
#include "platform/X11TraySelection.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

using namespace brindleaf;

namespace {

// Reads events until the selection reports a change (or 10 s pass).
bool changeArrives(X11TraySelection& selection) {
    pollfd descriptor{selection.fileDescriptor(), POLLIN, 0};
    for (int round = 0; round < 100; ++round) {
        if (selection.readEvents()) return true;
        ::poll(&descriptor, 1, 100);
    }
    return false;
}

struct FakeTray {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    xcb_window_t window = 0;
    xcb_atom_t atom(const std::string& name) const {
        auto* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
        const xcb_atom_t atom = reply->atom;
        std::free(reply);
        return atom;
    }
    // Takes the selection and announces it, as trays do.
    void start() {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        window = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
        xcb_set_selection_owner(connection, window, selection, XCB_CURRENT_TIME);
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = screen->root;
        message.type = atom("MANAGER");
        message.data.data32[0] = XCB_CURRENT_TIME;
        message.data.data32[1] = selection;
        message.data.data32[2] = window;
        xcb_send_event(connection, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection);
    }
    void stop() {
        xcb_destroy_window(connection, window);
        xcb_flush(connection);
    }
    ~FakeTray() { xcb_disconnect(connection); }
};

} // namespace

TEST(X11TraySelectionTests, SeesATrayComeAndGo) {
    X11TraySelection selection;
    ASSERT_TRUE(selection.isConnected());
    EXPECT_FALSE(selection.hasOwner());
    FakeTray tray;
    tray.start();
    ASSERT_TRUE(changeArrives(selection));
    EXPECT_TRUE(selection.hasOwner());
    tray.stop();
    ASSERT_TRUE(changeArrives(selection));
    EXPECT_FALSE(selection.hasOwner());
    // A tray already there at the start is seen at once.
    FakeTray second;
    second.start();
    ASSERT_TRUE(changeArrives(selection));
    EXPECT_TRUE(X11TraySelection().hasOwner());
}

TEST(X11TraySelectionTests, WithoutAServerNeverSeesATray) {
    X11TraySelection selection(":99999");
    EXPECT_FALSE(selection.isConnected());
    EXPECT_EQ(selection.fileDescriptor(), -1);
    EXPECT_FALSE(selection.readEvents());
    EXPECT_FALSE(selection.hasOwner());
}
