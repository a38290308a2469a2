#include "platform/FakeKeyGrabber.hpp"

#include <algorithm>

namespace brindleaf {

FakeKeyGrabber::FakeKeyGrabber(MainQueue* queue, bool available) : queue_(queue), available_(available) {}

KeyGrabResult FakeKeyGrabber::grab(std::uint32_t id, const KeyChord& chord) {
    calls_.push_back("grab " + std::to_string(id) + " " + chord.keyName + "+" + std::to_string(chord.modifiers));
    held_.erase(id);
    if (!available_) return {unavailableStatus_};
    if (std::find(taken_.begin(), taken_.end(), chord) != taken_.end()) return {KeyGrabResult::badAccess};
    held_[id] = chord;
    return {};
}

void FakeKeyGrabber::release(std::uint32_t id) {
    calls_.push_back("release " + std::to_string(id));
    held_.erase(id);
}

std::optional<std::string> FakeKeyGrabber::boundTrigger(std::uint32_t id) const {
    auto it = boundTriggers_.find(id);
    if (it == boundTriggers_.end()) return std::nullopt;
    return it->second;
}

void FakeKeyGrabber::setBoundTrigger(std::uint32_t id, std::optional<std::string> trigger) {
    if (trigger)
        boundTriggers_[id] = *trigger;
    else
        boundTriggers_.erase(id);
}

std::optional<std::string> FakeKeyGrabber::keyText(std::string_view keyName) const {
    auto it = texts_.find(std::string(keyName));
    if (it == texts_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> FakeKeyGrabber::keyNameOfKeycode(std::uint32_t keycode) const {
    auto it = keycodeNames_.find(keycode);
    if (it == keycodeNames_.end()) return std::nullopt;
    return it->second;
}

void FakeKeyGrabber::press(const KeyChord& chord) {
    for (const auto& [id, held] : held_) {
        if (held != chord) continue;
        auto handler = handler_;
        auto pressedID = id;
        if (!handler) return;
        if (queue_) {
            queue_->post([handler, pressedID] { handler(pressedID); });
        } else {
            handler(pressedID);
        }
        return;
    }
}

} // namespace brindleaf
