#pragma once

namespace brindleaf {

// Saves of the floating window's frame while the user drags it: at most one
// per interval, so a drag does not rewrite the settings file dozens of times a
// second; the owner schedules one more save at dueAt() so the last position is
// kept, and saves once more when the window hides. Times are seconds on a
// monotonic clock.
class FrameSaveThrottle {
public:
    static constexpr double defaultInterval = 0.25;

    explicit FrameSaveThrottle(double interval = defaultInterval) : interval_(interval) {}

    // The frame changed at `now`: true when it may be saved at once (and the
    // save is counted); false when the owner must save at dueAt() instead.
    bool changed(double now);
    // A save happened at `now` (the trailing save, or one on hiding).
    void saved(double now);
    // When the next save is allowed.
    double dueAt() const;

private:
    double interval_;
    bool hasSaved_ = false;
    double lastSave_ = 0;
};

} // namespace brindleaf
