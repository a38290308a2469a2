#include "windows/ShortcutRecorderModel.hpp"

#include "services/HotkeyKeyTable.hpp"
#include "services/PortalShortcutTrigger.hpp"

#include <string_view>

namespace brindleaf {

ShortcutRecorderModel::ShortcutRecorderModel(HotkeyShortcut shortcut, HotkeyShortcut defaultShortcut,
                                             ChangeHandler onChange, std::function<void()> onReset,
                                             std::optional<std::uint32_t> hotkeyID)
    : shortcut_(shortcut),
      defaultShortcut_(defaultShortcut),
      onChange_(std::move(onChange)),
      onReset_(std::move(onReset)),
      hotkeyID_(hotkeyID) {
    if (hotkeyID_) {
        observerID_ = GlobalHotkeyMonitor::addRegistrationObserver([this](std::uint32_t id) {
            if (id == *hotkeyID_) changed();
        });
    }
}

ShortcutRecorderModel::~ShortcutRecorderModel() {
    if (observerID_) GlobalHotkeyMonitor::removeRegistrationObserver(*observerID_);
}

void ShortcutRecorderModel::changed() {
    if (onChanged_) onChanged_();
}

void ShortcutRecorderModel::setShortcut(const HotkeyShortcut& shortcut) {
    if (shortcut == shortcut_) return;
    shortcut_ = shortcut;
    changed();
}

std::optional<std::string> ShortcutRecorderModel::desktopTrigger() const {
    if (!hotkeyID_) return std::nullopt;
    auto registration = GlobalHotkeyMonitor::registrationOf(*hotkeyID_);
    if (!registration || !(registration->shortcut == shortcut_)) return std::nullopt;
    return GlobalHotkeyMonitor::desktopTrigger(*hotkeyID_);
}

std::string ShortcutRecorderModel::buttonTitle() const {
    if (isRecording()) return recordingTitle;
    // What the desktop binds is what works.
    auto desktop = desktopTrigger();
    if (desktop && !desktop->empty()) return *desktop;
    return shortcut_.displayString();
}

std::string ShortcutRecorderModel::buttonAccessibilityLabel() const {
    return isRecording() ? recordingAccessibilityLabel : "Shortcut " + shortcut_.displayString();
}

std::string ShortcutRecorderModel::resetHelp() const {
    return "Restore Default (" + defaultShortcut_.displayString() + ")";
}

std::optional<std::string> ShortcutRecorderModel::message() const {
    if (problem_) return problem_;
    if (!hotkeyID_) return std::nullopt;
    auto registration = GlobalHotkeyMonitor::registrationOf(*hotkeyID_);
    if (!registration || !(registration->shortcut == shortcut_)) return std::nullopt;
    if (auto desktop = desktopTrigger()) return desktopTriggerMessage(*desktop, shortcut_);
    return registrationMessage(*registration);
}

std::optional<std::string> ShortcutRecorderModel::desktopTriggerMessage(const std::string& trigger,
                                                                        const HotkeyShortcut& shortcut) {
    if (trigger.empty()) return std::string(desktopGaveNoKeyMessage);
    if (PortalShortcutTrigger::describes(trigger, shortcut)) return std::nullopt;
    return "The desktop keeps " + trigger + " for this; change it in the desktop's keyboard shortcut settings.";
}

void ShortcutRecorderModel::pressRecordButton() {
    if (isRecording()) {
        stopRecording();
        return;
    }
    problem_.reset();
    recording_ = std::make_unique<GlobalHotkeyMonitor::Suspension>();
    changed();
}

bool ShortcutRecorderModel::keyDown(std::uint32_t keyCode, std::uint32_t modifiers) {
    if (!isRecording()) return false;
    // Shift, Control, Option and Command held by themselves are still on the way to a shortcut.
    if (HotkeyKeyTable::isModifierKey(keyCode)) return true;
    if (keyCode == HotkeyKeyTable::escapeKeyCode) {
        stopRecording();
        return true;
    }
    if (modifiers == 0) {
        problem_ = needsModifierMessage;
        changed();
        return true;
    }
    const HotkeyShortcut pressed{keyCode, modifiers};
    switch (onChange_ ? onChange_(pressed) : ShortcutChangeResult::accepted) {
    case ShortcutChangeResult::accepted:
        problem_.reset();
        shortcut_ = pressed;
        stopRecording();
        break;
    case ShortcutChangeResult::needsModifier:
        problem_ = needsModifierMessage;
        changed();
        break;
    case ShortcutChangeResult::duplicate:
        problem_ = "The other shortcut already uses " + pressed.displayString() + ".";
        changed();
        break;
    }
    return true;
}

void ShortcutRecorderModel::pressReset() {
    recording_.reset();
    problem_.reset();
    if (onReset_) onReset_();
    shortcut_ = defaultShortcut_;
    changed();
}

void ShortcutRecorderModel::stopRecording() {
    if (!isRecording()) return;
    // Ending the suspension takes the hot keys back, which may report a refusal.
    recording_.reset();
    changed();
}

std::uint32_t ShortcutRecorderModel::carbonModifiers(bool control, bool option, bool shift, bool command) {
    std::uint32_t modifiers = 0;
    if (command) modifiers |= HotkeyShortcut::commandModifier;
    if (option) modifiers |= HotkeyShortcut::optionModifier;
    if (control) modifiers |= HotkeyShortcut::controlModifier;
    if (shift) modifiers |= HotkeyShortcut::shiftModifier;
    return modifiers;
}

std::optional<std::uint32_t> ShortcutRecorderModel::keyCodeOfUSCharacter(char32_t character) {
    // Each character with the XKB name of its key on a US keyboard.
    struct Entry {
        char32_t character;
        std::string_view keyName;
    };
    static constexpr Entry entries[] = {
        {U'`', "TLDE"}, {U'1', "AE01"}, {U'2', "AE02"}, {U'3', "AE03"}, {U'4', "AE04"},  {U'5', "AE05"},
        {U'6', "AE06"}, {U'7', "AE07"}, {U'8', "AE08"}, {U'9', "AE09"}, {U'0', "AE10"},  {U'-', "AE11"},
        {U'=', "AE12"}, {U'Q', "AD01"}, {U'W', "AD02"}, {U'E', "AD03"}, {U'R', "AD04"},  {U'T', "AD05"},
        {U'Y', "AD06"}, {U'U', "AD07"}, {U'I', "AD08"}, {U'O', "AD09"}, {U'P', "AD10"},  {U'[', "AD11"},
        {U']', "AD12"}, {U'A', "AC01"}, {U'S', "AC02"}, {U'D', "AC03"}, {U'F', "AC04"},  {U'G', "AC05"},
        {U'H', "AC06"}, {U'J', "AC07"}, {U'K', "AC08"}, {U'L', "AC09"}, {U';', "AC10"},  {U'\'', "AC11"},
        {U'Z', "AB01"}, {U'X', "AB02"}, {U'C', "AB03"}, {U'V', "AB04"}, {U'B', "AB05"},  {U'N', "AB06"},
        {U'M', "AB07"}, {U',', "AB08"}, {U'.', "AB09"}, {U'/', "AB10"}, {U'\\', "BKSL"}, {U' ', "SPCE"},
    };
    if (character >= U'a' && character <= U'z') character -= U'a' - U'A';
    for (const auto& entry : entries) {
        if (entry.character == character) return HotkeyKeyTable::keyCode(entry.keyName);
    }
    return std::nullopt;
}

std::optional<std::string> ShortcutRecorderModel::registrationMessage(const HotkeyRegistration& registration) {
    if (registration.state != HotkeyRegistration::State::failed) return std::nullopt;
    const std::string shortcut = registration.shortcut.displayString();
    switch (registration.status) {
    case KeyGrabResult::badAccess:
        return shortcut + " does nothing here: " + KeyGrabResult::meaning(registration.status) +
               ". Choose another shortcut.";
    case KeyGrabResult::noServer:
        return "Global shortcuts need an X11 session; " + shortcut + " does nothing here.";
    case KeyGrabResult::noSuchKey:
        return "This keyboard has no key for " + shortcut + ".";
    case KeyGrabResult::noPortal:
        return "The hot keys need the desktop's portal; " + shortcut + " does nothing here.";
    default:
        return shortcut + " could not be set up (X error " + std::to_string(registration.status) + ").";
    }
}

} // namespace brindleaf
