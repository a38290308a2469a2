#pragma once

#include "platform/KeyGrabber.hpp"
#include "platform/MainQueue.hpp"

#include <map>
#include <vector>

namespace brindleaf {

// Grabs kept in memory, for tests: chords can be marked as held by another
// program, presses are simulated, and the layout is a plain table.
class FakeKeyGrabber final : public KeyGrabber {
public:
    // Without a queue, presses are handed over at once.
    explicit FakeKeyGrabber(MainQueue* queue = nullptr, bool available = true);

    bool isAvailable() const override { return available_; }
    KeyGrabResult grab(std::uint32_t id, const KeyChord& chord) override;
    void release(std::uint32_t id) override;
    void setPressHandler(PressHandler handler) override { handler_ = std::move(handler); }
    std::optional<std::string> keyText(std::string_view keyName) const override;
    std::optional<std::string> keyNameOfKeycode(std::uint32_t keycode) const override;
    void setChangeHandler(ChangeHandler handler) override { changeHandler_ = std::move(handler); }
    std::optional<std::string> boundTrigger(std::uint32_t id) const override;

    // As a desktop portal does: grabs fail with `status` while unavailable
    // (noServer unless set), the desktop reports a trigger per id, and the
    // change handler hears of either when told.
    void setAvailable(bool available) { available_ = available; }
    void setUnavailableStatus(int status) { unavailableStatus_ = status; }
    void setBoundTrigger(std::uint32_t id, std::optional<std::string> trigger);
    void announceChange() const {
        if (changeHandler_) changeHandler_();
    }

    // Another program holds this chord: grabbing it fails with BadAccess.
    void takeByOtherProgram(const KeyChord& chord) { taken_.push_back(chord); }
    // Presses the chord: the id holding it, if any, reaches the handler.
    void press(const KeyChord& chord);
    void setKeyText(const std::string& keyName, std::string text) { texts_[keyName] = std::move(text); }
    void setKeycodeName(std::uint32_t keycode, std::string keyName) { keycodeNames_[keycode] = std::move(keyName); }

    // The chords held now, by id.
    const std::map<std::uint32_t, KeyChord>& held() const { return held_; }
    // Every grab and release in order: "grab 1 AC02+29", "release 1".
    const std::vector<std::string>& calls() const { return calls_; }

private:
    MainQueue* queue_;
    bool available_;
    PressHandler handler_;
    ChangeHandler changeHandler_;
    int unavailableStatus_ = KeyGrabResult::noServer;
    std::map<std::uint32_t, std::string> boundTriggers_;
    std::map<std::uint32_t, KeyChord> held_;
    std::vector<KeyChord> taken_;
    std::map<std::string, std::string> texts_;
    std::map<std::uint32_t, std::string> keycodeNames_;
    std::vector<std::string> calls_;
};

} // namespace brindleaf
