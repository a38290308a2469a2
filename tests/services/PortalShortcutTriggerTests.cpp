#include "services/PortalShortcutTrigger.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

constexpr std::uint32_t ctrl = HotkeyShortcut::controlModifier;
constexpr std::uint32_t alt = HotkeyShortcut::optionModifier;
constexpr std::uint32_t shift = HotkeyShortcut::shiftModifier;
constexpr std::uint32_t super = HotkeyShortcut::commandModifier;

} // namespace

TEST(PortalShortcutTriggerTests, ShortcutsAndTriggersTranslateBothWays) {
    struct Case {
        HotkeyShortcut shortcut;
        const char* trigger;
    } cases[] = {
        {{1, ctrl | alt | super}, "CTRL+ALT+LOGO+s"},
        {{0, ctrl | alt | super}, "CTRL+ALT+LOGO+a"},
        {{1, super}, "LOGO+s"},
        {{18, shift | ctrl}, "SHIFT+CTRL+1"}, // a shifted key keeps its unshifted name
        {{43, ctrl | alt}, "CTRL+ALT+comma"},
        {{47, shift | alt}, "SHIFT+ALT+period"},
        {{33, ctrl}, "CTRL+bracketleft"},
        {{39, ctrl}, "CTRL+apostrophe"},
        {{50, alt}, "ALT+grave"},
        {{42, ctrl}, "CTRL+backslash"},
        {{24, ctrl | shift}, "SHIFT+CTRL+equal"},
        {{49, ctrl | alt}, "CTRL+ALT+space"},
        {{36, super}, "LOGO+Return"},
        {{96, ctrl}, "CTRL+F5"},
        {{116, ctrl | shift | alt | super}, "SHIFT+CTRL+ALT+LOGO+Prior"},
        {{82, ctrl}, "CTRL+KP_0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortalShortcutTrigger::of(c.shortcut), c.trigger) << c.trigger;
        EXPECT_EQ(PortalShortcutTrigger::parse(c.trigger), c.shortcut) << c.trigger;
    }
}

TEST(PortalShortcutTriggerTests, WhatHasNoTriggerAndWhatIsNoTrigger) {
    EXPECT_EQ(PortalShortcutTrigger::of({1, shift}), std::nullopt) << "Shift alone is not a shortcut";
    EXPECT_EQ(PortalShortcutTrigger::of({1, 0}), std::nullopt);
    EXPECT_EQ(PortalShortcutTrigger::of({52, ctrl}), std::nullopt) << "no key has code 52";
    for (const char* trigger :
         {"", "CTRL+", "ctrl+alt+logo+s", "SUPER+s", "CTRL+ALT+LOGO+S", "CTRL+ALT+LOGO+exclam", "CTRL++", "META+s"}) {
        EXPECT_EQ(PortalShortcutTrigger::parse(trigger), std::nullopt) << trigger;
    }
}

TEST(PortalShortcutTriggerTests, TheDesktopsDescriptionIsMatchedWhateverItsOrderAndCase) {
    struct Case {
        const char* description;
        HotkeyShortcut shortcut;
        bool describes;
    } cases[] = {
        {"Meta+Ctrl+Alt+S", {1, ctrl | alt | super}, true},
        {"Ctrl+Alt+Super+S", {1, ctrl | alt | super}, true},
        {"meta+ctrl+alt+s", {1, ctrl | alt | super}, true},
        {"Meta+Ctrl+Alt+A", {1, ctrl | alt | super}, false}, // the user's own key
        {"Meta+Ctrl+S", {1, ctrl | alt | super}, false},
        {"Meta+Shift+Ctrl+Alt+S", {1, ctrl | alt | super}, false},
        {"Ctrl+,", {43, ctrl}, true},
        {"Ctrl+Space", {49, ctrl}, true},
        {"Ctrl+F5", {96, ctrl}, true},
        {"Ctrl++", {24, ctrl}, false},
        {"", {1, ctrl}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortalShortcutTrigger::describes(c.description, c.shortcut), c.describes) << c.description;
    }
}
