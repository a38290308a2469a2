// Each decision rule of the Claude Code scan at its boundary, with process
// tables given by the test.
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "tests/providers/claude/ClaudeScanSupport.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::claudefixtures;

namespace {

const std::string sid = "7d3e1f20-2222-4b3c-8d4e-6f708192a3b4";

ProcessSnapshotReader fixedProcesses(std::vector<ProcessResourceSample> samples) {
    return [samples] { return samples; };
}

ProcessResourceSample engineIn(const std::string& cwd, int64_t pid = 4242) {
    return {.pid = pid, .parentPID = 1, .command = "claude", .cwd = cwd};
}

class ClaudeRules : public ::testing::Test {
protected:
    ClaudeHome home;
    const Date now = wholeNow();
    const std::string cwd = home.workDir("shop");
};

} // namespace

TEST_F(ClaudeRules, UnknownEngineVerdictKeepsAPendingChoiceFor900Seconds) {
    for (const auto& [idle, shown] : std::vector<std::pair<double, bool>>{{900, true}, {901, false}}) {
        Transcript t(sid, cwd);
        t.prompt("plan", now - idle - 5)
            .toolUse("msg_1", "toolu_q", "AskUserQuestion", {{"questions", json::array()}}, now - idle);
        home.transcript(cwd, sid, t, now - idle);
        ClaudeStatusProvider provider(home.config(), fixedProcesses({})); // an empty table: verdict unknown
        const auto snapshot = provider.snapshot(now);
        EXPECT_EQ(snapshot.activeSessions.size(), shown ? 1u : 0u) << idle;
        EXPECT_EQ(snapshot.ignoredStaleSessions, shown ? 0 : 1) << idle;
    }
}

TEST_F(ClaudeRules, ASubagentRunsUnlessItsMainTranscriptIsStrictlyLater) {
    for (const auto& [mainLater, shown] : std::vector<std::pair<double, bool>>{{0, true}, {1, false}}) {
        Transcript main(sid, cwd);
        main.prompt("review", now - 110).assistantText("msg_m", "done", now - 100 + mainLater);
        home.transcript(cwd, sid, main, now - 100 + mainLater);
        Transcript side(sid, cwd);
        side.sidechain(true).prompt("explore", now - 105);
        side.toolUse("msg_s", "toolu_s", "Grep", {{"pattern", "x"}}, now - 100);
        home.write(home.projectDir(cwd) / sid / "subagents" / "agent-a1.jsonl", side.text(), now - 100);
        ClaudeStatusProvider provider(home.config(), fixedProcesses({})); // verdict unknown
        const auto snapshot = provider.snapshot(now);
        EXPECT_EQ(snapshot.activeSessions.size(), shown ? 1u : 0u) << mainLater;
    }
}

TEST_F(ClaudeRules, AGoneSubagentEngineIsForgivenWhileTheMainTranscriptsEngineRuns) {
    // The sub-agent's transcript lies in another project than its main transcript.
    const std::string mainCwd = home.workDir("main");
    const std::string otherCwd = home.workDir("other");
    Transcript main(sid, mainCwd);
    main.prompt("review", now - 210).assistantText("msg_m", "done", now - 200);
    home.transcript(mainCwd, sid, main, now - 200);
    Transcript side(sid, otherCwd);
    side.sidechain(true).prompt("explore", now - 105);
    side.toolUse("msg_s", "toolu_s", "Grep", {{"pattern", "x"}}, now - 100);
    home.write(home.projectDir(otherCwd) / sid / "subagents" / "agent-a1.jsonl", side.text(), now - 100);

    for (const auto& [engineCwd, shown] :
         std::vector<std::pair<std::string, bool>>{{mainCwd, true}, {home.workDir("third"), false}}) {
        ClaudeStatusProvider provider(home.config(), fixedProcesses({engineIn(engineCwd)}));
        const auto snapshot = provider.snapshot(now);
        EXPECT_EQ(snapshot.activeSessions.size(), shown ? 1u : 0u) << engineCwd;
        EXPECT_EQ(snapshot.ignoredStaleSessions, shown ? 0 : 1) << engineCwd;
    }
}

TEST_F(ClaudeRules, RecentActivityLastsTwentySecondsEvenWithoutAnEngine) {
    for (const auto& [idle, shown] : std::vector<std::pair<double, bool>>{{20, true}, {21, false}}) {
        Transcript quiet(sid, cwd); // nothing conversational yet
        quiet.record({{"type", "summary"}, {"summary", "Refactor"}, {"leafUuid", "x"}}, false);
        home.transcript(cwd, sid, quiet, now - idle);
        ClaudeStatusProvider provider(home.config(), fixedProcesses({engineIn(home.workDir("elsewhere"))}));
        const auto snapshot = provider.snapshot(now);
        EXPECT_EQ(snapshot.activeSessions.size(), shown ? 1u : 0u) << idle;
        EXPECT_EQ(snapshot.ignoredStaleSessions, 0) << idle;
    }
}

TEST_F(ClaudeRules, AMainTranscriptShowsSidechainWorkOnlyWhileItEndsWithAPendingSidechainToolUse) {
    enum class End { pendingSidechainTool, mainChainAfterIt, sidechainText };
    for (End end : {End::pendingSidechainTool, End::mainChainAfterIt, End::sidechainText}) {
        Transcript t(sid, cwd);
        t.prompt("review", now - 200).assistantText("msg_1", "delegating", now - 199);
        t.sidechain(true);
        if (end == End::sidechainText) {
            t.assistantText("msg_s", "looking", now - 100);
        } else {
            t.toolUse("msg_s", "toolu_s", "Grep", {{"pattern", "x"}}, now - 101);
        }
        if (end == End::mainChainAfterIt) t.sidechain(false).assistantText("msg_2", "done", now - 100);
        home.transcript(cwd, sid, t, now - 100);
        ClaudeStatusProvider provider(home.config(), fixedProcesses({}));
        const auto snapshot = provider.snapshot(now);
        const bool shown = end == End::pendingSidechainTool;
        ASSERT_EQ(snapshot.activeSessions.size(), shown ? 1u : 0u) << static_cast<int>(end);
        if (shown) {
            EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude sub-agent running");
        }
    }
}

TEST_F(ClaudeRules, BackgroundTasksAtTheirLaunchAndQuietWindows) {
    struct Case {
        double launchedAgo;
        std::optional<double> outputQuietFor; // the task's output file, when there is one
        bool running;
    };
    for (const auto& c : {Case{28800, std::nullopt, true}, Case{28801, std::nullopt, false}, Case{7200, 1800, true},
                          Case{7200, 1801, false}}) {
        ClaudeHome fresh;
        const std::string dir = fresh.workDir("shop");
        Transcript t(sid, dir);
        t.prompt("start the dev server", now - c.launchedAgo - 5);
        t.toolUse("msg_1", "toolu_s", "Bash", {{"command", "npm run dev"}, {"run_in_background", true}},
                  now - c.launchedAgo);
        t.toolResult("toolu_s", "Command running in background with ID: bg1", now - c.launchedAgo);
        t.assistantText("msg_2", "The server is starting.", now - c.launchedAgo + 10);
        fresh.transcript(dir, sid, t, now - c.launchedAgo + 10);
        if (c.outputQuietFor)
            fresh.write(fresh.tasksTemp() / "claude-0" / fresh.projectDir(dir).filename() / sid / "tasks" /
                            "bg1.output",
                        "x", now - *c.outputQuietFor);
        ClaudeStatusProvider provider(fresh.config(), fixedProcesses({})); // no process information
        const auto snapshot = provider.snapshot(now);
        ASSERT_EQ(snapshot.activeSessions.size(), c.running ? 1u : 0u) << c.launchedAgo;
        if (c.running) {
            EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude working on a background task");
        }
    }
}

TEST_F(ClaudeRules, TheFirstDesktopTitleOfASessionWins) {
    const auto desktop = home.root() / ".config" / "Claude";
    home.write(desktop / "claude-code-sessions" / "a" / "b" / "local_1.json",
               json{{"cliSessionId", sid}, {"title", "First"}}.dump());
    home.write(desktop / "local-agent-mode-sessions" / "a" / "b" / "local_2.json",
               json{{"cliSessionId", sid}, {"title", "Second"}}.dump());
    ClaudeStatusProvider provider(home.config(), fixedProcesses({}));
    EXPECT_EQ(provider.desktopTitles(), (std::map<std::string, std::string>{{sid, "First"}}));
}

TEST(ClaudeEngineLivenessRules, AnUnattributableShellTaskLeavesTheShellVerdictOpen) {
    using S = ProcessResourceSample;
    const S shell{.pid = 21, .parentPID = 20, .command = "/bin/zsh -c source ~/.claude/shell-snapshots/s.sh"};
    const ClaudeEngineKey key{"-w-a", std::nullopt};
    struct Case {
        std::optional<std::string> engineCwd;
        std::optional<bool> verdict;
    };
    for (const auto& c : {Case{"/w/a", true}, Case{"/w/b", false}, Case{std::nullopt, std::nullopt}}) {
        const S engine{.pid = 20, .parentPID = 1, .command = "claude", .cwd = c.engineCwd};
        const S other{.pid = 30, .parentPID = 1, .command = "claude", .cwd = "/w/c"};
        const auto index = ClaudeEngineLivenessIndex::build({engine, shell, other}, {});
        EXPECT_EQ(index.shellTaskVerdict(key), c.verdict) << c.engineCwd.value_or("(none)");
    }
}

TEST(ClaudeEvidence, EachSentenceAtItsRule) {
    const auto state = [](auto change) {
        ClaudeTranscriptState s;
        change(s);
        return s;
    };
    const auto none = [](ClaudeTranscriptState&) {};
    const auto pendingTask = [](ClaudeTranscriptState& s) { s.pendingBackgroundTasks["bg1"] = 1; };
    const auto sidechain = [](ClaudeTranscriptState& s) { s.endsWithSidechainActivity = true; };
    const auto openTurn = [](ClaudeTranscriptState& s) { s.hasOpenTurn = true; };
    struct Case {
        ClaudeTranscriptState state;
        bool wakeup;
        bool background;
        std::string evidence;
    };
    const Case cases[] = {
        {state(none), false, false, "Claude is working"},
        {state(sidechain), false, false, "Claude sub-agent running"},
        {state(pendingTask), false, false, "Claude working on a background task"},
        {state(none), false, true, "Claude working on a background task"},
        {state(none), true, true, "Claude loop sleeping until scheduled wakeup"},
        {state(openTurn), true, false, "Claude turn awaiting assistant response"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClaudeStatusProvider::activityDetail(c.state, c.wakeup, c.background), c.evidence) << c.evidence;
}

TEST_F(ClaudeRules, DesktopTitlesAreReusedForFiveSecondsOnlyWithARescanInterval) {
    const auto file = home.root() / ".config" / "Claude" / "claude-code-sessions" / "a" / "b" / "local_1.json";
    for (const double interval : {0.0, 30.0}) {
        home.write(file, json{{"cliSessionId", sid}, {"title", "Old"}}.dump(), now - 100);
        ClaudeStatusProvider provider(home.config(interval), fixedProcesses({}));
        const double start = monotonicSeconds();
        EXPECT_EQ(provider.desktopTitles().at(sid), "Old");
        home.write(file, json{{"cliSessionId", sid}, {"title", "Rewritten title"}}.dump(), now - 50);
        const auto titles = provider.desktopTitles();
        if (interval == 0) {
            EXPECT_EQ(titles.at(sid), "Rewritten title");
        } else if (monotonicSeconds() - start < 5) { // a slower machine cannot tell
            EXPECT_EQ(titles.at(sid), "Old");
        }
    }
}

TEST(ClaudeTranscriptPaths, ASubagentTranscriptBelongsToItsProjectFolderTwoLevelsUp) {
    struct Case {
        std::string path;
        std::optional<std::string> project;
    };
    for (const auto& c : std::vector<Case>{{"/h/.claude/projects/-w-shop/s1.jsonl", "-w-shop"},
                                           {"/h/.claude/projects/-w-shop/s1/subagents/agent-a.jsonl", "-w-shop"},
                                           {"/h/.claude/projects/-w-shop/s1/other/agent-a.jsonl", "other"},
                                           {"/s1.jsonl", std::nullopt}})
        EXPECT_EQ(ClaudeStatusProvider::projectDirectoryName(c.path), c.project) << c.path;
}

TEST_F(ClaudeRules, ASubagentWithoutAModelShowsItsMainTranscriptsProfile) {
    Transcript main(sid, cwd);
    main.prompt("review", now - 110).assistantText("msg_m", "done", now - 100, "claude-sonnet-4-5");
    home.transcript(cwd, sid, main, now - 100);
    Transcript side(sid, cwd);
    side.sidechain(true).prompt("explore", now - 105);
    side.toolUse("msg_s", "toolu_s", "Grep", {{"pattern", "x"}}, now - 100);
    home.write(home.projectDir(cwd) / sid / "subagents" / "agent-a1.jsonl", side.text(), now - 100);
    ClaudeStatusProvider provider(home.config(), fixedProcesses({}));
    const auto snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].runtimeProfile,
              SessionRuntimeProfile("claude-sonnet-4-5", std::nullopt, SessionRuntimeProfileSource::claudeTranscript));
}

TEST_F(ClaudeRules, ASettlementAtTheLaunchTimeEndsTheTask) {
    const auto index = ClaudeEngineLivenessIndex::build({}, {});
    for (const auto& [settledAfter, running] : std::vector<std::pair<double, bool>>{{-1, true}, {0, false}, {1, false}}) {
        ClaudeStatusProvider provider(home.config(), fixedProcesses({}));
        ClaudeStatusProvider::AnalyzedTranscript transcript;
        transcript.transcript.path = (home.projectDir(cwd) / (sid + ".jsonl")).string();
        transcript.state.sessionID = sid;
        transcript.lastActivity = now - 60;
        transcript.state.pendingBackgroundTasks = {{"t1", now - 100}};
        transcript.state.settledBackgroundTasks = {{"t1", now - 100 + settledAfter}};
        EXPECT_EQ(provider.runningBackgroundTasks({transcript}, index, now).size(), running ? 1u : 0u)
            << settledAfter;
    }
}

TEST_F(ClaudeRules, TheStartupDeepPassDropsLaunchesFollowedByAnInterrupt) {
    for (const bool interrupted : {false, true}) {
        ClaudeHome fresh;
        const std::string work = fresh.workDir("shop");
        Transcript t(sid, work);
        const Date launchedAt = now - 7 * 3600;
        t.prompt("start the dev server", launchedAt - 5);
        t.toolUse("msg_1", "toolu_s", "Bash",
                  {{"command", "npm run dev"}, {"description", "Start dev server"}, {"run_in_background", true}},
                  launchedAt);
        t.toolResult("toolu_s", "Command running in background with ID: bg1", launchedAt);
        if (interrupted)
            t.userBlocks(json::array({{{"type", "text"}, {"text", "[Request interrupted by user]"}}}), launchedAt + 20);
        for (int i = 0; i < 120; ++i) { // pushes launch and interrupt out of the regular tail
            t.prompt("question " + std::to_string(i), launchedAt + 100 + i * 10);
            t.assistantText("msg_r" + std::to_string(i), std::string(1500, 'a'), launchedAt + 105 + i * 10);
        }
        fresh.transcript(work, sid, t, now - 60);
        ASSERT_GT(t.text().size(), ClaudeTranscriptAnalyzer::defaultMaxBytes);
        fresh.write(fresh.tasksTemp() / "claude-0" / fresh.projectDir(work).filename() / sid / "tasks" / "bg1.output",
                    "x", now - 60);
        ClaudeStatusProvider provider(fresh.config(), fixedProcesses({}));
        EXPECT_EQ(provider.snapshot(now).activeSessions.size(), interrupted ? 0u : 1u) << interrupted;
    }
}
