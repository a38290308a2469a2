#pragma once

#include "core/ProviderDescriptor.hpp"
#include "platform/UserDefaults.hpp"
#include "services/HotkeyShortcut.hpp"
#include "services/StatusIconOptions.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace brindleaf {

enum class ShortcutChangeResult { accepted, needsModifier, duplicate };

// Every user preference: the enabled agents, the tray icon's look, the two
// global shortcuts, cloud sync, the acknowledged provider errors and whether
// sample data is shown. Loads and migrates the stored values when built and
// writes each change through to its defaults suite at once. Observers hear of
// a change before it is stored.
//
// A change the suite's file cannot take (a full disk) still holds: the value
// stays in effect here and in the suite, which writes it with its next write
// that succeeds; pruning, which runs after every applied refresh, tries again.
//
// Used from one thread at a time (the main thread of the application).
class ProviderSettingsStore {
public:
    enum class Property {
        enabledProviderIDs,
        iconStyle,
        iconRenderingMode,
        iconSizeOption,
        acknowledgedErrorMessagesByProviderKey,
        toggleShortcut,
        windowShortcut,
        isCloudSyncEnabled,
        isShowingSampleData,
        isDebugLoggingEnabled,
        notifiesWhenWaiting,
        notifiesWhenFinished,
        playsNotificationSound,
    };
    using Observer = std::function<void(Property)>;
    using ObserverID = std::uint64_t;
    using AcknowledgedErrors = std::map<std::string, std::set<std::string>>;

    static constexpr HotkeyShortcut defaultToggleShortcut{1, HotkeyShortcut::requiredModifierMask};
    static constexpr HotkeyShortcut defaultWindowShortcut{0, HotkeyShortcut::requiredModifierMask};

    // The defaults keys.
    const std::string key = "enabledProviderIDs";
    const std::string knownLiveKey = "knownLiveProviderIDs";
    const std::string iconStyleKey = "statusIconStyle.v1";
    const std::string iconRenderingModeKey = "statusIconRenderingMode.v2";
    const std::string iconSizeOptionKey = "statusIconSizeOption.v2";
    const std::string acknowledgedErrorsKey = "acknowledgedProviderErrors";
    const std::string toggleShortcutKey = "toggleWindowShortcut";
    const std::string windowShortcutKey = "standaloneWindowShortcut";
    const std::string cloudSyncKey = "cloudSyncEnabled";
    const std::string debugLoggingKey = "debugLoggingEnabled.v1";
    const std::string notifyWhenWaitingKey = "notifyWhenAgentNeedsYou.v1";
    const std::string notifyWhenFinishedKey = "notifyWhenRunFinishes.v1";
    const std::string notificationSoundKey = "notificationSoundEnabled.v1";
    static constexpr const char* legacyIconRenderingModeKey = "statusIconRenderingMode";
    static constexpr const char* legacyIconSizeOptionKey = "statusIconSizeOption";

    // Loads every value from the suite, migrating older forms. Never fails.
    explicit ProviderSettingsStore(std::shared_ptr<UserDefaults> defaults);

    ProviderSettingsStore(const ProviderSettingsStore&) = delete;
    ProviderSettingsStore& operator=(const ProviderSettingsStore&) = delete;

    const std::set<std::string>& enabledProviderIDs() const { return enabledProviderIDs_; }
    StatusIconStyle iconStyle() const { return iconStyle_; }
    StatusIconRenderingMode iconRenderingMode() const { return iconRenderingMode_; }
    StatusIconSizeOption iconSizeOption() const { return iconSizeOption_; }
    const AcknowledgedErrors& acknowledgedErrorMessagesByProviderKey() const { return acknowledged_; }
    const HotkeyShortcut& toggleShortcut() const { return toggleShortcut_; }
    const HotkeyShortcut& windowShortcut() const { return windowShortcut_; }
    bool isCloudSyncEnabled() const { return isCloudSyncEnabled_; }
    bool isDebugLoggingEnabled() const { return isDebugLoggingEnabled_; }
    bool isShowingSampleData() const { return isShowingSampleData_; }
    // The desktop notifications: when a session starts waiting for the user
    // (on by default), when a long run finishes (on), with a sound (off).
    bool notifiesWhenWaiting() const { return notifiesWhenWaiting_; }
    bool notifiesWhenFinished() const { return notifiesWhenFinished_; }
    bool playsNotificationSound() const { return playsNotificationSound_; }
    const std::shared_ptr<UserDefaults>& defaults() const { return defaults_; }

    // Whether the provider may be switched off: always when it is off already,
    // otherwise only while another live provider stays on.
    bool canDisable(const ProviderDescriptor& provider) const;
    // Switches a provider on or off; refusing to switch off the last live one.
    void setProvider(bool enabled, const ProviderDescriptor& provider);

    void setIconStyle(StatusIconStyle style);
    void setIconRenderingMode(StatusIconRenderingMode mode);
    void setIconSizeOption(StatusIconSizeOption size);

    // The shortcut recorder's entry points: a shortcut without command, option
    // or control needs a modifier; one equal to the other slot's is a duplicate;
    // anything else is stored.
    ShortcutChangeResult updateToggleShortcut(const HotkeyShortcut& shortcut);
    ShortcutChangeResult updateWindowShortcut(const HotkeyShortcut& shortcut);
    // Store without any check (restoring a default).
    void setToggleShortcut(const HotkeyShortcut& shortcut);
    void setWindowShortcut(const HotkeyShortcut& shortcut);
    // Stores both shortcuts as one change (restoring a default while moving
    // the other out of its way): observers hear of both before either is
    // stored, so the two are never seen equal in between.
    void setShortcuts(const HotkeyShortcut& toggle, const HotkeyShortcut& window);

    // Stores the value when it differs, writing "cloudSyncEnabled".
    void setCloudSyncEnabled(bool enabled);
    // Stores the value when it differs, writing "debugLoggingEnabled.v1".
    void setDebugLoggingEnabled(bool enabled);
    // Never stored.
    void setShowingSampleData(bool showing);
    // Each stores the value when it differs, under its ".v1" key.
    void setNotifiesWhenWaiting(bool on);
    void setNotifiesWhenFinished(bool on);
    void setPlaysNotificationSound(bool on);

    // The errors, in order and as given, less those the user acknowledged for the provider.
    std::vector<std::string> unacknowledgedErrors(const std::string& providerName,
                                                  const std::vector<std::string>& errors) const;
    bool isErrorAcknowledged(const std::string& providerName, const std::string& error) const;
    void acknowledgeErrors(const std::string& providerName, const std::vector<std::string>& errors);
    // Keeps only the acknowledgements whose error each provider (by display
    // name) still reports, and writes any change the file refused before.
    void pruneAcknowledgedErrors(const std::vector<std::pair<std::string, std::vector<std::string>>>& currentErrors);
    void persistAcknowledgedErrors();

    ObserverID addObserver(Observer observer);
    void removeObserver(ObserverID id);

private:
    enum class ShortcutSlot { toggle, window };

    void load();
    void loadEnabledProviders();
    void loadIconOptions();
    void loadAcknowledgedErrors();
    void loadShortcuts();
    ShortcutChangeResult updateShortcut(ShortcutSlot slot, const HotkeyShortcut& shortcut);
    void storeShortcut(ShortcutSlot slot, const HotkeyShortcut& shortcut);
    void persistEnabledProviders();
    void announce(Property property);
    void storeSwitch(Property property, bool& value, const std::string& key, bool on);

    std::shared_ptr<UserDefaults> defaults_;
    std::set<std::string> enabledProviderIDs_;
    StatusIconStyle iconStyle_ = StatusIconStyle::pulse;
    StatusIconRenderingMode iconRenderingMode_ = StatusIconRenderingMode::monochrome;
    StatusIconSizeOption iconSizeOption_ = StatusIconSizeOption::medium;
    AcknowledgedErrors acknowledged_;
    HotkeyShortcut toggleShortcut_ = defaultToggleShortcut;
    HotkeyShortcut windowShortcut_ = defaultWindowShortcut;
    bool isCloudSyncEnabled_ = true;
    bool isShowingSampleData_ = false;
    bool isDebugLoggingEnabled_ = false;
    bool notifiesWhenWaiting_ = true;
    bool notifiesWhenFinished_ = true;
    bool playsNotificationSound_ = false;

    std::map<ObserverID, Observer> observers_;
    ObserverID nextObserverID_ = 1;
};

} // namespace brindleaf
