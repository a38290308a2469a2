#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace brindleaf {

// Stored shortcuts name keys by their position code (the A key is 0, S is 1,
// Space 49, Escape 53). The X server names the same positions by XKB key names
// ("AC01", "AC02", "SPCE", "ESC"); this fixed table links the two.
class HotkeyKeyTable {
public:
    // The XKB key name of a stored key code; absent for codes no PC keyboard has.
    static std::optional<std::string_view> keyName(std::uint32_t keyCode);
    // The stored key code of an XKB key name; absent for names outside the table.
    static std::optional<std::uint32_t> keyCode(std::string_view keyName);
    // Shift, Control, Option, Command (left or right) and Caps Lock: keys that
    // are never a shortcut by themselves.
    static bool isModifierKey(std::uint32_t keyCode);

    static constexpr std::uint32_t escapeKeyCode = 53;
};

} // namespace brindleaf
