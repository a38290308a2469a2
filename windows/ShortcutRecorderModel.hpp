#pragma once

#include "services/GlobalHotkeyMonitor.hpp"
#include "services/HotkeyShortcut.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindleaf {

// What the shortcut recorder of the General settings pane says and does: a
// button that shows the shortcut and, once clicked, takes the next key
// combination as the new one; a button that restores the default; and a
// message line under them. The widget (ShortcutRecorderView) only paints this.
//
// While recording, every global hot key is released, so that the other
// shortcut reaches the recorder (and is refused as a duplicate) instead of
// firing. With a hot-key id, the message line also says when the system
// refused the shown shortcut. Main thread only.
class ShortcutRecorderModel {
public:
    using ChangeHandler = std::function<ShortcutChangeResult(const HotkeyShortcut&)>;

    static constexpr const char* recordingTitle = "Type Shortcut…";
    static constexpr const char* recordingAccessibilityLabel = "Recording shortcut";
    static constexpr const char* accessibilityHint = "Click, then press a new key combination.";
    static constexpr const char* resetAccessibilityLabel = "Restore default shortcut";
    static constexpr const char* needsModifierMessage = "Include Ctrl, Alt or Super in the shortcut.";
    static constexpr const char* desktopGaveNoKeyMessage =
        "The desktop gave this no key; set one in the desktop's keyboard shortcut settings.";

    // `hotkeyID`: the global hot key that carries this shortcut (1 or 2), whose
    // registration the message line reports; none for no such report.
    ShortcutRecorderModel(HotkeyShortcut shortcut, HotkeyShortcut defaultShortcut, ChangeHandler onChange,
                          std::function<void()> onReset, std::optional<std::uint32_t> hotkeyID = std::nullopt);
    ~ShortcutRecorderModel();
    ShortcutRecorderModel(const ShortcutRecorderModel&) = delete;
    ShortcutRecorderModel& operator=(const ShortcutRecorderModel&) = delete;

    // Told after every change of what the recorder shows.
    void setOnChanged(std::function<void()> onChanged) { onChanged_ = std::move(onChanged); }

    // The stored shortcut, kept current by the owner.
    void setShortcut(const HotkeyShortcut& shortcut);
    const HotkeyShortcut& shortcut() const { return shortcut_; }
    const HotkeyShortcut& defaultShortcut() const { return defaultShortcut_; }

    bool isRecording() const { return recording_ != nullptr; }
    // "Type Shortcut…" while recording, else the key the desktop reports for
    // it ("Meta+Ctrl+Alt+S", through the portal), else the shortcut ("Ctrl+Alt+Super+S").
    std::string buttonTitle() const;
    // "Recording shortcut" while recording, else "Shortcut Ctrl+Alt+Super+S".
    std::string buttonAccessibilityLabel() const;
    bool isResetEnabled() const { return !(shortcut_ == defaultShortcut_); }
    // "Restore Default (Ctrl+Alt+Super+S)".
    std::string resetHelp() const;
    // The recording problem, else what keeps the shown shortcut from working; absent when all is well.
    std::optional<std::string> message() const;
    const std::optional<std::string>& problem() const { return problem_; }

    // The first button: starts recording, or stops it when recording.
    void pressRecordButton();
    // A key press while recording (a stored key code and Carbon modifiers).
    // Returns whether the press is swallowed: every press while recording is.
    bool keyDown(std::uint32_t keyCode, std::uint32_t carbonModifiers);
    // The second button: stops recording, clears the problem, restores the default.
    void pressReset();
    // Ends recording with nothing changed (also when the recorder disappears).
    void stopRecording();

    // Carbon modifiers of a key event's modifier flags; other flags count for nothing.
    static std::uint32_t carbonModifiers(bool control, bool option, bool shift, bool command);
    // The key code at a character's place on a US keyboard ('A' is 0, 'S' is 1),
    // for key events that carry no native key code; absent for other characters.
    static std::optional<std::uint32_t> keyCodeOfUSCharacter(char32_t character);
    // What keeps a registered shortcut from working; absent when nothing does.
    static std::optional<std::string> registrationMessage(const HotkeyRegistration& registration);
    // What the line says when the desktop reports this trigger for the
    // shortcut: nothing when it names the shortcut; else that the desktop
    // keeps its own key (the user's choice in its settings) and where to change it.
    static std::optional<std::string> desktopTriggerMessage(const std::string& trigger, const HotkeyShortcut& shortcut);

private:
    void changed();
    // The desktop's word on the shown shortcut, while it is the one registered.
    std::optional<std::string> desktopTrigger() const;

    HotkeyShortcut shortcut_;
    HotkeyShortcut defaultShortcut_;
    ChangeHandler onChange_;
    std::function<void()> onReset_;
    std::optional<std::uint32_t> hotkeyID_;
    std::optional<std::uint64_t> observerID_;
    std::function<void()> onChanged_;
    std::unique_ptr<GlobalHotkeyMonitor::Suspension> recording_;
    std::optional<std::string> problem_;
};

} // namespace brindleaf
