#include "services/HotkeyKeyTable.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace brindleaf;

TEST(HotkeyKeyTable, EveryKeyCodeRoundTripsThroughItsKeyName) {
    std::set<std::string> names;
    int mapped = 0;
    for (std::uint32_t code = 0; code < 256; ++code) {
        auto name = HotkeyKeyTable::keyName(code);
        if (!name) continue;
        ++mapped;
        EXPECT_TRUE(names.insert(std::string(*name)).second) << "two codes share " << *name;
        EXPECT_EQ(HotkeyKeyTable::keyCode(*name), code) << *name;
    }
    EXPECT_GT(mapped, 100);
}

TEST(HotkeyKeyTable, NamesThePositionsOfAUSKeyboard) {
    struct Case {
        std::uint32_t code;
        const char* name;
    };
    for (auto [code, name] :
         {Case{0, "AC01"}, Case{1, "AC02"}, Case{6, "AB01"}, Case{16, "AD06"}, Case{49, "SPCE"}, Case{53, "ESC"},
          Case{36, "RTRN"}, Case{122, "FK01"}, Case{111, "FK12"}, Case{126, "UP"}, Case{55, "LWIN"}}) {
        EXPECT_EQ(HotkeyKeyTable::keyName(code), name) << code;
    }
    EXPECT_FALSE(HotkeyKeyTable::keyName(52));
    EXPECT_FALSE(HotkeyKeyTable::keyName(127));
    EXPECT_FALSE(HotkeyKeyTable::keyName(65536));
    EXPECT_FALSE(HotkeyKeyTable::keyCode("I999"));
    EXPECT_FALSE(HotkeyKeyTable::keyCode(""));
}

TEST(HotkeyKeyTable, ModifierKeysAreTheLeftAndRightModifiersAndCapsLock) {
    for (std::uint32_t code : {54u, 55u, 56u, 57u, 58u, 59u, 60u, 61u, 62u})
        EXPECT_TRUE(HotkeyKeyTable::isModifierKey(code));
    for (std::uint32_t code : {0u, 1u, 49u, 53u, 63u, 64u}) EXPECT_FALSE(HotkeyKeyTable::isModifierKey(code));
}
