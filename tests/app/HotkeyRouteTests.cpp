#include "app/HotkeyRoute.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

TEST(HotkeyRouteTests, WaylandSessionsUseThePortalOnly) {
    using Route = HotkeyRoute;
    struct Case {
        std::optional<std::string_view> sessionType, waylandDisplay;
        Route route;
    } cases[] = {
        {std::nullopt, std::nullopt, Route::x11Grabs},
        {"x11", std::nullopt, Route::x11Grabs},
        {"tty", std::nullopt, Route::x11Grabs},
        {"", "", Route::x11Grabs},                         // set but empty: no Wayland display
        {"wayland", std::nullopt, Route::desktopPortal},   // XWayland's DISPLAY beside it changes nothing
        {"Wayland", std::nullopt, Route::x11Grabs},        // the variable's value is lower case
        {std::nullopt, "wayland-0", Route::desktopPortal}, // a compositor without a session type
        {"x11", "wayland-1", Route::desktopPortal},        // a nested compositor in an X session
        {"wayland", "wayland-0", Route::desktopPortal},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chooseHotkeyRoute(c.sessionType, c.waylandDisplay), c.route)
            << c.sessionType.value_or("(unset)") << " / " << c.waylandDisplay.value_or("(unset)");
    }
}
