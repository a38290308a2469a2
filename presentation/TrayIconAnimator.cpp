#include "presentation/TrayIconAnimator.hpp"

#include "presentation/IconFrameSchedule.hpp"

namespace brindleaf {

TrayIconAnimator::TrayIconAnimator(MainQueue& mainQueue, StatusIconSink& sink)
    : mainQueue_(mainQueue), sink_(sink), self_(std::make_shared<TrayIconAnimator*>(this)) {}

TrayIconAnimator::~TrayIconAnimator() = default;

void TrayIconAnimator::setFrames(std::vector<StatusIconImageRef> frames, double interval) {
    interval = IconFrameSchedule::sanitizedInterval(interval);
    if (frames.empty()) return;
    if (frames == frames_ && interval == interval_) return;
    frames_ = std::move(frames);
    interval_ = interval;
    // Tints are kept across a stop: the loop restarting on the same images
    // (idle, then working again) shows the same tinted objects, which the
    // tray has already converted.
    if (frames_ != tintedFrom_) {
        tintedFrom_ = frames_;
        tinted_.assign(frames_.size(), nullptr);
    }
    start_ = mainQueue_.now();
    shownIndex_.reset();
    ++generation_;
    wakeUpPending_ = false;
    tick();
}

void TrayIconAnimator::stop() {
    if (frames_.empty()) return;
    frames_.clear();
    shownIndex_.reset();
    ++generation_;
    wakeUpPending_ = false;
}

void TrayIconAnimator::setAppearance(Appearance appearance) {
    if (appearance == appearance_) return;
    appearance_ = appearance;
    tinted_.assign(tintedFrom_.size(), nullptr);
    if (frames_.empty() || !frames_.front()->isTemplate || !shownIndex_) return;
    // Show the same frame in its new tint; the phase is kept.
    sink_.showIcon(displayFrame(*shownIndex_));
}

StatusIconImageRef TrayIconAnimator::displayFrame(std::size_t index) {
    auto& tinted = tinted_[index];
    if (!tinted) tinted = tintedForPanel(frames_[index], appearance_);
    return tinted;
}

void TrayIconAnimator::tick() {
    if (frames_.empty()) return;
    const double now = mainQueue_.now();
    const std::size_t index = IconFrameSchedule::frameIndex(now, start_, interval_, frames_.size());
    if (!shownIndex_ || *shownIndex_ != index) {
        shownIndex_ = index;
        sink_.showIcon(displayFrame(index));
    }
    schedule();
}

void TrayIconAnimator::schedule() {
    // A single frame never changes: no wake-up at all.
    if (frames_.size() < 2 || wakeUpPending_) return;
    const double now = mainQueue_.now();
    const double delay = IconFrameSchedule::nextFrameTime(now, start_, interval_) - now;
    std::weak_ptr<TrayIconAnimator*> weak = self_;
    const std::uint64_t generation = generation_;
    wakeUpPending_ = true;
    mainQueue_.postAfter(delay, [weak, generation] {
        auto self = weak.lock();
        if (!self) return;
        TrayIconAnimator& animator = **self;
        if (animator.generation_ != generation) return;
        animator.wakeUpPending_ = false;
        animator.tick();
    });
}

} // namespace brindleaf
