// The wall clock set back and forward under a running service: at every step
// the long-running service (the tray's) shows what a service started at that
// moment (a fresh "--dump-status") shows, and activity dated in the future
// makes no session fresh. The three real providers read a generated home;
// the process table is empty, so that processes elsewhere on the machine do
// not take part.
#include "bench/generator/HomeGenerator.hpp"
#include "core/ActivityAge.hpp"
#include "core/AgentStatusService.hpp"
#include "tests/app/GeneratedHomeStatus.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace brindleaf;
using brindleaf::testing::shownKeys;

namespace {

constexpr double minute = 60;
constexpr double hour = 3600;

// The tray's or a status dump's service on `home`, with an empty process table.
std::unique_ptr<AgentStatusService> serviceOn(const bench::GeneratedHome& home, bool tray) {
    return brindleaf::testing::statusServiceOn(home, tray, [] { return ProcessSampleList(); });
}

} // namespace

TEST(ClockChange, TheRunningServiceShowsWhatAFreshOneShowsAtEveryStep) {
    brindleaf::testing::TempDir dir;
    const Date trueNow = std::floor(currentDate());
    const bench::GeneratedHome home =
        bench::HomeGenerator(bench::HomeRecipe::forSize(bench::HomeSize::small)).write(dir.path(), trueNow);
    auto running = serviceOn(home, true);

    struct Step {
        const char* name;
        Date now;
    };
    const Step steps[] = {{"true time", trueNow},
                          {"a moment later", trueNow + 2},
                          {"30 minutes back", trueNow - 30 * minute},
                          {"3 hours back", trueNow - 3 * hour},
                          {"3 hours ahead", trueNow + 3 * hour},
                          {"back to the true time", trueNow + 4}};
    size_t shownAtTrueTime = 0;
    for (const Step& step : steps) {
        const AgentStatusSnapshot shown = running->snapshot(step.now);
        const AgentStatusSnapshot dumped = serviceOn(home, false)->snapshot(step.now);
        EXPECT_EQ(shownKeys(shown), shownKeys(dumped)) << step.name;
        for (const auto& provider : dumped.providerSnapshots) EXPECT_TRUE(provider.errors.empty()) << step.name;
        for (const auto& session : shown.activeSessions) {
            ASSERT_TRUE(session.lastActivityAt) << step.name;
            EXPECT_FALSE(isDatedInFuture(*session.lastActivityAt, step.now))
                << step.name << ": " << session.provider << "/" << session.id;
        }
        if (step.now == trueNow) shownAtTrueTime = shown.activeSessions.size();
    }
    EXPECT_GT(shownAtTrueTime, 0u) << "the generated home has sessions at work";
}
