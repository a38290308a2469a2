#include "presentation/StatusItemRenderer.hpp"

#include "presentation/StatusWording.hpp"

namespace brindleaf {

namespace {

StatusWording::Mood moodFor(std::int64_t running, std::int64_t waiting) {
    if (running > 0) return StatusWording::Mood::working;
    if (waiting > 0) return StatusWording::Mood::waiting;
    return StatusWording::Mood::idle;
}

} // namespace

std::string StatusItemRenderer::summary(std::int64_t running, std::int64_t waiting) {
    const auto mood = moodFor(running, waiting);
    return StatusWording::title(mood) + " \u2014 " + StatusWording::summary(mood, running, waiting, std::nullopt, 0);
}

std::string StatusItemRenderer::tooltip(std::int64_t running, std::int64_t waiting) {
    return "Brindleaf: " + summary(running, waiting);
}

void StatusItemRenderer::render(const AgentStatusSnapshot& snapshot) {
    const auto waiting = static_cast<std::int64_t>(snapshot.waitingSessions().size());
    const auto running = static_cast<std::int64_t>(snapshot.runningSessions().size());

    if (snapshot.state == AgentRunState::inProgress && hasRunningFrames_) {
        if (!suspended_ && !reduceMotion_) {
            show(StatusItemCanvas::Image::runningPlaceholder);
            if (!playing_) {
                canvas_.playAnimation();
                playing_ = true;
            }
        } else {
            stop();
            show(StatusItemCanvas::Image::firstRunningFrame);
        }
    } else {
        stop();
        show(waiting > 0 ? StatusItemCanvas::Image::waiting : StatusItemCanvas::Image::idle);
    }

    auto text = tooltip(running, waiting);
    if (tooltip_ != text) {
        canvas_.setTooltip(text, summary(running, waiting));
        tooltip_ = std::move(text);
    }
}

void StatusItemRenderer::iconsReloaded(bool hasRunningFrames) {
    hasRunningFrames_ = hasRunningFrames;
    shown_.reset();
    canvas_.stopAnimation();
    playing_ = false;
}

void StatusItemRenderer::setAnimationSuspended(bool suspended) {
    suspended_ = suspended;
    stop();
}

void StatusItemRenderer::setReduceMotion(bool reduce) {
    reduceMotion_ = reduce;
    stop();
}

void StatusItemRenderer::show(StatusItemCanvas::Image image) {
    if (shown_ == image) return;
    canvas_.showImage(image);
    shown_ = image;
}

void StatusItemRenderer::stop() {
    if (!playing_) return;
    canvas_.stopAnimation();
    playing_ = false;
}

} // namespace brindleaf
