#include "services/GlobalHotkeyMonitor.hpp"

#include "platform/Logger.hpp"
#include "services/HotkeyKeyTable.hpp"

#include <map>
#include <string>
#include <vector>

namespace brindleaf {

namespace {

const Logger& hotkeyLog() {
    static const Logger logger("Hotkey");
    return logger;
}

std::map<std::uint32_t, GlobalHotkeyMonitor*>& registry() {
    static std::map<std::uint32_t, GlobalHotkeyMonitor*> monitors;
    return monitors;
}

std::map<std::uint64_t, GlobalHotkeyMonitor::RegistrationObserver>& observers() {
    static std::map<std::uint64_t, GlobalHotkeyMonitor::RegistrationObserver> list;
    return list;
}

std::uint64_t nextObserverID = 1;
int suspensions = 0;

std::shared_ptr<KeyGrabber>& installedGrabber() {
    static std::shared_ptr<KeyGrabber> grabber;
    return grabber;
}

} // namespace

GlobalHotkeyMonitor::GlobalHotkeyMonitor(std::uint32_t hotkeyID, std::function<void()> onPressed)
    : hotkeyID_(hotkeyID), onPressed_(std::move(onPressed)) {}

GlobalHotkeyMonitor::~GlobalHotkeyMonitor() {
    releaseHeld();
    auto it = registry().find(hotkeyID_);
    if (it != registry().end() && it->second == this) registry().erase(it);
}

void GlobalHotkeyMonitor::releaseHeld() {
    if (registration_.state == HotkeyRegistration::State::registered) {
        if (auto& grabber = installedGrabber()) grabber->release(hotkeyID_);
    }
    registration_ = {};
}

bool GlobalHotkeyMonitor::registerShortcut(const HotkeyShortcut& shortcut) {
    releaseHeld();
    return take(shortcut);
}

bool GlobalHotkeyMonitor::take(const HotkeyShortcut& shortcut) {
    if (!shortcut.hasRequiredModifier()) {
        setRegistration({});
        return false;
    }
    registry()[hotkeyID_] = this;
    if (suspensions > 0) {
        setRegistration({HotkeyRegistration::State::suspended, shortcut, KeyGrabResult::grabbed});
        return false;
    }

    KeyGrabResult result{KeyGrabResult::noServer};
    if (auto& grabber = installedGrabber()) {
        auto chord = chordOf(shortcut);
        result = chord ? grabber->grab(hotkeyID_, *chord) : KeyGrabResult{KeyGrabResult::noSuchKey};
    }
    if (result.ok()) {
        hotkeyLog().info("hotkey.registered id=" + std::to_string(hotkeyID_) + " display=" + shortcut.displayString());
        setRegistration({HotkeyRegistration::State::registered, shortcut, KeyGrabResult::grabbed});
        return true;
    }
    // A missing portal is the grabber's to say, once for both keys.
    if (result.status != KeyGrabResult::noPortal) {
        hotkeyLog().error("hotkey.register.failed id=" + std::to_string(hotkeyID_) + " status=" +
                          std::to_string(result.status) + " reason=" + KeyGrabResult::meaning(result.status));
    }
    setRegistration({HotkeyRegistration::State::failed, shortcut, result.status});
    return false;
}

void GlobalHotkeyMonitor::unregister() {
    if (registration_.state == HotkeyRegistration::State::none) return;
    releaseHeld();
    setRegistration({});
}

void GlobalHotkeyMonitor::setRegistration(HotkeyRegistration registration) {
    registration_ = registration;
    auto list = observers();
    for (const auto& [id, observer] : list) {
        if (observer) observer(hotkeyID_);
    }
}

void GlobalHotkeyMonitor::registerTogether(
    std::initializer_list<std::pair<GlobalHotkeyMonitor*, HotkeyShortcut>> monitors) {
    for (const auto& [monitor, shortcut] : monitors) monitor->releaseHeld();
    for (const auto& [monitor, shortcut] : monitors) monitor->take(shortcut);
}

void GlobalHotkeyMonitor::dispatch(std::uint32_t hotkeyID) {
    auto it = registry().find(hotkeyID);
    if (it == registry().end() || !it->second->onPressed_) return;
    auto onPressed = it->second->onPressed_;
    onPressed();
}

std::optional<HotkeyRegistration> GlobalHotkeyMonitor::registrationOf(std::uint32_t hotkeyID) {
    auto it = registry().find(hotkeyID);
    if (it == registry().end()) return std::nullopt;
    return it->second->registration_;
}

std::uint64_t GlobalHotkeyMonitor::addRegistrationObserver(RegistrationObserver observer) {
    const auto id = nextObserverID++;
    observers()[id] = std::move(observer);
    return id;
}

void GlobalHotkeyMonitor::removeRegistrationObserver(std::uint64_t observerID) { observers().erase(observerID); }

GlobalHotkeyMonitor::Suspension::Suspension() {
    if (suspensions++ > 0) return;
    std::vector<GlobalHotkeyMonitor*> held;
    for (const auto& [id, monitor] : registry()) {
        if (monitor->registration_.state == HotkeyRegistration::State::registered) held.push_back(monitor);
    }
    for (auto* monitor : held) {
        const auto shortcut = monitor->registration_.shortcut;
        monitor->releaseHeld();
        monitor->setRegistration({HotkeyRegistration::State::suspended, shortcut, KeyGrabResult::grabbed});
    }
}

GlobalHotkeyMonitor::Suspension::~Suspension() {
    if (--suspensions == 0) resumeAll();
}

void GlobalHotkeyMonitor::resumeAll() {
    std::vector<std::pair<GlobalHotkeyMonitor*, HotkeyShortcut>> waiting;
    for (const auto& [id, monitor] : registry()) {
        if (monitor->registration_.state == HotkeyRegistration::State::suspended) {
            waiting.emplace_back(monitor, monitor->registration_.shortcut);
        }
    }
    for (const auto& [monitor, shortcut] : waiting) monitor->take(shortcut);
}

bool GlobalHotkeyMonitor::isSuspended() { return suspensions > 0; }

void GlobalHotkeyMonitor::setKeyGrabber(std::shared_ptr<KeyGrabber> grabber) {
    installedGrabber() = grabber;
    if (!grabber) {
        HotkeyShortcut::setLayoutKeyLookup(nullptr);
        return;
    }
    grabber->setPressHandler([](std::uint32_t hotkeyID) { dispatch(hotkeyID); });
    grabber->setChangeHandler([] { grabberChanged(); });
    std::weak_ptr<KeyGrabber> weak = grabber;
    HotkeyShortcut::setLayoutKeyLookup([weak](std::uint32_t keyCode) -> std::optional<std::string> {
        auto name = HotkeyKeyTable::keyName(keyCode);
        auto layout = weak.lock();
        if (!name || !layout) return std::nullopt;
        return layout->keyText(*name);
    });
}

std::shared_ptr<KeyGrabber> GlobalHotkeyMonitor::keyGrabber() { return installedGrabber(); }

void GlobalHotkeyMonitor::grabberChanged() {
    auto& grabber = installedGrabber();
    if (!grabber) return;
    const bool available = grabber->isAvailable();
    std::vector<GlobalHotkeyMonitor*> all;
    for (const auto& [id, monitor] : registry()) all.push_back(monitor);
    for (auto* monitor : all) {
        const auto registration = monitor->registration_;
        if (!available && registration.state == HotkeyRegistration::State::registered) {
            monitor->setRegistration(
                {HotkeyRegistration::State::failed, registration.shortcut, KeyGrabResult::noPortal});
        } else if (available && registration.state == HotkeyRegistration::State::failed &&
                   registration.status == KeyGrabResult::noPortal) {
            monitor->take(registration.shortcut);
        } else {
            // The trigger the desktop reports may have changed.
            monitor->setRegistration(registration);
        }
    }
}

std::optional<std::string> GlobalHotkeyMonitor::desktopTrigger(std::uint32_t hotkeyID) {
    auto& grabber = installedGrabber();
    if (!grabber) return std::nullopt;
    auto it = registry().find(hotkeyID);
    if (it == registry().end() || it->second->registration_.state != HotkeyRegistration::State::registered)
        return std::nullopt;
    return grabber->boundTrigger(hotkeyID);
}

std::optional<std::uint32_t> GlobalHotkeyMonitor::keyCodeOfNativeKey(std::uint32_t nativeKeycode) {
    auto& grabber = installedGrabber();
    if (!grabber) return std::nullopt;
    auto name = grabber->keyNameOfKeycode(nativeKeycode);
    if (!name) return std::nullopt;
    return HotkeyKeyTable::keyCode(*name);
}

std::optional<KeyChord> GlobalHotkeyMonitor::chordOf(const HotkeyShortcut& shortcut) {
    auto name = HotkeyKeyTable::keyName(shortcut.keyCode);
    if (!name) return std::nullopt;
    std::uint32_t modifiers = 0;
    if (shortcut.carbonModifiers & HotkeyShortcut::controlModifier) modifiers |= keyModifierControl;
    if (shortcut.carbonModifiers & HotkeyShortcut::shiftModifier) modifiers |= keyModifierShift;
    if (shortcut.carbonModifiers & HotkeyShortcut::optionModifier) modifiers |= keyModifierAlt;
    if (shortcut.carbonModifiers & HotkeyShortcut::commandModifier) modifiers |= keyModifierSuper;
    return KeyChord{std::string(*name), modifiers};
}

} // namespace brindleaf
