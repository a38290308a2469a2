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

TEST(PopoverRulesTests, BoundsAreTheAvailableAreaUnlessItCannotHoldThePopup) {
    const Rect screen{0, 0, 1440, 900};
    struct Row {
        Rect available;
        Rect expected;
    } rows[] = {
        {{0, 26, 1440, 874}, {0, 26, 1440, 874}}, // below a top panel
        {{0, 0, 360, 500}, {0, 0, 360, 500}},     // just holds it
        {{0, 450, 1440, 0}, screen},              // two panels claimed half the screen each
        {{0, 0, 0, 0}, screen},                   // no area at all
        {{0, 0, 359, 900}, screen},               // too narrow, and less than half the screen
        {{0, 0, 1440, 449}, screen},              // too low, and less than half the screen
        {{0, 0, 1440, 499}, {0, 0, 1440, 499}},   // too low, but more than half the screen
    };
    for (const auto& row : rows) EXPECT_EQ(bounds(row.available, screen, 360, 500), row.expected) << row.available.y;
    // A small screen whose available area is most of it: that area.
    EXPECT_EQ(bounds({0, 20, 320, 460}, {0, 0, 320, 480}, 360, 500), (Rect{0, 20, 320, 460}));
    // Nothing known about the screen: the available area as it is.
    EXPECT_EQ(bounds({0, 0, 0, 0}, {}, 360, 500), (Rect{}));
    // The popup under the icon with an empty area, not in the screen's corner.
    EXPECT_EQ(origin(Rect{1417, 1, 22, 24}, {}, 360, 500, bounds({0, 450, 1440, 0}, screen, 360, 500)),
              (Point{1080, 29}));
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
