// Where the floating window opens and how tall it is.
#include "tests/support/ScopedGermanLocale.hpp"
#include "windows/FloatingWindowGeometry.hpp"
#include "windows/FrameSaveThrottle.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace brindleaf;
using namespace brindleaf::FloatingWindowGeometry;
using brindleaf::testing::ScopedGermanLocale;

namespace {

// A 1440 x 900 screen whose top 30 pixels are a panel.
const Screen mainScreen{{0, 0, 1440, 900}, {0, 30, 1440, 870}};
const Screen rightScreen{{1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}};
const std::vector<Screen> screens{mainScreen, rightScreen};

} // namespace

TEST(FloatingWindowGeometry, FrameStringRoundTrips) {
    const Rect frame{12.5, -40, 600, 660};
    EXPECT_EQ(frameString(frame), "{{12.5, -40}, {600, 660}}");
    EXPECT_EQ(parseFrameString(frameString(frame)), frame);
    EXPECT_EQ(parseFrameString("{{1,2},{3,4}}"), (Rect{1, 2, 3, 4}));
    for (const char* bad : {"", "{{1, 2}, {3}}", "{{1, 2}, {3, 4}} x", "1 2 3 4", "{{a, 2}, {3, 4}}"})
        EXPECT_FALSE(parseFrameString(bad)) << bad;
}

TEST(FloatingWindowGeometry, FrameStringKeepsItsDecimalPointUnderAGermanLocale) {
    ScopedGermanLocale german;
    ASSERT_TRUE(german.active()) << german.problem();
    const Rect frame{12.5, -40.25, 600.1, 660};
    EXPECT_EQ(frameString(frame), "{{12.5, -40.25}, {600.10000000000002, 660}}");
    EXPECT_EQ(parseFrameString(frameString(frame)), frame);
    EXPECT_EQ(parseFrameString("{{+1.5, 2e1}, {3, 4}}"), (Rect{1.5, 20, 3, 4}));
    EXPECT_FALSE(parseFrameString("{{1,5, 2}, {3, 4}}"));
}

TEST(FloatingWindowGeometry, SavedFrameIsUsedOnlyWhenSound) {
    EXPECT_EQ(usableSavedFrame("{{100, 100}, {200, 200}}", screens), (Rect{100, 100, 200, 200}));
    EXPECT_FALSE(usableSavedFrame("{{100, 100}, {199, 500}}", screens)); // too narrow
    EXPECT_FALSE(usableSavedFrame("{{100, 100}, {500, 199}}", screens));
    EXPECT_FALSE(usableSavedFrame("{{4000, 100}, {600, 660}}", screens)); // on a screen no longer attached
    EXPECT_FALSE(usableSavedFrame("{{0, -300}, {600, 300}}", screens));   // above every working area
    EXPECT_FALSE(usableSavedFrame(std::nullopt, screens));
    EXPECT_FALSE(usableSavedFrame("{{100, 100}, {600, 660}}", {}));
    // Hand-edited values: not finite is refused, huge is capped to the largest screen.
    EXPECT_FALSE(usableSavedFrame("{{100, 100}, {nan, 660}}", screens));
    EXPECT_FALSE(usableSavedFrame("{{inf, 100}, {600, 660}}", screens));
    EXPECT_EQ(usableSavedFrame("{{100, 100}, {1e308, 1e308}}", screens), (Rect{100, 100, 1920, 1080}));
}

TEST(FloatingWindowGeometry, DefaultPlacement) {
    // Centred 8 pixels below the anchor, and 8 inside the working area (below the panel).
    EXPECT_EQ(defaultPlacement(Rect{700, 4, 22, 22}, screens), (Rect{411, 38, 600, 660}));
    EXPECT_EQ(defaultPlacement(Rect{700, 40, 22, 22}, screens), (Rect{411, 70, 600, 660}));
    // Near the right edge: 8 inside the working area.
    EXPECT_EQ(defaultPlacement(Rect{1420, 4, 20, 22}, screens), (Rect{832, 38, 600, 660}));
    // On the second screen.
    EXPECT_EQ(defaultPlacement(Rect{1450, 4, 20, 22}, screens), (Rect{1448, 34, 600, 660}));
    // An anchor low on the screen keeps the window 8 above the bottom.
    EXPECT_EQ(defaultPlacement(Rect{700, 880, 20, 20}, screens).y, 900 - 660 - 8);
    // Without an anchor: centred in the main screen's working area.
    EXPECT_EQ(defaultPlacement(std::nullopt, screens), (Rect{420, 135, 600, 660}));
    // Without a screen: the fallback area; too small an area lets the right and top limits win.
    EXPECT_EQ(defaultPlacement(std::nullopt, {}), (Rect{420, 120, 600, 660}));
    const Screen tiny{{0, 0, 400, 300}, {0, 0, 400, 300}};
    EXPECT_EQ(defaultPlacement(std::nullopt, {tiny}), (Rect{400 - 608, 8, 600, 660}));
}

TEST(FloatingWindowGeometry, FitsTheHeightToTheContent) {
    const Rect window{100, 100, 600, 660};
    EXPECT_FALSE(fit(window, 1.0, mainScreen.available));
    EXPECT_FALSE(fit(window, std::numeric_limits<double>::quiet_NaN(), mainScreen.available));
    auto grown = fit(window, 400, mainScreen.available);
    ASSERT_TRUE(grown);
    EXPECT_EQ(grown->targetHeight, 470);
    EXPECT_EQ(grown->frame, (Rect{100, 100, 600, 470}));
    EXPECT_EQ(fit(window, 100, mainScreen.available)->targetHeight, 400); // the minimum height
    EXPECT_EQ(fit(window, 400.2, mainScreen.available)->targetHeight, 471);
    // 90 % of the available height at most.
    EXPECT_DOUBLE_EQ(fit(window, 5000, mainScreen.available)->targetHeight, 0.9 * 870);
    EXPECT_EQ(fit(window, 5000, std::nullopt)->targetHeight, 810);
    // Within half a pixel: the target is kept but the frame stays.
    auto same = fit(Rect{100, 100, 600, 470.4}, 400, mainScreen.available);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->targetHeight, 470);
    EXPECT_FALSE(same->frame);
    // Kept 6 inside the available area; the bottom limit wins.
    EXPECT_EQ(fit(Rect{100, 10, 600, 500}, 400, mainScreen.available)->frame->y, 36);
    EXPECT_EQ(fit(Rect{100, 700, 600, 500}, 400, mainScreen.available)->frame->y, 900 - 6 - 470);
}

TEST(FrameSaveThrottle, OneSavePerQuarterSecondWhileMoving) {
    FrameSaveThrottle throttle;
    EXPECT_TRUE(throttle.changed(10.0));
    EXPECT_FALSE(throttle.changed(10.1));
    EXPECT_FALSE(throttle.changed(10.249));
    EXPECT_DOUBLE_EQ(throttle.dueAt(), 10.25);
    EXPECT_TRUE(throttle.changed(10.25));
    throttle.saved(11.0); // the trailing save
    EXPECT_FALSE(throttle.changed(11.1));
    EXPECT_TRUE(throttle.changed(11.3));
}
