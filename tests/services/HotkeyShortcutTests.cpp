#include "services/HotkeyShortcut.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

// Installs a layout lookup for the life of the object.
class ScopedLayout {
public:
    explicit ScopedLayout(HotkeyShortcut::LayoutKeyLookup lookup) {
        HotkeyShortcut::setLayoutKeyLookup(std::move(lookup));
    }
    ~ScopedLayout() { HotkeyShortcut::setLayoutKeyLookup(nullptr); }
};

} // namespace

TEST(HotkeyShortcut, DisplayStringOrdersModifiersThenNamesTheKey) {
    EXPECT_EQ((HotkeyShortcut{49, 256 | 512}).displayString(), "Shift+Super+Space");
    EXPECT_EQ((HotkeyShortcut{122, 4096}).displayString(), "Ctrl+F1");
    EXPECT_EQ((HotkeyShortcut{111, 256 | 512 | 2048 | 4096}).displayString(), "Ctrl+Alt+Shift+Super+F12");
    EXPECT_EQ((HotkeyShortcut{36, 0}).displayString(), "Return");
    // Without a keyboard layout, keys outside the fixed table show their code.
    EXPECT_EQ((HotkeyShortcut{1, 6400}).displayString(), "Ctrl+Alt+Super+Key 1");
    EXPECT_EQ((HotkeyShortcut{4294967295u, 0x20}).displayString(), "Key 4294967295") << "other flag bits show nothing";
}

TEST(HotkeyShortcut, DisplayStringNamesKeysAsALinuxDesktopDoes) {
    constexpr std::uint32_t ctrl = HotkeyShortcut::controlModifier;
    constexpr std::uint32_t alt = HotkeyShortcut::optionModifier;
    constexpr std::uint32_t shift = HotkeyShortcut::shiftModifier;
    constexpr std::uint32_t super = HotkeyShortcut::commandModifier;
    ScopedLayout layout([](std::uint32_t code) -> std::optional<std::string> {
        if (code == 1) return "s";
        if (code == 41) return ";";
        return std::nullopt;
    });
    const struct {
        HotkeyShortcut shortcut;
        const char* shown;
    } cases[] = {
        {{1, ctrl}, "Ctrl+S"},
        {{1, alt}, "Alt+S"},
        {{1, shift}, "Shift+S"},
        {{1, super}, "Super+S"},
        {{1, super | shift | alt | ctrl}, "Ctrl+Alt+Shift+Super+S"},
        {{1, 6400}, "Ctrl+Alt+Super+S"},
        {{0, 6400}, "Ctrl+Alt+Super+Key 0"},
        {{49, ctrl | alt}, "Ctrl+Alt+Space"},
        {{96, ctrl | shift}, "Ctrl+Shift+F5"},
        {{123, ctrl | alt}, "Ctrl+Alt+Left"},
        {{124, super}, "Super+Right"},
        {{126, super}, "Super+Up"},
        {{125, super}, "Super+Down"},
        {{36, ctrl}, "Ctrl+Return"},
        {{48, alt}, "Alt+Tab"},
        {{53, 0}, "Escape"},
        {{51, ctrl}, "Ctrl+Backspace"},
        {{117, ctrl | alt}, "Ctrl+Alt+Delete"},
        {{115, ctrl}, "Ctrl+Home"},
        {{119, ctrl}, "Ctrl+End"},
        {{116, ctrl}, "Ctrl+Page Up"},
        {{121, ctrl}, "Ctrl+Page Down"},
        {{114, super}, "Super+Insert"},
        {{105, ctrl}, "Ctrl+F13"},
        {{90, ctrl}, "Ctrl+F20"},
        {{83, ctrl}, "Ctrl+Keypad 1"},
        {{76, ctrl}, "Ctrl+Keypad Enter"},
        {{41, ctrl | alt}, "Ctrl+Alt+;"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.shortcut.displayString(), c.shown) << c.shortcut.toJSON();
}

TEST(HotkeyShortcut, LayoutNamesAreUpperCasedAndUntranslatableCodesFallBack) {
    ScopedLayout layout([](std::uint32_t code) -> std::optional<std::string> {
        if (code == 1) return "s";
        if (code == 2) return "ß";
        if (code == 3) return "";
        return std::nullopt;
    });
    EXPECT_EQ((HotkeyShortcut{1, 6400}).displayString(), "Ctrl+Alt+Super+S");
    EXPECT_EQ((HotkeyShortcut{2, 256}).keyName(), "SS");
    EXPECT_EQ((HotkeyShortcut{3, 256}).keyName(), "Key 3") << "an empty translation counts as none";
    EXPECT_EQ((HotkeyShortcut{4, 256}).keyName(), "Key 4");
    EXPECT_EQ((HotkeyShortcut{49, 256}).keyName(), "Space") << "the fixed table wins over the layout";
    EXPECT_EQ((HotkeyShortcut{65537, 256}).keyName(), "Key 65537");
}

TEST(HotkeyShortcut, JSONFormRoundTripsAndRejectsBadMembers) {
    const HotkeyShortcut shortcut{1, 6400};
    EXPECT_EQ(shortcut.toJSON(), R"({"keyCode":1,"carbonModifiers":6400})");
    EXPECT_EQ(HotkeyShortcut::fromJSON(shortcut.toJSON()), shortcut);
    EXPECT_EQ(HotkeyShortcut::fromJSON(R"({"carbonModifiers":256,"keyCode":4294967295,"extra":true})"),
              (HotkeyShortcut{4294967295u, 256}));
    for (const char* bad : {"", "[]", "null", R"({"keyCode":1})", R"({"keyCode":"1","carbonModifiers":256})",
                            R"({"keyCode":1,"carbonModifiers":-256})", R"({"keyCode":1,"carbonModifiers":4294967296})",
                            R"({"keyCode":1.0,"carbonModifiers":256})", R"({"keyCode":1,"carbonModifiers":null})"}) {
        EXPECT_FALSE(HotkeyShortcut::fromJSON(bad)) << bad;
    }
}
