#include "presentation/StatusItemRenderer.hpp"

#include "tests/support/SnapshotOf.hpp"

#include <gtest/gtest.h>

#include <vector>

using namespace brindleaf;
using Image = StatusItemCanvas::Image;
using brindleaf::testing::snapshotOf;

namespace {

// Counts every call the renderer makes.
struct CountingCanvas final : StatusItemCanvas {
    std::vector<Image> images;
    int plays = 0;
    int stops = 0;
    std::vector<std::string> tooltips;
    std::string accessibleValue;
    int calls() const { return static_cast<int>(images.size() + tooltips.size()) + plays + stops; }

    void showImage(Image image) override { images.push_back(image); }
    void playAnimation() override { ++plays; }
    void stopAnimation() override { ++stops; }
    void setTooltip(const std::string& tooltip, const std::string& value) override {
        tooltips.push_back(tooltip);
        accessibleValue = value;
    }
};

} // namespace

TEST(StatusItemRendererTests, ImageForEachSnapshot) {
    struct Case {
        AgentRunState state;
        int running, waiting;
        Image image;
        int plays;
    } cases[] = {
        {AgentRunState::complete, 0, 2, Image::waiting, 0},
        {AgentRunState::complete, 0, 1, Image::waiting, 0}, // one waiting session is enough
        {AgentRunState::unknown, 0, 0, Image::idle, 0},
        {AgentRunState::complete, 0, 0, Image::idle, 0},
        {AgentRunState::inProgress, 1, 1, Image::runningPlaceholder, 1},
        {AgentRunState::inProgress, 0, 0, Image::runningPlaceholder, 1}, // drawn anyway, only logged
    };
    for (const auto& c : cases) {
        CountingCanvas canvas;
        StatusItemRenderer renderer(canvas);
        renderer.render(snapshotOf(c.state, c.running, c.waiting));
        ASSERT_EQ(canvas.images.size(), 1u);
        EXPECT_EQ(canvas.images.back(), c.image);
        EXPECT_EQ(canvas.plays, c.plays);
    }
}

TEST(StatusItemRendererTests, UnchangedRenderMakesNoCalls) {
    for (auto state : {AgentRunState::inProgress, AgentRunState::complete}) {
        CountingCanvas canvas;
        StatusItemRenderer renderer(canvas);
        renderer.render(snapshotOf(state, 2, 1));
        const int before = canvas.calls();
        renderer.render(snapshotOf(state, 2, 1));
        EXPECT_EQ(canvas.calls(), before);
    }
}

TEST(StatusItemRendererTests, ReducedMotionAndSuspensionShowTheFirstFrameOnly) {
    CountingCanvas canvas;
    StatusItemRenderer renderer(canvas);
    renderer.render(snapshotOf(AgentRunState::inProgress, 1, 0));
    renderer.setReduceMotion(true);
    renderer.render(snapshotOf(AgentRunState::inProgress, 1, 0));
    EXPECT_EQ(canvas.images.back(), Image::firstRunningFrame);
    EXPECT_EQ(canvas.plays, 1);
    EXPECT_EQ(canvas.stops, 1);

    renderer.setReduceMotion(false);
    renderer.setAnimationSuspended(true);
    renderer.render(snapshotOf(AgentRunState::inProgress, 1, 0));
    EXPECT_EQ(canvas.plays, 1);
    renderer.setAnimationSuspended(false); // wake
    renderer.render(snapshotOf(AgentRunState::inProgress, 1, 0));
    EXPECT_EQ(canvas.images.back(), Image::runningPlaceholder);
    EXPECT_EQ(canvas.plays, 2);
}

TEST(StatusItemRendererTests, ReloadedIconsAreShownAgain) {
    CountingCanvas canvas;
    StatusItemRenderer renderer(canvas);
    renderer.render(snapshotOf(AgentRunState::complete, 0, 0));
    renderer.iconsReloaded(true);
    renderer.render(snapshotOf(AgentRunState::complete, 0, 0));
    EXPECT_EQ(canvas.images, (std::vector<Image>{Image::idle, Image::idle}));
    // Without running frames a working snapshot shows the static image.
    renderer.iconsReloaded(false);
    renderer.render(snapshotOf(AgentRunState::inProgress, 1, 0));
    EXPECT_EQ(canvas.images.back(), Image::idle);
}

TEST(StatusItemRendererTests, Tooltips) {
    struct Case {
        AgentRunState state;
        int running, waiting;
        const char* tooltip;
    } cases[] = {
        {AgentRunState::inProgress, 1, 2, "Brindleaf: Working \u2014 1 session running \u00B7 2 waiting for you"},
        {AgentRunState::inProgress, 2, 0, "Brindleaf: Working \u2014 2 sessions running"},
        {AgentRunState::complete, 0, 0, "Brindleaf: Idle \u2014 No agents are running."},
        {AgentRunState::complete, 0, 3, "Brindleaf: Waiting for You \u2014 3 sessions need your input"},
        {AgentRunState::complete, 0, 1, "Brindleaf: Waiting for You \u2014 1 session needs your input"},
        // No agent could be read in the refresh.
        {AgentRunState::unknown, 0, 0,
         "Brindleaf: Status Unavailable \u2014 This computer couldn\u2019t read agent activity."},
        {AgentRunState::unknown, 0, 1, "Brindleaf: Waiting for You \u2014 1 session needs your input"},
    };
    for (const auto& c : cases) {
        CountingCanvas canvas;
        StatusItemRenderer renderer(canvas);
        renderer.render(snapshotOf(c.state, c.running, c.waiting));
        ASSERT_EQ(canvas.tooltips.size(), 1u);
        EXPECT_EQ(canvas.tooltips.back(), c.tooltip);
        EXPECT_EQ("Brindleaf: " + canvas.accessibleValue, c.tooltip);
    }

    CountingCanvas canvas;
    StatusItemRenderer renderer(canvas);
    renderer.render(snapshotOf(AgentRunState::complete, 0, 1));
    renderer.render(snapshotOf(AgentRunState::inProgress, 0, 1));
    EXPECT_EQ(canvas.tooltips.size(), 1u); // same text: not set again
}
