#include "services/PortalShortcutTrigger.hpp"

#include "services/HotkeyKeyTable.hpp"

#include <algorithm>
#include <cctype>
#include <vector>

namespace brindleaf {

namespace {

struct KeysymEntry {
    std::string_view xkbKeyName; // the key's place ("AC02")
    std::string_view keysym;     // its keysym name unshifted on a US layout ("s")
    std::string_view text;       // what it prints there, empty for none
};

constexpr KeysymEntry keysyms[] = {
    {"AC01", "a", "A"},
    {"AC02", "s", "S"},
    {"AC03", "d", "D"},
    {"AC04", "f", "F"},
    {"AC05", "g", "G"},
    {"AC06", "h", "H"},
    {"AC07", "j", "J"},
    {"AC08", "k", "K"},
    {"AC09", "l", "L"},
    {"AC10", "semicolon", ";"},
    {"AC11", "apostrophe", "'"},
    {"AB01", "z", "Z"},
    {"AB02", "x", "X"},
    {"AB03", "c", "C"},
    {"AB04", "v", "V"},
    {"AB05", "b", "B"},
    {"AB06", "n", "N"},
    {"AB07", "m", "M"},
    {"AB08", "comma", ","},
    {"AB09", "period", "."},
    {"AB10", "slash", "/"},
    {"AD01", "q", "Q"},
    {"AD02", "w", "W"},
    {"AD03", "e", "E"},
    {"AD04", "r", "R"},
    {"AD05", "t", "T"},
    {"AD06", "y", "Y"},
    {"AD07", "u", "U"},
    {"AD08", "i", "I"},
    {"AD09", "o", "O"},
    {"AD10", "p", "P"},
    {"AD11", "bracketleft", "["},
    {"AD12", "bracketright", "]"},
    {"AE01", "1", "1"},
    {"AE02", "2", "2"},
    {"AE03", "3", "3"},
    {"AE04", "4", "4"},
    {"AE05", "5", "5"},
    {"AE06", "6", "6"},
    {"AE07", "7", "7"},
    {"AE08", "8", "8"},
    {"AE09", "9", "9"},
    {"AE10", "0", "0"},
    {"AE11", "minus", "-"},
    {"AE12", "equal", "="},
    {"TLDE", "grave", "`"},
    {"BKSL", "backslash", "\\"},
    {"LSGT", "less", "<"},
    {"SPCE", "space", ""},
    {"RTRN", "Return", ""},
    {"TAB", "Tab", ""},
    {"BKSP", "BackSpace", ""},
    {"ESC", "Escape", ""},
    {"INS", "Insert", ""},
    {"DELE", "Delete", ""},
    {"HOME", "Home", ""},
    {"END", "End", ""},
    {"PGUP", "Prior", ""},
    {"PGDN", "Next", ""},
    {"LEFT", "Left", ""},
    {"RGHT", "Right", ""},
    {"UP", "Up", ""},
    {"DOWN", "Down", ""},
    {"COMP", "Menu", ""},
    {"FK01", "F1", ""},
    {"FK02", "F2", ""},
    {"FK03", "F3", ""},
    {"FK04", "F4", ""},
    {"FK05", "F5", ""},
    {"FK06", "F6", ""},
    {"FK07", "F7", ""},
    {"FK08", "F8", ""},
    {"FK09", "F9", ""},
    {"FK10", "F10", ""},
    {"FK11", "F11", ""},
    {"FK12", "F12", ""},
    {"FK13", "F13", ""},
    {"FK14", "F14", ""},
    {"FK15", "F15", ""},
    {"FK16", "F16", ""},
    {"FK17", "F17", ""},
    {"FK18", "F18", ""},
    {"FK19", "F19", ""},
    {"FK20", "F20", ""},
    {"KP0", "KP_0", ""},
    {"KP1", "KP_1", ""},
    {"KP2", "KP_2", ""},
    {"KP3", "KP_3", ""},
    {"KP4", "KP_4", ""},
    {"KP5", "KP_5", ""},
    {"KP6", "KP_6", ""},
    {"KP7", "KP_7", ""},
    {"KP8", "KP_8", ""},
    {"KP9", "KP_9", ""},
    {"KPDL", "KP_Decimal", ""},
    {"KPMU", "KP_Multiply", ""},
    {"KPAD", "KP_Add", ""},
    {"KPDV", "KP_Divide", ""},
    {"KPSU", "KP_Subtract", ""},
    {"KPEQ", "KP_Equal", ""},
    {"KPEN", "KP_Enter", ""},
    {"VOL+", "XF86AudioRaiseVolume", ""},
    {"VOL-", "XF86AudioLowerVolume", ""},
    {"MUTE", "XF86AudioMute", ""},
};

struct ModifierEntry {
    std::string_view name;
    std::uint32_t carbon;
};

// In the order the trigger names them.
constexpr ModifierEntry triggerModifiers[] = {
    {"SHIFT", HotkeyShortcut::shiftModifier},
    {"CTRL", HotkeyShortcut::controlModifier},
    {"ALT", HotkeyShortcut::optionModifier},
    {"LOGO", HotkeyShortcut::commandModifier},
};

// The names a desktop's description may give a modifier (Qt's and ours), lower case.
constexpr ModifierEntry describedModifiers[] = {
    {"shift", HotkeyShortcut::shiftModifier},     {"ctrl", HotkeyShortcut::controlModifier},
    {"control", HotkeyShortcut::controlModifier}, {"alt", HotkeyShortcut::optionModifier},
    {"meta", HotkeyShortcut::commandModifier},    {"super", HotkeyShortcut::commandModifier},
    {"logo", HotkeyShortcut::commandModifier},
};

std::vector<std::string_view> splitOnPlus(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto plus = text.find('+', start);
        // A key that is "+" itself ends the text with an empty part after a "+".
        if (plus == start && plus + 1 == text.size()) {
            parts.push_back(text.substr(plus));
            break;
        }
        if (plus == std::string_view::npos) plus = text.size();
        parts.push_back(text.substr(start, plus - start));
        start = plus + 1;
    }
    return parts;
}

std::string lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

const KeysymEntry* entryOfKeyCode(std::uint32_t keyCode) {
    auto name = HotkeyKeyTable::keyName(keyCode);
    if (!name) return nullptr;
    for (const auto& entry : keysyms) {
        if (entry.xkbKeyName == *name) return &entry;
    }
    return nullptr;
}

} // namespace

std::optional<std::string> PortalShortcutTrigger::of(const HotkeyShortcut& shortcut) {
    if (!shortcut.hasRequiredModifier()) return std::nullopt;
    const auto* entry = entryOfKeyCode(shortcut.keyCode);
    if (!entry) return std::nullopt;
    std::string trigger;
    for (const auto& modifier : triggerModifiers) {
        if (shortcut.carbonModifiers & modifier.carbon) trigger += std::string(modifier.name) + "+";
    }
    return trigger + std::string(entry->keysym);
}

std::optional<HotkeyShortcut> PortalShortcutTrigger::parse(std::string_view trigger) {
    const auto parts = splitOnPlus(trigger);
    if (parts.empty() || parts.back().empty()) return std::nullopt;
    HotkeyShortcut shortcut;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto* found = std::find_if(std::begin(triggerModifiers), std::end(triggerModifiers),
                                         [&](const ModifierEntry& entry) { return entry.name == parts[i]; });
        if (found == std::end(triggerModifiers)) return std::nullopt;
        shortcut.carbonModifiers |= found->carbon;
    }
    for (const auto& entry : keysyms) {
        if (entry.keysym != parts.back()) continue;
        auto code = HotkeyKeyTable::keyCode(entry.xkbKeyName);
        if (!code) return std::nullopt;
        shortcut.keyCode = *code;
        return shortcut;
    }
    return std::nullopt;
}

bool PortalShortcutTrigger::describes(std::string_view description, const HotkeyShortcut& shortcut) {
    const auto parts = splitOnPlus(description);
    if (parts.empty() || parts.back().empty()) return false;
    std::uint32_t modifiers = 0;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto name = lower(parts[i]);
        const auto* found = std::find_if(std::begin(describedModifiers), std::end(describedModifiers),
                                         [&](const ModifierEntry& entry) { return entry.name == name; });
        if (found == std::end(describedModifiers)) return false;
        modifiers |= found->carbon;
    }
    if (modifiers != shortcut.carbonModifiers) return false;
    const auto key = lower(parts.back());
    if (key == lower(shortcut.keyName())) return true;
    const auto* entry = entryOfKeyCode(shortcut.keyCode);
    return entry && (key == lower(entry->keysym) || (!entry->text.empty() && key == lower(entry->text)));
}

std::optional<std::string> PortalShortcutTrigger::usKeyText(std::string_view xkbKeyName) {
    for (const auto& entry : keysyms) {
        if (entry.xkbKeyName == xkbKeyName) {
            if (entry.text.empty()) return std::nullopt;
            return std::string(entry.text);
        }
    }
    return std::nullopt;
}

} // namespace brindleaf
