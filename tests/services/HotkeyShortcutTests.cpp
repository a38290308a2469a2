#include "services/HotkeyShortcut.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

// Installs a layout lookup for the life of the object.
class ScopedLayout {
public:
    explicit ScopedLayout(HotkeyShortcut::LayoutKeyLookup lookup) { HotkeyShortcut::setLayoutKeyLookup(std::move(lookup)); }
    ~ScopedLayout() { HotkeyShortcut::setLayoutKeyLookup(nullptr); }
};

} // namespace

TEST(HotkeyShortcut, DisplayStringOrdersModifiersThenNamesTheKey) {
    EXPECT_EQ((HotkeyShortcut{49, 256 | 512}).displayString(), "⇧⌘Space");
    EXPECT_EQ((HotkeyShortcut{122, 4096}).displayString(), "⌃F1");
    EXPECT_EQ((HotkeyShortcut{111, 256 | 512 | 2048 | 4096}).displayString(), "⌃⌥⇧⌘F12");
    EXPECT_EQ((HotkeyShortcut{36, 0}).displayString(), "↩");
    // Without a keyboard layout, keys outside the fixed table show their code.
    EXPECT_EQ((HotkeyShortcut{1, 6400}).displayString(), "⌃⌥⌘Key 1");
    EXPECT_EQ((HotkeyShortcut{4294967295u, 0x20}).displayString(), "Key 4294967295") << "other flag bits show nothing";
}

TEST(HotkeyShortcut, LayoutNamesAreUpperCasedAndUntranslatableCodesFallBack) {
    ScopedLayout layout([](std::uint32_t code) -> std::optional<std::string> {
        if (code == 1) return "s";
        if (code == 2) return "ß";
        if (code == 3) return "";
        return std::nullopt;
    });
    EXPECT_EQ((HotkeyShortcut{1, 6400}).displayString(), "⌃⌥⌘S");
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
