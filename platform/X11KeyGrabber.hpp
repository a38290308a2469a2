#pragma once

#include "platform/KeyGrabber.hpp"
#include "platform/MainQueue.hpp"

#include <memory>

namespace brindleaf {

// Key grabs on the root window of an X server, over a connection of its own.
// Each chord is grabbed four times (as is, with Caps Lock, with Num Lock, with
// both) so that the lock keys do not hide a press; Alt, Super and Num Lock sit
// on whichever modifier bits the server's modifier map gives. A reader thread
// turns presses of held chords into ids on the main queue and drops
// autorepeat presses; it also follows keymap and layout changes.
//
// Without an X server every grab answers `KeyGrabResult::noServer`.
class X11KeyGrabber final : public KeyGrabber {
public:
    // Connects to `displayName`, or to $DISPLAY when it is null.
    explicit X11KeyGrabber(MainQueue& queue, const char* displayName = nullptr);
    ~X11KeyGrabber() override;
    X11KeyGrabber(const X11KeyGrabber&) = delete;
    X11KeyGrabber& operator=(const X11KeyGrabber&) = delete;

    bool isAvailable() const override;
    KeyGrabResult grab(std::uint32_t id, const KeyChord& chord) override;
    void release(std::uint32_t id) override;
    void setPressHandler(PressHandler handler) override;
    std::optional<std::string> keyText(std::string_view keyName) const override;
    std::optional<std::string> keyNameOfKeycode(std::uint32_t keycode) const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace brindleaf
