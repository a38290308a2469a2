// The colour and symbol of each mood in the dashboard's header and on the
// floating window's tile.
#include "presentation/DashboardLayout.hpp"
#include "presentation/FloatingContentLayout.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using Mood = StatusWording::Mood;
using Role = ThemeColor::Role;

TEST(MoodLook, DashboardHeader) {
    struct Case {
        Mood mood;
        Role colour;
        const char* symbol;
    } cases[] = {
        {Mood::working, Role::accent, "waveform.path.ecg"},
        {Mood::waiting, Role::orange, "hand.raised.fill"},
        {Mood::idle, Role::green, "checkmark"},
        {Mood::unavailable, Role::secondaryLabel, "questionmark"},
        {Mood::notUpdated, Role::secondaryLabel, "clock"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DashboardLayout::moodColor(c.mood), ThemeColor::system(c.colour)) << c.symbol;
        EXPECT_EQ(DashboardLayout::moodSymbol(c.mood), c.symbol);
    }
}

TEST(MoodLook, FloatingWindowTile) {
    struct Case {
        Mood mood;
        Role colour;
        const char* symbol; // without active sessions
    } cases[] = {
        {Mood::working, Role::accent, "checkmark"},
        {Mood::waiting, Role::orange, "checkmark"},
        {Mood::idle, Role::green, "checkmark"},
        // Nothing could be read: no green check mark that says all is well.
        {Mood::unavailable, Role::secondaryLabel, "questionmark"},
        {Mood::notUpdated, Role::green, "checkmark"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FloatingContentLayout::moodColor(c.mood), ThemeColor::system(c.colour)) << int(c.mood);
        EXPECT_EQ(FloatingContentLayout::tileSymbol(c.mood), c.symbol) << int(c.mood);
    }
    EXPECT_EQ(FloatingContentLayout::tileOpacity(true), 0.16);
    EXPECT_EQ(FloatingContentLayout::tileOpacity(false), 0.12);
}

TEST(MoodLook, FloatingWindowPulseEasesEachWay) {
    using FloatingContentLayout::pulsePhase;
    struct Case {
        double seconds, phase;
    } cases[] = {
        {0, 0},
        {0.45, 0.5},
        {0.9, 1},
        {1.35, 0.5},
        {1.8, 0},
        {2.25, 0.5},
        // A quarter of the way out and back: eased, so well short of a quarter.
        {0.225, 0.129},
        {1.575, 0.129},
        {0.675, 0.871},
        {-1, 0},
    };
    for (const auto& c : cases) EXPECT_NEAR(pulsePhase(c.seconds), c.phase, 0.002) << c.seconds;
}
