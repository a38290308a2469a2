#pragma once

#include "platform/KeyGrabber.hpp"
#include "services/HotkeyShortcut.hpp"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>

namespace brindleaf {

// Where one monitor's hot key stands.
struct HotkeyRegistration {
    enum class State {
        // Nothing registered (never, unregistered, or a shortcut without command, option or control).
        none,
        // The shortcut is held system-wide.
        registered,
        // The system refused the shortcut; `status` says why (a `KeyGrabResult` status).
        failed,
        // Held back while a shortcut is being recorded; taken again when recording ends.
        suspended,
    };

    State state = State::none;
    HotkeyShortcut shortcut;
    int status = KeyGrabResult::grabbed;

    bool operator==(const HotkeyRegistration&) const = default;
};

// One system-wide hot key: while registered, pressing its shortcut in any
// application runs `onPressed` on the main queue. The application keeps two,
// id 1 for the dashboard and id 2 for the floating window.
//
// The monitors share one process-wide registry (id to monitor) and one key
// grabber, installed with setKeyGrabber(). Main thread only.
class GlobalHotkeyMonitor {
public:
    // The four characters "BRND".
    static constexpr std::uint32_t signature = 0x42524E44;
    static constexpr std::uint32_t toggleHotkeyID = 1;
    static constexpr std::uint32_t windowHotkeyID = 2;

    GlobalHotkeyMonitor(std::uint32_t hotkeyID, std::function<void()> onPressed);
    // Unregisters its hot key.
    ~GlobalHotkeyMonitor();
    GlobalHotkeyMonitor(const GlobalHotkeyMonitor&) = delete;
    GlobalHotkeyMonitor& operator=(const GlobalHotkeyMonitor&) = delete;

    std::uint32_t hotkeyID() const { return hotkeyID_; }

    // Releases the hot key held so far, then registers the shortcut (one
    // without command, option or control is never registered). True when the
    // shortcut is held now; the outcome is also in registration() and the log
    // ("hotkey.registered id=1 display=Ctrl+Alt+Super+S", "hotkey.register.failed id=1 status=10 reason=the key is
    // taken by another program").
    bool registerShortcut(const HotkeyShortcut& shortcut);
    // Releases the hot key; nothing when none is held.
    void unregister();
    bool isRegistered() const { return registration_.state == HotkeyRegistration::State::registered; }
    const HotkeyRegistration& registration() const { return registration_; }

    // Registers several monitors at once, releasing every one's hot key before
    // taking any, so that two shortcuts that swap or pass through being equal
    // never lose a grab to the other's release.
    static void registerTogether(std::initializer_list<std::pair<GlobalHotkeyMonitor*, HotkeyShortcut>> monitors);

    // Runs the onPressed of the monitor registered under the id; an unknown id
    // does nothing. Called on the main queue for each press.
    static void dispatch(std::uint32_t hotkeyID);

    // The registration of the monitor registered under the id; absent when
    // none is.
    static std::optional<HotkeyRegistration> registrationOf(std::uint32_t hotkeyID);

    // Told the id of a monitor whose registration changed.
    using RegistrationObserver = std::function<void(std::uint32_t hotkeyID)>;
    static std::uint64_t addRegistrationObserver(RegistrationObserver observer);
    static void removeRegistrationObserver(std::uint64_t observerID);

    // While any Suspension lives, every hot key is released (so its keys reach
    // the application's own windows) and registering only notes the shortcut;
    // when the last one goes, the noted shortcuts are registered again.
    class Suspension {
    public:
        Suspension();
        ~Suspension();
        Suspension(const Suspension&) = delete;
        Suspension& operator=(const Suspension&) = delete;
    };
    static bool isSuspended();

    // The system's key grabs. Installs dispatch() as its press handler (and a
    // change handler that follows a portal that goes and comes back) and its
    // keyboard layout as HotkeyShortcut's layout lookup. Without one (null,
    // the start), every registration fails as if there were no X server.
    static void setKeyGrabber(std::shared_ptr<KeyGrabber> grabber);
    static std::shared_ptr<KeyGrabber> keyGrabber();
    // The key the desktop reports for a registered hot key ("Meta+Ctrl+Alt+S",
    // empty when it gave none); absent for X11 grabs, a portal that has not
    // answered yet, or a hot key that is not registered.
    static std::optional<std::string> desktopTrigger(std::uint32_t hotkeyID);

    // The stored key code of the key with this native key code (an X keycode)
    // on the current keyboard; absent when there is no keyboard or the key is
    // outside the key table.
    static std::optional<std::uint32_t> keyCodeOfNativeKey(std::uint32_t nativeKeycode);
    // The grabbed chord of a shortcut: control, shift, option and command
    // become Control, Shift, Alt and Super.
    static std::optional<KeyChord> chordOf(const HotkeyShortcut& shortcut);

private:
    void releaseHeld();
    bool take(const HotkeyShortcut& shortcut);
    void setRegistration(HotkeyRegistration registration);
    static void resumeAll();
    // The grabber's availability or bound triggers changed: hot keys it lost
    // fail with `noPortal`, those failed so are taken again, and every
    // observer hears of each.
    static void grabberChanged();

    std::uint32_t hotkeyID_;
    std::function<void()> onPressed_;
    HotkeyRegistration registration_;
};

} // namespace brindleaf
