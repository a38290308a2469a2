#pragma once

#include "services/HotkeyShortcut.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// A shortcut as the desktop portal's GlobalShortcuts interface takes it: the
// upper-case modifiers SHIFT, CTRL, ALT and LOGO, then the key's xkb keysym
// name on a US layout, joined by "+" ("CTRL+ALT+LOGO+s", "CTRL+SHIFT+ALT+comma").
// A shifted key keeps its unshifted name and adds SHIFT ("SHIFT+CTRL+1", not "exclam").
class PortalShortcutTrigger {
public:
    // The preferred trigger of a shortcut; absent for a key the table does not
    // name or a shortcut without command, option or control.
    static std::optional<std::string> of(const HotkeyShortcut& shortcut);
    // The shortcut of a trigger; absent for an unknown key or modifier, or no key.
    static std::optional<HotkeyShortcut> parse(std::string_view trigger);
    // Whether the desktop's description of a bound trigger ("Meta+Ctrl+Alt+S",
    // modifiers in any order, any case) names this shortcut.
    static bool describes(std::string_view description, const HotkeyShortcut& shortcut);
    // What the key prints on a US layout ("S", ",", "1"); absent for keys
    // without such a character (Space, F5, the keypad).
    static std::optional<std::string> usKeyText(std::string_view xkbKeyName);
};

} // namespace brindleaf
