#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// A global keyboard shortcut: a layout-independent key code and a Carbon
// modifier mask (command 0x100, shift 0x200, option 0x800, control 0x1000).
// On this desktop command is the Super key and option the Alt key.
struct HotkeyShortcut {
    static constexpr std::uint32_t commandModifier = 0x100;
    static constexpr std::uint32_t shiftModifier = 0x200;
    static constexpr std::uint32_t optionModifier = 0x800;
    static constexpr std::uint32_t controlModifier = 0x1000;
    // A usable shortcut holds at least one of command, option and control.
    static constexpr std::uint32_t requiredModifierMask = commandModifier | optionModifier | controlModifier;

    std::uint32_t keyCode = 0;
    std::uint32_t carbonModifiers = 0;

    bool operator==(const HotkeyShortcut&) const = default;

    // Whether the modifiers hold command, option or control.
    bool hasRequiredModifier() const { return (carbonModifiers & requiredModifierMask) != 0; }

    // The modifiers present, always in the order Ctrl, Alt, Shift, Super, then
    // keyName(), joined by "+": "Ctrl+Alt+Super+S". The one text a shortcut is
    // shown as, everywhere.
    std::string displayString() const;
    // The fixed name of a special key ("Space", "Return", "Left", "F5"); else what the key shows on the current
    // keyboard layout, upper-cased; else "Key " and the code in decimal.
    std::string keyName() const;

    // The stored form: {"keyCode":1,"carbonModifiers":6400}.
    std::string toJSON() const;
    // Absent unless the text is a JSON object whose "keyCode" and
    // "carbonModifiers" are integers from 0 to 2^32 - 1.
    static std::optional<HotkeyShortcut> fromJSON(std::string_view text);

    // Looks up the text a key code shows on the current keyboard layout; absent
    // when there is no layout or the code cannot be translated. Installed by
    // the desktop layer; without one, keys outside the fixed table are "Key N".
    using LayoutKeyLookup = std::function<std::optional<std::string>(std::uint32_t keyCode)>;
    static void setLayoutKeyLookup(LayoutKeyLookup lookup);
};

std::size_t hashValue(const HotkeyShortcut& shortcut);

} // namespace brindleaf

template <>
struct std::hash<brindleaf::HotkeyShortcut> {
    std::size_t operator()(const brindleaf::HotkeyShortcut& shortcut) const noexcept {
        return brindleaf::hashValue(shortcut);
    }
};
