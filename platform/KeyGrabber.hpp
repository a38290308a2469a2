#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// The modifiers of a grabbed key chord, independent of which modifier bit the
// server puts them on.
enum KeyModifier : std::uint32_t {
    keyModifierControl = 1u << 0,
    keyModifierShift = 1u << 1,
    keyModifierAlt = 1u << 2,
    keyModifierSuper = 1u << 3,
};

// A key by its XKB key name (the position on the keyboard, "AC02" is the key
// right of Caps Lock) with the modifiers held.
struct KeyChord {
    std::string keyName;
    std::uint32_t modifiers = 0;

    bool operator==(const KeyChord&) const = default;
};

// The answer to a grab: 0 when the chord is held; an X error code (BadAccess,
// 10, when another client holds the chord); or one of the negative codes below.
struct KeyGrabResult {
    static constexpr int grabbed = 0;
    static constexpr int badAccess = 10;
    // No X server to talk to (headless, or a Wayland session without X).
    static constexpr int noServer = -1;
    // The keyboard has no key of that name.
    static constexpr int noSuchKey = -2;
    // A Wayland session whose desktop portal offers no global shortcuts (or is gone).
    static constexpr int noPortal = -3;

    int status = grabbed;

    bool ok() const { return status == grabbed; }

    // What a failed grab's status means, in words for the log and the Settings pane.
    static const char* meaning(int status) {
        switch (status) {
        case badAccess:
            return "the key is taken by another program";
        case noServer:
            return "there is no X server to take keys from";
        case noSuchKey:
            return "the keyboard has no such key";
        case noPortal:
            return "the hot keys need the desktop's portal";
        default:
            return "the X server refused the key";
        }
    }
};

// System-wide key grabs: each id holds at most one chord, and a press of a held
// chord reaches the press handler with that id. Presses are delivered on the
// application's main queue; grab, release and the lookups are called from the
// main thread.
class KeyGrabber {
public:
    using PressHandler = std::function<void(std::uint32_t id)>;

    virtual ~KeyGrabber() = default;

    // Whether grabs can be taken at all (an X server is connected).
    virtual bool isAvailable() const = 0;
    // Holds the chord for the id, first releasing what the id held before.
    virtual KeyGrabResult grab(std::uint32_t id, const KeyChord& chord) = 0;
    // Releases the id's chord; nothing when it holds none.
    virtual void release(std::uint32_t id) = 0;
    virtual void setPressHandler(PressHandler handler) = 0;

    // The text the key shows on the current layout with no modifier held;
    // absent when there is no such key or it shows nothing.
    virtual std::optional<std::string> keyText(std::string_view keyName) const = 0;
    // The XKB key name of a native key code (an X keycode); absent when unknown.
    virtual std::optional<std::string> keyNameOfKeycode(std::uint32_t keycode) const = 0;

    // Grabs that the system settles later (the desktop portal's) tell this
    // handler, on the main queue, whenever isAvailable() or a bound trigger
    // changes. X11 grabs are settled at once and never call it.
    using ChangeHandler = std::function<void()>;
    virtual void setChangeHandler(ChangeHandler) {}
    // The key the desktop reports for the id's shortcut in its own words
    // ("Meta+Ctrl+Alt+S"; empty when it gave none); absent when it reports
    // nothing (X11 grabs, or not bound yet).
    virtual std::optional<std::string> boundTrigger(std::uint32_t) const { return std::nullopt; }
};

} // namespace brindleaf
