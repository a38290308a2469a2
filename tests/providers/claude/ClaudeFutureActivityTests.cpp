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

TEST(ClaudeFutureActivity, ALaunchOnlyTheStartUpPassSawOutlivesTheClockGoingBackAndForth) {
    // The launch lies beyond the regular tail: only the deep pass at start-up
    // finds it. At every step the long-running provider shows what one started
    // at that moment shows.
    const Date now = wholeNow();
    ClaudeHome home;
    const std::string cwd = home.workDir("shop");
    const Date launchedAt = now - 2 * 3600;
    Transcript t(sid, cwd);
    t.prompt("start the dev server", launchedAt - 5);
    t.toolUse("msg_1", "toolu_s", "Bash", {{"command", "npm run dev"}, {"run_in_background", true}}, launchedAt);
    t.toolResult("toolu_s", "Command running in background with ID: bg1", launchedAt);
    for (int i = 0; i < 120; ++i) {
        t.prompt("question " + std::to_string(i), launchedAt + 100 + i * 10);
        t.assistantText("msg_r" + std::to_string(i), std::string(1500, 'a'), launchedAt + 105 + i * 10);
    }
    home.transcript(cwd, sid, t, now - 60);
    ASSERT_GT(t.text().size(), ClaudeTranscriptAnalyzer::defaultMaxBytes);
    home.write(home.tasksTemp() / "claude-0" / home.projectDir(cwd).filename() / sid / "tasks" / "bg1.output", "x",
               now - 60);

    ClaudeStatusProvider running(home.config(), fixedProcesses({}));
    struct Step {
        const char* name;
        Date at;
        bool shown;
    };
    for (const Step& step : {Step{"true time", now, true}, Step{"3 hours back", now - 3 * 3600, false},
                             Step{"back to the true time", now + 2, true}, Step{"3 hours ahead", now + 3 * 3600, false},
                             Step{"back again", now + 4, true}}) {
        ClaudeStatusProvider fresh(home.config(), fixedProcesses({}));
        EXPECT_EQ(fresh.snapshot(step.at).activeSessions.size(), step.shown ? 1u : 0u) << step.name;
        EXPECT_EQ(running.snapshot(step.at).activeSessions.size(), step.shown ? 1u : 0u) << step.name;
    }
}
