#include "presentation/StatusItemRenderer.hpp"

#include "presentation/StatusWording.hpp"

#include <algorithm>
#include <cstdint>

namespace brindleaf {

std::string StatusItemRenderer::summary(const AgentStatusSnapshot& snapshot) {
    const auto& sessions = snapshot.activeSessions;
    const std::int64_t waiting =
        std::count_if(sessions.begin(), sessions.end(), [](const AgentSession& s) { return !s.isRunning(); });
    const std::int64_t running = std::int64_t(sessions.size()) - waiting;
    const auto mood = StatusWording::mood(snapshot);
    return StatusWording::title(mood) + " \u2014 " + StatusWording::summary(mood, running, waiting, std::nullopt, 0);
}

void StatusItemRenderer::render(const AgentStatusSnapshot& snapshot) {
    const auto& sessions = snapshot.activeSessions;
    const bool waiting =
        std::any_of(sessions.begin(), sessions.end(), [](const AgentSession& s) { return !s.isRunning(); });

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

    std::string value = summary(snapshot);
    std::string text = "Brindleaf: " + value;
    if (tooltip_ != text) {
        canvas_.setTooltip(text, value);
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
