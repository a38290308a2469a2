#pragma once

#include "platform/MainQueue.hpp"
#include "presentation/Appearance.hpp"
#include "presentation/StatusIconImage.hpp"
#include "presentation/StatusIconSink.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace brindleaf {

// Plays the running frames on the tray icon. The frame showing is chosen
// from the main queue's monotonic clock (trunc(elapsed / interval) modulo the
// count); the sink hears only of a changed frame; a single delayed job wakes
// it at the next frame boundary while playing, and nothing runs while idle.
// Template frames are tinted for the panel's appearance, once per frame
// (kept across a stop while the same frames come back).
//
// Main thread only.
class TrayIconAnimator {
public:
    TrayIconAnimator(MainQueue& mainQueue, StatusIconSink& sink);
    ~TrayIconAnimator();
    TrayIconAnimator(const TrayIconAnimator&) = delete;
    TrayIconAnimator& operator=(const TrayIconAnimator&) = delete;

    // Starts or changes the loop. The same image objects with the same interval
    // change nothing (the loop keeps its phase); an empty list changes nothing
    // (stop() clears). An interval that is not positive and finite is 0.1 s.
    void setFrames(std::vector<StatusIconImageRef> frames, double interval);
    // Ends the loop and forgets the frames (not their tints); nothing more is
    // shown.
    void stop();
    // The panel's appearance changed: template frames are tinted anew, the
    // loop keeps its phase.
    void setAppearance(Appearance appearance);

    bool isPlaying() const { return !frames_.empty(); }
    const std::vector<StatusIconImageRef>& frames() const { return frames_; }
    double frameInterval() const { return interval_; }
    // The index of the frame last shown, if any.
    std::optional<std::size_t> shownIndex() const { return shownIndex_; }

    // Shows the frame due now when it changed and arms the next wake-up
    // (called by the delayed job; public for benchmarks).
    void tick();

private:
    StatusIconImageRef displayFrame(std::size_t index);
    void schedule();

    MainQueue& mainQueue_;
    StatusIconSink& sink_;
    std::vector<StatusIconImageRef> frames_;
    std::vector<StatusIconImageRef> tintedFrom_; // the frames tinted_ was made for
    std::vector<StatusIconImageRef> tinted_;     // per frame of tintedFrom_, for appearance_
    double interval_ = 0.1;
    double start_ = 0;
    Appearance appearance_ = Appearance::light;
    std::optional<std::size_t> shownIndex_;
    std::uint64_t generation_ = 0; // a wake-up of an older generation does nothing
    bool wakeUpPending_ = false;
    std::shared_ptr<TrayIconAnimator*> self_;
};

} // namespace brindleaf
