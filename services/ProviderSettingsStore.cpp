#include "services/ProviderSettingsStore.hpp"

#include "core/ProviderCatalog.hpp"
#include "platform/Logger.hpp"
#include "services/ProviderKey.hpp"

#include <algorithm>

namespace brindleaf {

namespace {

std::set<std::string> catalogIDs(bool liveOnly) {
    std::set<std::string> ids;
    for (const auto& provider : ProviderCatalog::all()) {
        if (!liveOnly || provider.integrationState == ProviderDescriptor::IntegrationState::live)
            ids.insert(provider.id);
    }
    return ids;
}

// Trimmed, without empty texts.
std::set<std::string> normalisedErrors(const std::vector<std::string>& errors) {
    std::set<std::string> normalised;
    for (const auto& error : errors) {
        std::string trimmed(trimmedWhitespaceAndNewlines(error));
        if (!trimmed.empty()) normalised.insert(std::move(trimmed));
    }
    return normalised;
}

DefaultsValue sortedStrings(const std::set<std::string>& texts) {
    return DefaultsValue::strings(std::vector<std::string>(texts.begin(), texts.end()));
}

} // namespace

ProviderSettingsStore::ProviderSettingsStore(std::shared_ptr<UserDefaults> defaults)
    : defaults_(defaults ? std::move(defaults) : UserDefaults::inMemory("ProviderSettingsStore")) {
    load();
}

void ProviderSettingsStore::load() {
    loadEnabledProviders();
    loadIconOptions();
    loadAcknowledgedErrors();
    loadShortcuts();
    isCloudSyncEnabled_ = defaults_->boolValue(cloudSyncKey).value_or(true);
    isDebugLoggingEnabled_ = defaults_->boolValue(debugLoggingKey).value_or(false);
    notifiesWhenWaiting_ = defaults_->boolValue(notifyWhenWaitingKey).value_or(true);
    notifiesWhenFinished_ = defaults_->boolValue(notifyWhenFinishedKey).value_or(true);
    playsNotificationSound_ = defaults_->boolValue(notificationSoundKey).value_or(false);
    // Turned on here, never off: debug logging that BRINDLEAF_DEBUG or an
    // earlier switch turned on stays on.
    if (isDebugLoggingEnabled_) Logger::setDebugEnabled(true);

    persistEnabledProviders();
    defaults_->set(knownLiveKey, sortedStrings(catalogIDs(true)));
    persistAcknowledgedErrors();
}

void ProviderSettingsStore::loadEnabledProviders() {
    const auto allIDs = catalogIDs(false);
    const auto liveIDs = catalogIDs(true);

    auto storedList = defaults_->stringArray(key);
    if (!storedList) {
        enabledProviderIDs_ = liveIDs;
        return;
    }
    std::set<std::string> stored;
    for (const auto& id : *storedList) {
        if (allIDs.count(id)) stored.insert(id);
    }
    std::set<std::string> known;
    if (auto knownList = defaults_->stringArray(knownLiveKey)) {
        known.insert(knownList->begin(), knownList->end());
    } else {
        known = stored;
    }
    // A live provider the stored settings have never seen is switched on once;
    // the known list written after loading remembers it.
    std::set<std::string> enabled = stored;
    for (const auto& id : liveIDs) {
        if (!known.count(id)) enabled.insert(id);
    }
    enabledProviderIDs_ = enabled.empty() ? liveIDs : std::move(enabled);
}

void ProviderSettingsStore::loadIconOptions() {
    auto style = defaults_->string(iconStyleKey);
    auto legacyRendering = defaults_->string(legacyIconRenderingModeKey);
    if (!style && legacyRendering) {
        iconStyle_ = StatusIconStyle::cloud;
        iconRenderingMode_ = parseStatusIconRenderingMode(*legacyRendering).value_or(StatusIconRenderingMode::color);
        iconSizeOption_ = StatusIconSizeOption::large;
        if (auto legacySize = defaults_->string(legacyIconSizeOptionKey)) {
            iconSizeOption_ = statusIconSizeOptionFromString(*legacySize).value_or(StatusIconSizeOption::large);
        }
        defaults_->set(iconStyleKey, std::string(toString(iconStyle_)));
        defaults_->set(iconRenderingModeKey, std::string(toString(iconRenderingMode_)));
        defaults_->set(iconSizeOptionKey, std::string(toString(iconSizeOption_)));
        return;
    }
    iconStyle_ = style && *style == "cloud" ? StatusIconStyle::cloud : StatusIconStyle::pulse;
    iconRenderingMode_ = StatusIconRenderingMode::monochrome;
    if (auto rendering = defaults_->string(iconRenderingModeKey)) {
        iconRenderingMode_ = parseStatusIconRenderingMode(*rendering).value_or(StatusIconRenderingMode::monochrome);
    }
    iconSizeOption_ = StatusIconSizeOption::medium;
    if (auto size = defaults_->string(iconSizeOptionKey)) {
        iconSizeOption_ = statusIconSizeOptionFromString(*size).value_or(StatusIconSizeOption::medium);
    }
}

void ProviderSettingsStore::loadAcknowledgedErrors() {
    acknowledged_.clear();
    auto stored = defaults_->dictionary(acknowledgedErrorsKey);
    if (!stored) return;
    AcknowledgedErrors loaded;
    for (const auto& [providerKey, value] : *stored) {
        auto texts = value.asStringArray();
        // One mistyped entry makes the whole stored dictionary unusable.
        if (!texts) return;
        auto normalised = normalisedErrors(*texts);
        if (!normalised.empty()) loaded.emplace(providerKey, std::move(normalised));
    }
    acknowledged_ = std::move(loaded);
}

void ProviderSettingsStore::loadShortcuts() {
    auto read = [this](const std::string& slotKey, HotkeyShortcut fallback) {
        auto data = defaults_->data(slotKey);
        if (!data) return fallback;
        auto shortcut = HotkeyShortcut::fromJSON(*data);
        if (!shortcut || !shortcut->hasRequiredModifier()) return fallback;
        return *shortcut;
    };
    toggleShortcut_ = read(toggleShortcutKey, defaultToggleShortcut);
    windowShortcut_ = read(windowShortcutKey, defaultWindowShortcut);
    if (windowShortcut_ == toggleShortcut_) {
        windowShortcut_ = defaultWindowShortcut;
        // When the toggle shortcut is itself the window default, resetting the
        // window alone leaves them equal and one hot key could never register.
        if (windowShortcut_ == toggleShortcut_) toggleShortcut_ = defaultToggleShortcut;
    }
}

bool ProviderSettingsStore::canDisable(const ProviderDescriptor& provider) const {
    if (!enabledProviderIDs_.count(provider.id)) return true;
    const auto liveIDs = catalogIDs(true);
    auto enabledLive = std::count_if(enabledProviderIDs_.begin(), enabledProviderIDs_.end(),
                                     [&](const std::string& id) { return liveIDs.count(id) > 0; });
    return enabledLive > 1;
}

void ProviderSettingsStore::setProvider(bool enabled, const ProviderDescriptor& provider) {
    if (enabled) {
        if (enabledProviderIDs_.count(provider.id)) return;
        announce(Property::enabledProviderIDs);
        enabledProviderIDs_.insert(provider.id);
    } else {
        if (!canDisable(provider) || !enabledProviderIDs_.count(provider.id)) return;
        announce(Property::enabledProviderIDs);
        enabledProviderIDs_.erase(provider.id);
    }
    persistEnabledProviders();
}

void ProviderSettingsStore::persistEnabledProviders() { defaults_->set(key, sortedStrings(enabledProviderIDs_)); }

void ProviderSettingsStore::setIconStyle(StatusIconStyle style) {
    if (style == iconStyle_) return;
    announce(Property::iconStyle);
    iconStyle_ = style;
    defaults_->set(iconStyleKey, std::string(toString(style)));
}

void ProviderSettingsStore::setIconRenderingMode(StatusIconRenderingMode mode) {
    if (mode == iconRenderingMode_) return;
    announce(Property::iconRenderingMode);
    iconRenderingMode_ = mode;
    defaults_->set(iconRenderingModeKey, std::string(toString(mode)));
}

void ProviderSettingsStore::setIconSizeOption(StatusIconSizeOption size) {
    if (size == iconSizeOption_) return;
    announce(Property::iconSizeOption);
    iconSizeOption_ = size;
    defaults_->set(iconSizeOptionKey, std::string(toString(size)));
}

ShortcutChangeResult ProviderSettingsStore::updateToggleShortcut(const HotkeyShortcut& shortcut) {
    return updateShortcut(ShortcutSlot::toggle, shortcut);
}

ShortcutChangeResult ProviderSettingsStore::updateWindowShortcut(const HotkeyShortcut& shortcut) {
    return updateShortcut(ShortcutSlot::window, shortcut);
}

ShortcutChangeResult ProviderSettingsStore::updateShortcut(ShortcutSlot slot, const HotkeyShortcut& shortcut) {
    if (!shortcut.hasRequiredModifier()) return ShortcutChangeResult::needsModifier;
    const HotkeyShortcut& other = slot == ShortcutSlot::toggle ? windowShortcut_ : toggleShortcut_;
    if (shortcut == other) return ShortcutChangeResult::duplicate;
    storeShortcut(slot, shortcut);
    return ShortcutChangeResult::accepted;
}

void ProviderSettingsStore::setToggleShortcut(const HotkeyShortcut& shortcut) {
    storeShortcut(ShortcutSlot::toggle, shortcut);
}

void ProviderSettingsStore::setWindowShortcut(const HotkeyShortcut& shortcut) {
    storeShortcut(ShortcutSlot::window, shortcut);
}

void ProviderSettingsStore::setShortcuts(const HotkeyShortcut& toggle, const HotkeyShortcut& window) {
    const bool toggleChanges = !(toggleShortcut_ == toggle);
    const bool windowChanges = !(windowShortcut_ == window);
    if (toggleChanges) announce(Property::toggleShortcut);
    if (windowChanges) announce(Property::windowShortcut);
    toggleShortcut_ = toggle;
    windowShortcut_ = window;
    if (toggleChanges) defaults_->set(toggleShortcutKey, DefaultsValue::data(toggle.toJSON()));
    if (windowChanges) defaults_->set(windowShortcutKey, DefaultsValue::data(window.toJSON()));
}

void ProviderSettingsStore::storeShortcut(ShortcutSlot slot, const HotkeyShortcut& shortcut) {
    HotkeyShortcut& current = slot == ShortcutSlot::toggle ? toggleShortcut_ : windowShortcut_;
    if (current == shortcut) return;
    announce(slot == ShortcutSlot::toggle ? Property::toggleShortcut : Property::windowShortcut);
    current = shortcut;
    defaults_->set(slot == ShortcutSlot::toggle ? toggleShortcutKey : windowShortcutKey,
                   DefaultsValue::data(shortcut.toJSON()));
}

void ProviderSettingsStore::setCloudSyncEnabled(bool enabled) {
    if (enabled == isCloudSyncEnabled_) return;
    announce(Property::isCloudSyncEnabled);
    isCloudSyncEnabled_ = enabled;
    defaults_->set(cloudSyncKey, enabled);
}

void ProviderSettingsStore::storeSwitch(Property property, bool& value, const std::string& key, bool on) {
    if (on == value) return;
    announce(property);
    value = on;
    defaults_->set(key, on);
}

void ProviderSettingsStore::setNotifiesWhenWaiting(bool on) {
    storeSwitch(Property::notifiesWhenWaiting, notifiesWhenWaiting_, notifyWhenWaitingKey, on);
}

void ProviderSettingsStore::setNotifiesWhenFinished(bool on) {
    storeSwitch(Property::notifiesWhenFinished, notifiesWhenFinished_, notifyWhenFinishedKey, on);
}

void ProviderSettingsStore::setPlaysNotificationSound(bool on) {
    storeSwitch(Property::playsNotificationSound, playsNotificationSound_, notificationSoundKey, on);
}

void ProviderSettingsStore::setDebugLoggingEnabled(bool enabled) {
    if (enabled == isDebugLoggingEnabled_) return;
    announce(Property::isDebugLoggingEnabled);
    isDebugLoggingEnabled_ = enabled;
    Logger::setDebugEnabled(enabled);
    defaults_->set(debugLoggingKey, enabled);
}

void ProviderSettingsStore::setShowingSampleData(bool showing) {
    if (showing == isShowingSampleData_) return;
    announce(Property::isShowingSampleData);
    isShowingSampleData_ = showing;
}

std::vector<std::string> ProviderSettingsStore::unacknowledgedErrors(const std::string& providerName,
                                                                     const std::vector<std::string>& errors) const {
    auto it = acknowledged_.find(providerKey(providerName));
    if (it == acknowledged_.end()) return errors;
    std::vector<std::string> unread;
    for (const auto& error : errors) {
        if (!it->second.count(std::string(trimmedWhitespaceAndNewlines(error)))) unread.push_back(error);
    }
    return unread;
}

bool ProviderSettingsStore::isErrorAcknowledged(const std::string& providerName, const std::string& error) const {
    auto it = acknowledged_.find(providerKey(providerName));
    return it != acknowledged_.end() && it->second.count(std::string(trimmedWhitespaceAndNewlines(error))) > 0;
}

void ProviderSettingsStore::acknowledgeErrors(const std::string& providerName, const std::vector<std::string>& errors) {
    auto normalised = normalisedErrors(errors);
    if (normalised.empty()) return;
    AcknowledgedErrors updated = acknowledged_;
    updated[providerKey(providerName)].merge(normalised);
    announce(Property::acknowledgedErrorMessagesByProviderKey);
    acknowledged_ = std::move(updated);
    persistAcknowledgedErrors();
}

void ProviderSettingsStore::pruneAcknowledgedErrors(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& currentErrors) {
    AcknowledgedErrors current;
    for (const auto& [providerName, errors] : currentErrors) {
        auto normalised = normalisedErrors(errors);
        if (!normalised.empty()) current[providerKey(providerName)] = std::move(normalised);
    }
    AcknowledgedErrors kept;
    for (const auto& [providerKey, texts] : acknowledged_) {
        auto it = current.find(providerKey);
        if (it == current.end()) continue;
        std::set<std::string> stillReported;
        std::set_intersection(texts.begin(), texts.end(), it->second.begin(), it->second.end(),
                              std::inserter(stillReported, stillReported.end()));
        if (!stillReported.empty()) kept.emplace(providerKey, std::move(stillReported));
    }
    if (kept == acknowledged_) {
        defaults_->saveUnsavedChanges(); // nothing to do, and no file touched, when nothing is unsaved
        return;
    }
    announce(Property::acknowledgedErrorMessagesByProviderKey);
    acknowledged_ = std::move(kept);
    persistAcknowledgedErrors();
}

void ProviderSettingsStore::persistAcknowledgedErrors() {
    DefaultsValue::Dictionary stored;
    for (const auto& [providerKey, texts] : acknowledged_) {
        if (!texts.empty()) stored.emplace(providerKey, sortedStrings(texts));
    }
    defaults_->set(acknowledgedErrorsKey, DefaultsValue(std::move(stored)));
}

ProviderSettingsStore::ObserverID ProviderSettingsStore::addObserver(Observer observer) {
    ObserverID id = nextObserverID_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void ProviderSettingsStore::removeObserver(ObserverID id) { observers_.erase(id); }

void ProviderSettingsStore::announce(Property property) {
    // A copy, so an observer may add or remove observers while it is told.
    auto observers = observers_;
    for (const auto& [id, observer] : observers) {
        if (observer) observer(property);
    }
}

} // namespace brindleaf
