// The tray icons' costs: building one pulse icon set (target: 5 ms), one cloud
// icon set from the compiled-in art (30 ms), and one animator tick (0.1 ms).
#include "platform/ManualMainQueue.hpp"
#include "presentation/StatusIconFactory.hpp"
#include "presentation/TrayIconAnimator.hpp"

#include <benchmark/benchmark.h>

using namespace brindleaf;

namespace {

void IconSetPulse(benchmark::State& state) {
    for (auto _ : state) {
        auto set = StatusIconFactory::buildIconSet(StatusIconStyle::pulse, StatusIconRenderingMode::color,
                                                   StatusIconSizeOption::large);
        benchmark::DoNotOptimize(set.running.data());
    }
}
BENCHMARK(IconSetPulse)->Name("Icons/pulse-set")->Unit(benchmark::kMillisecond);

void IconSetCloud(benchmark::State& state) {
    for (auto _ : state) {
        auto set = StatusIconFactory::buildIconSet(StatusIconStyle::cloud, StatusIconRenderingMode::color,
                                                   StatusIconSizeOption::large);
        if (set.running.size() < 2) state.SkipWithError("the cloud art is missing");
        benchmark::DoNotOptimize(set.running.data());
    }
}
BENCHMARK(IconSetCloud)->Name("Icons/cloud-set")->Unit(benchmark::kMillisecond);

class DiscardingSink final : public StatusIconSink {
public:
    void showIcon(const StatusIconImageRef& image) override { benchmark::DoNotOptimize(image.get()); }
};

// One frame step of a template loop on a dark panel: clock read, index,
// (cached) tint, sink, next wake-up.
void AnimatorTick(benchmark::State& state) {
    const auto set = StatusIconFactory::buildIconSet(StatusIconStyle::pulse, StatusIconRenderingMode::monochrome,
                                                     StatusIconSizeOption::medium);
    ManualMainQueue queue;
    DiscardingSink sink;
    TrayIconAnimator animator(queue, sink);
    animator.setAppearance(Appearance::dark);
    animator.setFrames(set.running, set.frameInterval);
    for (int i = 0; i < 16; ++i) queue.advance(set.frameInterval); // every tint made once
    for (auto _ : state) queue.advance(set.frameInterval);
}
BENCHMARK(AnimatorTick)->Name("Icons/animator-tick")->Unit(benchmark::kMicrosecond);

} // namespace
