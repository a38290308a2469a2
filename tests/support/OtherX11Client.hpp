#pragma once

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>

namespace brindleaf::testing {

// A second client of the test's X server, to hold keys the code under test
// then finds taken.
class OtherX11Client {
public:
    OtherX11Client() : connection_(xcb_connect(nullptr, nullptr)) {}
    ~OtherX11Client() { xcb_disconnect(connection_); }
    OtherX11Client(const OtherX11Client&) = delete;
    OtherX11Client& operator=(const OtherX11Client&) = delete;

    // Grabs every modifier variant of the key with this XKB name ("AC02").
    void grabWithAnyModifiers(const char* keyName) {
        xkb_x11_setup_xkb_extension(connection_, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr);
        xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_keymap* keymap = xkb_x11_keymap_new_from_device(
            context, connection_, xkb_x11_get_core_keyboard_device_id(connection_), XKB_KEYMAP_COMPILE_NO_FLAGS);
        const auto keycode = static_cast<xcb_keycode_t>(xkb_keymap_key_by_name(keymap, keyName));
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        auto cookie = xcb_grab_key_checked(connection_, 0, root, XCB_MOD_MASK_ANY, keycode, XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_ASYNC);
        ASSERT_EQ(xcb_request_check(connection_, cookie), nullptr);
    }

private:
    xcb_connection_t* connection_;
};

} // namespace brindleaf::testing
