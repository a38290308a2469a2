#include "services/HotkeyShortcut.hpp"

#include <nlohmann/json.hpp>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <limits>
#include <mutex>
#include <utility>

namespace brindleaf {

namespace {

struct KeyNameEntry {
    std::uint32_t keyCode;
    const char* name;
};

// Keys named as a Linux desktop names them. Keys outside this table show what
// the current keyboard layout prints on them (letters, digits, punctuation).
constexpr KeyNameEntry specialKeyNames[] = {
    {49, "Space"},     {36, "Return"},       {48, "Tab"},        {53, "Escape"},
    {51, "Backspace"}, {117, "Delete"},      {114, "Insert"},    {123, "Left"},
    {124, "Right"},    {126, "Up"},          {125, "Down"},      {115, "Home"},
    {119, "End"},      {116, "Page Up"},     {121, "Page Down"}, {110, "Menu"},
    {71, "Num Lock"},  {122, "F1"},          {120, "F2"},        {99, "F3"},
    {118, "F4"},       {96, "F5"},           {97, "F6"},         {98, "F7"},
    {100, "F8"},       {101, "F9"},          {109, "F10"},       {103, "F11"},
    {111, "F12"},      {105, "F13"},         {107, "F14"},       {113, "F15"},
    {106, "F16"},      {64, "F17"},          {79, "F18"},        {80, "F19"},
    {90, "F20"},       {82, "Keypad 0"},     {83, "Keypad 1"},   {84, "Keypad 2"},
    {85, "Keypad 3"},  {86, "Keypad 4"},     {87, "Keypad 5"},   {88, "Keypad 6"},
    {89, "Keypad 7"},  {91, "Keypad 8"},     {92, "Keypad 9"},   {65, "Keypad Decimal"},
    {67, "Keypad *"},  {69, "Keypad +"},     {75, "Keypad /"},   {78, "Keypad -"},
    {81, "Keypad ="},  {76, "Keypad Enter"}, {72, "Volume Up"},  {73, "Volume Down"},
    {74, "Mute"},
};

// The layout lookup can take key codes up to this value.
constexpr std::uint32_t largestTranslatableKeyCode = 0xFFFF;

std::mutex& lookupMutex() {
    static std::mutex mutex;
    return mutex;
}

HotkeyShortcut::LayoutKeyLookup& layoutLookup() {
    static HotkeyShortcut::LayoutKeyLookup lookup;
    return lookup;
}

std::optional<std::uint32_t> unsigned32(const nlohmann::json& object, const char* member) {
    auto it = object.find(member);
    if (it == object.end()) return std::nullopt;
    if (it->is_number_unsigned()) {
        auto value = it->get<std::uint64_t>();
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
        return static_cast<std::uint32_t>(value);
    }
    if (it->is_number_integer()) {
        auto value = it->get<std::int64_t>();
        if (value < 0 || value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
        return static_cast<std::uint32_t>(value);
    }
    return std::nullopt;
}

} // namespace

std::string HotkeyShortcut::displayString() const {
    std::string text;
    if (carbonModifiers & controlModifier) text += "Ctrl+";
    if (carbonModifiers & optionModifier) text += "Alt+";
    if (carbonModifiers & shiftModifier) text += "Shift+";
    if (carbonModifiers & commandModifier) text += "Super+";
    return text + keyName();
}

std::string HotkeyShortcut::keyName() const {
    for (const auto& entry : specialKeyNames) {
        if (entry.keyCode == keyCode) return entry.name;
    }
    if (keyCode <= largestTranslatableKeyCode) {
        LayoutKeyLookup lookup;
        {
            std::lock_guard guard(lookupMutex());
            lookup = layoutLookup();
        }
        if (lookup) {
            if (auto text = lookup(keyCode); text && !text->empty()) {
                std::string upper;
                icu::UnicodeString::fromUTF8(*text).toUpper(icu::Locale::getRoot()).toUTF8String(upper);
                return upper;
            }
        }
    }
    return "Key " + std::to_string(keyCode);
}

std::string HotkeyShortcut::toJSON() const {
    nlohmann::ordered_json object;
    object["keyCode"] = keyCode;
    object["carbonModifiers"] = carbonModifiers;
    return object.dump();
}

std::optional<HotkeyShortcut> HotkeyShortcut::fromJSON(std::string_view text) {
    auto object = nlohmann::json::parse(text, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return std::nullopt;
    auto code = unsigned32(object, "keyCode");
    auto modifiers = unsigned32(object, "carbonModifiers");
    if (!code || !modifiers) return std::nullopt;
    return HotkeyShortcut{*code, *modifiers};
}

void HotkeyShortcut::setLayoutKeyLookup(LayoutKeyLookup lookup) {
    std::lock_guard guard(lookupMutex());
    layoutLookup() = std::move(lookup);
}

std::size_t hashValue(const HotkeyShortcut& shortcut) {
    return std::hash<std::uint64_t>()((static_cast<std::uint64_t>(shortcut.keyCode) << 32) | shortcut.carbonModifiers);
}

} // namespace brindleaf
