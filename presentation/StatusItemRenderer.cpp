#include "presentation/StatusItemRenderer.hpp"

#include "presentation/StatusWording.hpp"

namespace brindleaf {

std::string StatusItemRenderer::summary(const AgentStatusSnapshot& snapshot) {
    const auto mood = StatusWording::mood(snapshot);
    const auto running = static_cast<std::int64_t>(snapshot.runningSessions().size());
    const auto waiting = static_cast<std::int64_t>(snapshot.waitingSessions().size());
    return StatusWording::title(mood) + " \u2014 " + StatusWording::summary(mood, running, waiting, std::nullopt, 0);
}

std::string StatusItemRenderer::tooltip(const AgentStatusSnapshot& snapshot) {
    return "Brindleaf: " + summary(snapshot);
}

void StatusItemRenderer::render(const AgentStatusSnapshot& snapshot) {
    const bool waiting = !snapshot.waitingSessions().empty();

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
        show(waiting ? StatusItemCanvas::Image::waiting : StatusItemCanvas::Image::idle);
    }

    auto text = tooltip(snapshot);
    if (tooltip_ != text) {
        canvas_.setTooltip(text, summary(snapshot));
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
