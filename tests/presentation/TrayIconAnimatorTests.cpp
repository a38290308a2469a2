// The animator on a manual clock, recording what reaches the tray.
#include "platform/ManualMainQueue.hpp"
#include "presentation/IconFrameSchedule.hpp"
#include "presentation/TrayIconAnimator.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace brindleaf;

namespace {

class RecordingSink final : public StatusIconSink {
public:
    std::vector<StatusIconImageRef> shown;
    void showIcon(const StatusIconImageRef& image) override { shown.push_back(image); }
};

std::vector<StatusIconImageRef> makeFrames(int count, bool isTemplate = false) {
    std::vector<StatusIconImageRef> frames;
    for (int i = 0; i < count; ++i) {
        auto image = std::make_shared<StatusIconImage>();
        image->pointSize = QSize(4, 4);
        image->at1x = QImage(4, 4, QImage::Format_ARGB32_Premultiplied);
        image->at1x.fill(Qt::black);
        image->at2x = image->at1x.scaled(8, 8);
        image->at2x.setDevicePixelRatio(2);
        image->isTemplate = isTemplate;
        frames.push_back(image);
    }
    return frames;
}

std::size_t indexOf(const std::vector<StatusIconImageRef>& frames, const StatusIconImageRef& image) {
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (frames[i] == image) return i;
    return frames.size();
}

} // namespace

TEST(IconFrameSchedule, IndexAndInterval) {
    EXPECT_EQ(IconFrameSchedule::frameIndex(0.35, 0, 0.1, 16), 3u);
    EXPECT_EQ(IconFrameSchedule::frameIndex(1.65, 0, 0.1, 16), 0u);
    EXPECT_EQ(IconFrameSchedule::frameIndex(-5, 0, 0.1, 16), 0u);
    EXPECT_EQ(IconFrameSchedule::frameIndex(1, 0, 0.1, 0), 0u);
    for (double bad : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(IconFrameSchedule::sanitizedInterval(bad), 0.1) << bad;
    EXPECT_EQ(IconFrameSchedule::sanitizedInterval(0.25), 0.25);
    EXPECT_GT(IconFrameSchedule::nextFrameTime(0.3, 0, 0.1), 0.3);
    EXPECT_NEAR(IconFrameSchedule::nextFrameTime(0.35, 0, 0.1), 0.4, 1e-9);
}

TEST(IconFrameSchedule, ReducedLoopKeepsTheLoopsLength) {
    using V = std::vector<std::size_t>;
    struct Case {
        std::size_t count;
        double interval, maxRate;
        V frames;
        double shownFor;
    } cases[] = {
        {16, 0.1, 0, V{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 0.1},  // no limit
        {16, 0.1, 10, V{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 0.1}, // slow enough
        {16, 0.1, 2.5, V{0, 4, 8, 12}, 0.4},
        {16, 0.1, 2.4, V{0, 5, 10}, 1.6 / 3},
        {16, 0.1, 5, V{0, 2, 4, 6, 8, 10, 12, 14}, 0.2},
        {12, 0.1, 2.5, V{0, 4, 8}, 0.4},
        {16, 0.1, 0.1, V{0}, 1.6}, // at least one frame
        {1, 0.1, 2.5, V{0}, 0.1},
        {0, 0.1, 2.5, V{}, 0.1},
        {16, 0.0, 2.5, V{0, 4, 8, 12}, 0.4}, // a bad interval is 0.1 s
    };
    for (const auto& c : cases) {
        const auto loop = IconFrameSchedule::reducedLoop(c.count, c.interval, c.maxRate);
        EXPECT_EQ(loop.frames, c.frames) << c.count << " at " << c.maxRate;
        EXPECT_NEAR(loop.interval, c.shownFor, 1e-9) << c.count << " at " << c.maxRate;
    }
}

TEST(TrayIconAnimator, ShowsEachFrameOnceOnTimeAndSleepsWhenStopped) {
    ManualMainQueue queue(100);
    RecordingSink sink;
    TrayIconAnimator animator(queue, sink);
    const auto frames = makeFrames(16);
    animator.setFrames(frames, 0.1);
    ASSERT_EQ(sink.shown.size(), 1u);
    EXPECT_EQ(sink.shown[0], frames[0]);
    for (int step = 0; step < 7; ++step) queue.advance(0.05);
    EXPECT_EQ(animator.shownIndex(), 3u);
    EXPECT_EQ(sink.shown.size(), 4u); // one call per changed frame, none in between
    EXPECT_EQ(queue.delayedCount(), 1u);

    // The same objects again: nothing restarts.
    animator.setFrames(frames, 0.1);
    EXPECT_EQ(sink.shown.size(), 4u);
    queue.advance(0.1);
    EXPECT_EQ(animator.shownIndex(), 4u);
    // An empty list leaves the loop playing.
    animator.setFrames({}, 0.1);
    EXPECT_TRUE(animator.isPlaying());

    animator.stop();
    const auto shownBefore = sink.shown.size();
    queue.advance(1);
    EXPECT_EQ(sink.shown.size(), shownBefore);
    EXPECT_EQ(queue.delayedCount(), 0u);
    animator.stop(); // idle: nothing

    // After a stop, the old list starts a new loop from its first frame.
    animator.setFrames(frames, 0.1);
    EXPECT_EQ(sink.shown.back(), frames[0]);
}

TEST(TrayIconAnimator, BadIntervalKeepsTheDefaultAndSingleFrameNeverWakes) {
    ManualMainQueue queue;
    RecordingSink sink;
    TrayIconAnimator animator(queue, sink);
    const auto frames = makeFrames(4);
    animator.setFrames(frames, 0.0);
    EXPECT_EQ(animator.frameInterval(), 0.1);
    queue.advance(0.25);
    EXPECT_EQ(indexOf(frames, sink.shown.back()), 2u);
    animator.setFrames(makeFrames(1), std::nan(""));
    queue.advance(5);
    EXPECT_EQ(queue.delayedCount(), 0u);
}

TEST(TrayIconAnimator, TemplateFramesFollowTheAppearanceKeepingThePhase) {
    ManualMainQueue queue;
    RecordingSink sink;
    TrayIconAnimator animator(queue, sink);
    const auto frames = makeFrames(8, true);
    animator.setFrames(frames, 0.1);
    queue.advance(0.25);
    const auto light = sink.shown.back();
    EXPECT_FALSE(light->isTemplate);
    EXPECT_EQ(light->at1x.pixel(1, 1), qRgba(0, 0, 0, 217)); // black at 85 %
    animator.setAppearance(Appearance::dark);
    EXPECT_EQ(animator.shownIndex(), 2u);
    EXPECT_NE(sink.shown.back(), light);
    EXPECT_EQ(qRed(sink.shown.back()->at1x.pixel(1, 1)), qAlpha(sink.shown.back()->at1x.pixel(1, 1)));
    // Tints are made once per frame: a second loop reuses them.
    queue.advance(0.8);
    const auto firstLoop = sink.shown.back();
    queue.advance(0.8);
    EXPECT_EQ(sink.shown.back(), firstLoop);
    // ... and so does a loop started again on the same frames after a stop,
    // until the appearance changes.
    animator.stop();
    animator.setFrames(frames, 0.1);
    const auto firstFrame = sink.shown.back();
    animator.stop();
    animator.setFrames(frames, 0.1);
    EXPECT_EQ(sink.shown.back(), firstFrame);
    animator.stop();
    animator.setAppearance(Appearance::light);
    animator.setFrames(frames, 0.1);
    EXPECT_NE(sink.shown.back(), firstFrame);
}
