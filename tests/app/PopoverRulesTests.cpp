#include "app/PopoverPlacement.hpp"
#include "app/PopoverToggle.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::PopoverPlacement;

TEST(PopoverRulesTests, Placement) {
    const Rect screen{0, 0, 1440, 900};
    struct Row {
        std::optional<Rect> icon;
        Point cursor;
        Point expected;
    } rows[] = {
        {Rect{700, 0, 22, 24}, {0, 0}, {711 - 180, 28}},          // centred below the icon
        {Rect{1417, 1, 22, 24}, {0, 0}, {1440 - 360, 29}},        // clamped at the right edge
        {Rect{0, 0, 0, 0}, {100, 5}, {0, 10}},                    // empty geometry: the pointer, clamped left
        {std::nullopt, {700, 880}, {700 - 180, 880 - 4 - 500}},   // no room below: above
        {Rect{700, 870, 22, 30}, {0, 0}, {711 - 180, 870 - 504}}, // a bottom panel
    };
    for (const auto& row : rows) {
        EXPECT_EQ(origin(row.icon, row.cursor, 360, 500, screen), row.expected);
    }
    // Taller than the screen: the top stays visible.
    EXPECT_EQ(origin(Rect{700, 0, 22, 24}, {}, 360, 1000, screen).y, 0);
}

TEST(PopoverRulesTests, ToggleIgnoresTheClickThatClosedThePopup) {
    PopoverToggle toggle;
    EXPECT_EQ(toggle.toggle(false, 10.0, true), PopoverToggle::Action::open);
    EXPECT_EQ(toggle.toggle(true, 10.1, true), PopoverToggle::Action::close);
    toggle.closedItself(20.0);
    EXPECT_EQ(toggle.toggle(false, 20.1, true), PopoverToggle::Action::none);
    EXPECT_EQ(toggle.toggle(false, 20.1, false), PopoverToggle::Action::open); // the hot key is no click
    EXPECT_EQ(toggle.toggle(false, 20.0 + PopoverToggle::reopenGuard, true), PopoverToggle::Action::open);
    EXPECT_EQ(toggle.toggle(true, 20.1, false), PopoverToggle::Action::close); // hot key while open
}
