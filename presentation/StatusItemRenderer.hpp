#pragma once

#include "core/AgentStatusSnapshot.hpp"

#include <optional>
#include <string>

namespace brindleaf {

// The tray icon as the renderer sees it: which of its images to show, the
// running loop, the tooltip. The tray shell paints it; tests count the calls.
class StatusItemCanvas {
public:
    enum class Image { idle, waiting, runningPlaceholder, firstRunningFrame };
    virtual ~StatusItemCanvas() = default;
    virtual void showImage(Image image) = 0;
    // Starts the running frames at their interval.
    virtual void playAnimation() = 0;
    virtual void stopAnimation() = 0;
    virtual void setTooltip(const std::string& tooltip, const std::string& accessibleValue) = 0;
};

// Decides what the tray icon shows for a snapshot: the running loop while
// agents work (its first frame only while the animation is suspended or
// motion is reduced), otherwise the waiting image when a session needs the
// user, else the idle image. Nothing is handed to the canvas that it already
// shows, so a refresh that changes nothing costs no drawing.
//
// Main thread only.
class StatusItemRenderer {
public:
    explicit StatusItemRenderer(StatusItemCanvas& canvas) : canvas_(canvas) {}

    // Draws the snapshot. It logs nothing: the status bar controller, which
    // renders through it, writes the one "render.applied" line of a render.
    void render(const AgentStatusSnapshot& snapshot);
    // The icon set changed: the loop stops and the next render shows the new
    // images even where the kind of image stays the same.
    void iconsReloaded(bool hasRunningFrames);
    // Screens asleep or session inactive; the next render applies it.
    void setAnimationSuspended(bool suspended);
    // The desktop asks for reduced motion; the next render applies it.
    void setReduceMotion(bool reduce);
    bool isAnimationSuspended() const { return suspended_; }

    // "Working — 2 sessions running · 1 waiting for you", in the snapshot's
    // mood; the tooltip puts "Brindleaf: " before it. A snapshot in which no
    // agent could be read says so ("Status Unavailable — ...").
    static std::string summary(const AgentStatusSnapshot& snapshot);

private:
    void show(StatusItemCanvas::Image image);
    void stop();

    StatusItemCanvas& canvas_;
    std::optional<StatusItemCanvas::Image> shown_;
    std::optional<std::string> tooltip_;
    bool playing_ = false;
    bool hasRunningFrames_ = true;
    bool suspended_ = false;
    bool reduceMotion_ = false;
};

} // namespace brindleaf
