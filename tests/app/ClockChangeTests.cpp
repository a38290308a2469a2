// The wall clock set back and forward under a running service: at every step
// the long-running service (the tray's) shows what a service started at that
// moment (a fresh "--dump-status") shows, and activity dated in the future
// makes no session fresh. The three real providers read a generated home;
// the process table is empty, so that processes elsewhere on the machine do
// not take part.
#include "bench/generator/HomeGenerator.hpp"
#include "core/ActivityAge.hpp"
#include "core/AgentStatusService.hpp"
#include "providers/claude/ClaudeProviderConfig.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "providers/codex/CodexOfficialStatusProbe.hpp"
#include "providers/codex/CodexProviderConfig.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "providers/hermes/HermesOfficialStatusProbe.hpp"
#include "providers/hermes/HermesProviderConfig.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

using namespace brindleaf;

namespace {

constexpr double minute = 60;
constexpr double hour = 3600;

// The providers as the composition root builds them, on `home`, with no processes.
std::unique_ptr<AgentStatusService> serviceOn(const bench::GeneratedHome& home, bool tray) {
    const ProcessSnapshotReader noProcesses = [] { return ProcessSampleList(); };
    auto claudeConfig = ClaudeProviderConfig::standard(home.root.string(), tray ? 10.0 : 0.0);
    claudeConfig.tasksTempRoot = (home.root / "tmp").string();
    auto codex = std::make_shared<CodexStatusProvider>(CodexProviderConfig::standard(home.codexHome().string(), {}),
                                                       noProcesses, std::make_shared<NoopCodexOfficialStatusProbe>());
    auto claude = std::make_shared<ClaudeStatusProvider>(claudeConfig, noProcesses);
    auto hermes = std::make_shared<HermesStatusProvider>(HermesProviderConfig::standard(home.root.string()),
                                                         noProcesses, ProcessCommandReader{},
                                                         std::make_shared<HermesDefaultOfficialStatusProbe>(), 30.0);
    return std::make_unique<AgentStatusService>(
        std::vector<std::shared_ptr<AgentStatusProvider>>{codex, claude, hermes}, 60.0);
}

std::vector<std::string> shownKeys(const AgentStatusSnapshot& snapshot) {
    std::vector<std::string> keys;
    for (const auto& session : snapshot.activeSessions) keys.push_back(session.provider + "/" + session.id);
    std::sort(keys.begin(), keys.end());
    return keys;
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
