// Activity dated in the future (the wall clock was set back since it was
// written) keeps a session fresh only within the allowed skew: every window of
// the scan at its boundary, 60 seconds ahead and 61.
#include "core/ActivityAge.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "tests/providers/claude/ClaudeScanSupport.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::claudefixtures;

namespace {

const std::string sid = "1c2d3e4f-5a6b-4c7d-8e9f-0a1b2c3d4e5f";

ProcessSnapshotReader fixedProcesses(std::vector<ProcessResourceSample> samples) {
    return [samples] { return samples; };
}

struct Outcome {
    size_t shown;
    int64_t stale;
    std::string evidence;
};

// Scans a fresh home holding one transcript written by `write` at `at`.
template <typename Write>
Outcome scanOne(Date now, Date at, std::vector<ProcessResourceSample> processes, Write&& write) {
    ClaudeHome home;
    const std::string cwd = home.workDir("shop");
    Transcript t(sid, cwd);
    write(t, at);
    home.transcript(cwd, sid, t, at);
    ClaudeStatusProvider provider(home.config(), fixedProcesses(std::move(processes)));
    const auto snapshot = provider.snapshot(now);
    return {snapshot.activeSessions.size(), snapshot.ignoredStaleSessions,
            snapshot.activeSessions.empty() ? "" : snapshot.activeSessions[0].evidence};
}

} // namespace

TEST(ClaudeFutureActivity, EveryWindowHoldsActivityAheadOnlyWithinTheSkew) {
    const Date now = wholeNow();
    const ProcessResourceSample engineElsewhere{.pid = 4242, .parentPID = 1, .command = "claude", .cwd = "/elsewhere"};
    for (const double ahead : {futureActivitySkew, futureActivitySkew + 1}) {
        const bool fresh = ahead <= futureActivitySkew;
        const Date at = now + ahead;

        // Recent activity (20 s), with nothing conversational yet.
        auto recent = scanOne(now, at, {engineElsewhere}, [](Transcript& t, Date) {
            t.record({{"type", "summary"}, {"summary", "Refactor"}, {"leafUuid", "x"}}, false);
        });
        EXPECT_EQ(recent.shown, fresh ? 1u : 0u) << ahead;
        EXPECT_EQ(recent.stale, 0) << ahead;

        // A pending choice whose engine cannot be told (900 s), counted as stale when not fresh.
        auto asking = scanOne(now, at, {}, [](Transcript& t, Date when) {
            t.prompt("plan", when - 5)
                .toolUse("msg_1", "toolu_q", "AskUserQuestion", {{"questions", json::array()}}, when);
        });
        EXPECT_EQ(asking.shown, fresh ? 1u : 0u) << ahead;
        EXPECT_EQ(asking.stale, fresh ? 0 : 1) << ahead;

        // A loop that scheduled its wakeup from a transcript dated ahead.
        auto sleeping = scanOne(now, at, {}, [](Transcript& t, Date when) {
            t.prompt("/loop watch CI", when - 5)
                .toolUse("msg_1", "toolu_w", "ScheduleWakeup", {{"delaySeconds", 300}}, when - 1);
            t.userBlocks(
                json::array(
                    {{{"tool_use_id", "toolu_w"}, {"type", "tool_result"}, {"content", "Wakeup scheduled (in 300s)"}}}),
                when - 1);
            t.assistantText("msg_2", "Sleeping until then.", when);
        });
        EXPECT_EQ(sleeping.shown, fresh ? 1u : 0u) << ahead;
        EXPECT_EQ(sleeping.evidence, fresh ? "Claude loop sleeping until scheduled wakeup" : "") << ahead;

        // A background task launched ahead (8 h window).
        auto background = scanOne(now, at, {}, [](Transcript& t, Date when) {
            t.prompt("start the dev server", when - 5);
            t.toolUse("msg_1", "toolu_s", "Bash", {{"command", "npm run dev"}, {"run_in_background", true}}, when);
            t.toolResult("toolu_s", "Command running in background with ID: bg1", when);
            t.assistantText("msg_2", "The server is starting.", when);
        });
        EXPECT_EQ(background.shown, fresh ? 1u : 0u) << ahead;
        EXPECT_EQ(background.evidence, fresh ? "Claude working on a background task" : "") << ahead;
    }
}
