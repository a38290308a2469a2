#include "providers/claude/ClaudeStatusProvider.hpp"
#include "tests/providers/claude/ClaudeScanSupport.hpp"
#include "tests/support/ChildProcess.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include <sys/stat.h>

using namespace brindleaf;
using namespace brindleaf::claudefixtures;
using brindleaf::testing::ChildProcess;

namespace {

const std::string sid = "0b6f2d4e-1111-4a2b-9c3d-5e6f7a8b9c0d";

std::optional<AgentSession> row(const ProviderSnapshot& snapshot, const std::string& id) {
    for (const auto& session : snapshot.activeSessions) {
        if (session.id == id) return session;
    }
    return std::nullopt;
}

ProcessSnapshotReader noProcesses() {
    return [] { return std::vector<ProcessResourceSample>{}; };
}

// A snapshot that holds processes but no engine.
ProcessSnapshotReader processesWithoutEngines() {
    return [] {
        return std::vector<ProcessResourceSample>{{.pid = 4242, .parentPID = 1, .command = "/usr/bin/vim notes"}};
    };
}

class ClaudeScan : public ::testing::Test {
protected:
    ClaudeHome home;
    const Date now = wholeNow();
    const std::string cwd = home.workDir("shop");
};

} // namespace

TEST_F(ClaudeScan, MissingProjectsFolderIsCompleteAndUnreadableOneIsAnError) {
    ClaudeStatusProvider provider(home.config(), noProcesses());
    auto snapshot = provider.snapshot(now);
    EXPECT_EQ(provider.name(), "Claude Code");
    EXPECT_EQ(snapshot.providerName, "Claude Code");
    EXPECT_EQ(snapshot.state, AgentRunState::complete);
    EXPECT_TRUE(snapshot.errors.empty());
    EXPECT_EQ(snapshot.ignoredStaleSessions, 0);
    EXPECT_FALSE(snapshot.readNothing); // it read that there is nothing

    home.write(home.projects(), "not a folder");
    snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.errors.size(), 1u);
    EXPECT_EQ(snapshot.errors[0], "Claude Code projects folder unreadable: Not a directory");
    EXPECT_NE(snapshot.state, AgentRunState::complete);
    EXPECT_TRUE(snapshot.readNothing);

    if (getuid() != 0) { // root reads any folder
        std::filesystem::remove(home.projects());
        std::filesystem::create_directories(home.projects());
        chmod(home.projects().c_str(), 0);
        snapshot = provider.snapshot(now);
        ASSERT_EQ(snapshot.errors.size(), 1u);
        EXPECT_EQ(snapshot.errors[0], "Claude Code projects folder unreadable: Permission denied");
        chmod(home.projects().c_str(), 0755);
    }
}

TEST_F(ClaudeScan, FreshPromptWithItsEngineIsWorking) {
    // The scan without a reader of its own sees every process on the machine,
    // among them the engines that tests running alongside resume by their
    // session ids: this session's id is this test process's own.
    char ownSid[40];
    std::snprintf(ownSid, sizeof ownSid, "0b6f2d4e-1111-4a2b-9c3d-%012x", unsigned(getpid()));
    const std::string sid = ownSid;
    ChildProcess engine("/bin/sleep", {"claude", "60"}, cwd);
    Transcript t(sid, cwd);
    t.noise(now - 40).prompt("Fix checkout totals\nwith tax", now - 30).assistantText("msg_1", "ok", now - 29);
    t.prompt("also the tests", now - 5).requestBlobs(now - 4);
    home.transcript(cwd, sid, t, now - 4);

    // With and without a reader of its own (the default samples afresh).
    for (bool ownReader : {true, false}) {
        ClaudeStatusProvider provider(home.config(), ownReader ? ProcessSnapshotReader(ownProcesses) : nullptr);
        const auto snapshot = provider.snapshot(now);
        ASSERT_EQ(snapshot.activeSessions.size(), 1u);
        const auto& session = snapshot.activeSessions[0];
        EXPECT_EQ(session.id, sid);
        EXPECT_EQ(session.evidence, "Claude turn awaiting assistant response");
        EXPECT_FALSE(session.needsUserAttention);
        EXPECT_EQ(session.title, "Fix checkout totals");
        EXPECT_EQ(session.cwd, cwd);
        EXPECT_EQ(session.threadSource, "transcript");
        EXPECT_EQ(session.lastActivityAt, now - 5);
        ASSERT_TRUE(session.resourceUsage);
        EXPECT_EQ(session.resourceUsage->pid, engine.pid());
        EXPECT_EQ(session.runtimeProfile->model, "claude-opus-4-5");
        EXPECT_EQ(snapshot.state, AgentRunState::inProgress);
        EXPECT_EQ(snapshot.statusEvidence, "Claude turn awaiting assistant response");
        EXPECT_EQ(snapshot.ignoredStaleSessions, 0);
    }
}

TEST_F(ClaudeScan, PendingToolUseAroundTheStaleWindow) {
    ChildProcess engine("/bin/sleep", {"claude", "60"}, home.workDir("elsewhere"));
    home.registerEngine(engine.pid(), sid);
    for (const auto& [idle, shown] : std::vector<std::pair<double, bool>>{{900, true}, {901, false}}) {
        Transcript t(sid, cwd);
        t.prompt("migrate", now - idle - 5)
            .toolUse("msg_1", "toolu_1", "Bash", {{"command", "make migrate"}}, now - idle);
        home.transcript(cwd, sid, t, now - idle);
        ClaudeStatusProvider provider(home.config(), ownProcesses);
        const auto snapshot = provider.snapshot(now);
        EXPECT_EQ(snapshot.activeSessions.size(), shown ? 1u : 0u) << idle;
        EXPECT_EQ(snapshot.ignoredStaleSessions, shown ? 0 : 1) << idle;
        if (shown) {
            EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude transcript has pending tool use");
        }
    }
}

TEST_F(ClaudeScan, GoneEngineMakesPendingWorkStaleButRecentActivityStillShows) {
    Transcript t(sid, cwd);
    t.prompt("migrate", now - 105).toolUse("msg_1", "toolu_1", "Bash", {{"command", "make"}}, now - 100);
    home.transcript(cwd, sid, t, now - 100);
    ClaudeStatusProvider provider(home.config(), processesWithoutEngines());
    auto snapshot = provider.snapshot(now);
    EXPECT_TRUE(snapshot.activeSessions.empty());
    EXPECT_EQ(snapshot.ignoredStaleSessions, 1);

    // Nothing conversational yet, touched 10 s ago: recent activity.
    Transcript quiet(sid, cwd);
    quiet.record({{"type", "summary"}, {"summary", "Refactor"}, {"leafUuid", "x"}}, false);
    home.transcript(cwd, sid, quiet, now - 10);
    snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude is working");
    EXPECT_EQ(snapshot.activeSessions[0].title, "Claude Code session");
}

TEST_F(ClaudeScan, EndedTurnsAndApiErrorsYieldNothing) {
    ChildProcess engine("/bin/sleep", {"claude", "60"}, cwd);
    Transcript done(sid, cwd);
    done.prompt("hi", now - 31).assistantText("msg_1", "hello", now - 30);
    home.transcript(cwd, sid, done, now - 30);
    Transcript failed("11111111-2222-4333-8444-555555555555", cwd);
    failed.prompt("hi", now - 3);
    failed.assistantBlock("msg_e", {{"type", "text"}, {"text", "API Error: 500"}}, now - 2, "<synthetic>",
                          {{"isApiErrorMessage", true}});
    home.transcript(cwd, "11111111-2222-4333-8444-555555555555", failed, now - 2);
    ClaudeStatusProvider provider(home.config(), ownProcesses);
    const auto snapshot = provider.snapshot(now);
    EXPECT_TRUE(snapshot.activeSessions.empty());
    EXPECT_EQ(snapshot.ignoredStaleSessions, 0);
    EXPECT_EQ(snapshot.state, AgentRunState::complete);
}

TEST_F(ClaudeScan, PendingChoiceWaitsForTheUserWhileItsEngineLives) {
    Transcript t(sid, cwd);
    t.prompt("plan the release", now - 3 * 3600 - 10);
    t.toolUse("msg_1", "toolu_q", "AskUserQuestion", {{"questions", json::array()}}, now - 3 * 3600);
    home.transcript(cwd, sid, t, now - 3 * 3600);
    {
        ChildProcess engine("/bin/bash", {"claude", "-c", "sleep 60; :", "--resume", sid}, home.workDir("other"));
        ClaudeStatusProvider provider(home.config(), ownProcesses);
        const auto snapshot = provider.snapshot(now);
        ASSERT_EQ(snapshot.activeSessions.size(), 1u);
        EXPECT_TRUE(snapshot.activeSessions[0].needsUserAttention);
        EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude is waiting for your choice");
        EXPECT_EQ(snapshot.state, AgentRunState::complete);
    }
    ClaudeStatusProvider provider(home.config(), processesWithoutEngines());
    const auto snapshot = provider.snapshot(now);
    EXPECT_TRUE(snapshot.activeSessions.empty());
    EXPECT_EQ(snapshot.ignoredStaleSessions, 1);
}

TEST_F(ClaudeScan, ScheduledWakeupsKeepTheLoopShownFor900Seconds) {
    for (const auto& [pastDue, shown] : std::vector<std::pair<double, bool>>{{900, true}, {901, false}}) {
        Transcript t(sid, cwd);
        const Date scheduledAt = now - pastDue - 300;
        t.prompt("/loop watch CI", scheduledAt - 5)
            .toolUse("msg_1", "toolu_w", "ScheduleWakeup", {{"delaySeconds", 300}}, scheduledAt - 1);
        t.userBlocks(
            json::array(
                {{{"tool_use_id", "toolu_w"}, {"type", "tool_result"}, {"content", "Wakeup scheduled (in 300s)"}}}),
            scheduledAt);
        t.assistantText("msg_2", "Sleeping until then.", scheduledAt + 1);
        home.transcript(cwd, sid, t, scheduledAt + 1);
        ClaudeStatusProvider provider(home.config(), noProcesses()); // verdict unknown
        const auto snapshot = provider.snapshot(now);
        ASSERT_EQ(snapshot.activeSessions.size(), shown ? 1u : 0u) << pastDue;
        EXPECT_EQ(snapshot.ignoredStaleSessions, 0);
        if (shown) {
            EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude loop sleeping until scheduled wakeup");
        }
    }
}

TEST_F(ClaudeScan, SubagentsGetRowsWithTheirOwnProfiles) {
    ChildProcess engine("/bin/sleep", {"claude", "60"}, cwd);
    Transcript t(sid, cwd);
    t.prompt("review the codebase", now - 60);
    t.toolUse("msg_1", "toolu_a", "Task", {{"description", std::string(100, 'r')}, {"subagent_type", "Explore"}},
              now - 50);
    t.toolUse("msg_1", "toolu_b", "Task", {{"description", "Check tests"}, {"model", "sonnet"}}, now - 50);
    t.record({{"type", "ai-title"}, {"aiTitle", "Codebase review"}, {"sessionId", sid}}, false);
    home.transcript(cwd, sid, t, now - 50);
    // The first sub-agent's own transcript names its launching tool use in a meta file.
    const auto subagentDir = home.projectDir(cwd) / sid / "subagents";
    Transcript side(sid, cwd);
    side.sidechain(true).prompt("explore", now - 49).assistantText("msg_s", "found it", now - 40);
    side.assistantBlock("msg_s2", {{"type", "text"}, {"text", "more"}}, now - 40, "claude-haiku-4-5",
                        {{"effort", "low"}});
    home.write(subagentDir / "agent-a1.jsonl", side.text(), now - 40);
    home.write(subagentDir / "agent-a1.meta.json", R"({"agentType":"Explore","toolUseId":"toolu_a"})");

    ClaudeStatusProvider provider(home.config(), ownProcesses);
    const auto snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 3u);
    const auto& parent = snapshot.activeSessions[0];
    EXPECT_EQ(parent.id, sid);
    EXPECT_EQ(parent.evidence, "Waiting on 2 subagents");
    EXPECT_EQ(parent.title, "Codebase review");
    const auto first = row(snapshot, sid + ":toolu_a");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->title, std::string(80, 'r') + "...");
    EXPECT_EQ(first->parentID, sid);
    EXPECT_EQ(first->parentTitle, "Codebase review");
    EXPECT_EQ(first->agentRole, "Explore");
    EXPECT_EQ(first->threadSource, "subagent");
    EXPECT_EQ(first->evidence, "Claude subagent running");
    EXPECT_EQ(first->runtimeProfile,
              SessionRuntimeProfile("claude-haiku-4-5", "low", SessionRuntimeProfileSource::claudeTranscript));
    const auto second = row(snapshot, sid + ":toolu_b");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->runtimeProfile,
              SessionRuntimeProfile("sonnet", std::nullopt, SessionRuntimeProfileSource::claudeTaskRequest));
    EXPECT_EQ(snapshot.ignoredStaleSessions, 0);
}

namespace {

Transcript backgroundLaunch(const std::string& cwd, Date launchedAt) {
    Transcript t(sid, cwd);
    t.prompt("start the dev server", launchedAt - 5);
    t.toolUse("msg_1", "toolu_s", "Bash",
              {{"command", "npm run dev"}, {"description", "Start dev server"}, {"run_in_background", true}},
              launchedAt);
    t.toolResult("toolu_s", "Command running in background with ID: bg1", launchedAt);
    t.assistantText("msg_2", "The server is starting.", launchedAt + 10);
    return t;
}

} // namespace

TEST_F(ClaudeScan, BackgroundShellRunsWhileItsOutputChangesAndItsShellLives) {
    // The engine runs the task's shell below itself.
    ChildProcess engine("/bin/bash", {"claude", "-c", "exec -a 'shell-snap''shots/snapshot-bash.sh' sleep 30 & wait"},
                        cwd);
    ASSERT_TRUE(waitForCommand("shell-snapshots/"));
    home.transcript(cwd, sid, backgroundLaunch(cwd, now - 7200), now - 7190);
    const auto output = home.tasksTemp() / "claude-0" / home.projectDir(cwd).filename() / sid / "tasks" / "bg1.output";
    home.write(output, "listening on :3000\n", now - 600);

    ClaudeStatusProvider provider(home.config(), ownProcesses);
    auto snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude working on a background task");
    EXPECT_EQ(snapshot.activeSessions[0].backgroundTaskSummary, "Start dev server");
    EXPECT_FALSE(snapshot.activeSessions[0].needsUserAttention);
    EXPECT_GE(snapshot.activeSessions[0].resourceUsage->processCount, 2);

    // Quiet for more than 1800 s: over, and the ended turn is done.
    brindleaf::testing::setFileTime(output, now - 1860);
    snapshot = provider.snapshot(now);
    EXPECT_TRUE(snapshot.activeSessions.empty());
    EXPECT_EQ(snapshot.ignoredStaleSessions, 0);
}

TEST_F(ClaudeScan, LocalTaskWithoutItsShellIsOverEvenWithFreshOutput) {
    ChildProcess engine("/bin/sleep", {"claude", "60"}, cwd);
    home.transcript(cwd, sid, backgroundLaunch(cwd, now - 600), now - 590);
    home.write(home.tasksTemp() / "claude-0" / home.projectDir(cwd).filename() / sid / "tasks" / "bg1.output", "x",
               now - 5);
    ClaudeStatusProvider provider(home.config(), ownProcesses);
    EXPECT_TRUE(provider.snapshot(now).activeSessions.empty());
    // Without process information the output decides.
    ClaudeStatusProvider blind(home.config(), noProcesses());
    EXPECT_EQ(blind.snapshot(now).activeSessions.size(), 1u);
}

TEST_F(ClaudeScan, StartupDeepPassFindsLaunchesBeyondTheRegularTail) {
    Transcript t = backgroundLaunch(cwd, now - 7 * 3600);
    for (int i = 0; i < 120; ++i) {
        t.prompt("question " + std::to_string(i), now - 7 * 3600 + 100 + i * 10);
        t.assistantText("msg_r" + std::to_string(i), std::string(1500, 'a'), now - 7 * 3600 + 105 + i * 10);
    }
    home.transcript(cwd, sid, t, now - 60);
    ASSERT_GT(t.text().size(), ClaudeTranscriptAnalyzer::defaultMaxBytes);
    const auto output = home.tasksTemp() / "claude-0" / home.projectDir(cwd).filename() / sid / "tasks" / "bg1.output";
    home.write(output, "x", now - 60);

    ClaudeStatusProvider provider(home.config(), noProcesses());
    for (int scan = 0; scan < 2; ++scan) { // the launch is carried to the second scan
        const auto snapshot = provider.snapshot(now);
        ASSERT_EQ(snapshot.activeSessions.size(), 1u) << scan;
        EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude working on a background task");
    }
    // A task whose id cannot name a file is not followed.
    Transcript unsafe(sid, cwd);
    unsafe.prompt("ping", now - 100).toolUse("msg_1", "toolu_m", "SendMessage", {{"to", ".."}}, now - 99);
    unsafe.toolResult("toolu_m", "Agent resumed in the background; you will be notified", now - 98);
    unsafe.assistantText("msg_2", "ok", now - 97);
    home.transcript(cwd, "22222222-2222-4222-8222-222222222222", unsafe, now - 97);
    ClaudeStatusProvider fresh(home.config(), noProcesses());
    EXPECT_FALSE(row(fresh.snapshot(now), "22222222-2222-4222-8222-222222222222"));
}

TEST_F(ClaudeScan, DesktopTitlesWinOverTranscriptTitles) {
    ChildProcess engine("/bin/sleep", {"claude", "60"}, cwd);
    Transcript t(sid, cwd);
    t.record({{"type", "ai-title"}, {"aiTitle", "AI title"}}, false).prompt("prompt title", now - 3);
    home.transcript(cwd, sid, t, now - 3);
    const auto desktop = home.root() / ".config" / "Claude";
    home.write(desktop / "claude-code-sessions" / "acct" / "org" / "local_1.json",
               json{{"cliSessionId", sid}, {"title", "Desktop title\nsecond line"}}.dump());
    home.write(desktop / "claude-code-sessions" / "acct" / "local_2.json",
               json{{"cliSessionId", "other"}, {"title", "Too shallow"}}.dump());
    home.write(desktop / "local-agent-mode-sessions" / "a" / "b" / "local_3.json",
               json{{"cliSessionId", "x"}, {"title", ""}}.dump());
    home.write(desktop / "local-agent-mode-sessions" / "a" / "b" / "local_4.json.bak",
               json{{"cliSessionId", "y"}, {"title", "Backup"}}.dump());
    ClaudeStatusProvider provider(home.config(), ownProcesses);
    const auto snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].title, "Desktop title");
    EXPECT_EQ(provider.desktopTitles(), (std::map<std::string, std::string>{{sid, "Desktop title\nsecond line"}}));
}

TEST_F(ClaudeScan, ListingSkipsHiddenLinksAndOtherSuffixesAndReusesItsWalk) {
    const auto project = home.projectDir(cwd);
    for (int i = 0; i < 5; ++i) home.write(project / ("s" + std::to_string(i) + ".jsonl"), "{}\n", now - 100 + i);
    home.write(project / ".hidden.jsonl", "{}\n", now);
    home.write(project / "caps.JSONL", "{}\n", now);
    home.write(project / "plain.json", "{}\n", now);
    home.write(home.projects() / ".cache" / "deep.jsonl", "{}\n", now);
    std::filesystem::create_symlink(project / "s0.jsonl", project / "link.jsonl");
    std::filesystem::create_directories(project / sid / "subagents");

    auto config = home.config(1000);
    config.transcriptLimit = 3;
    ClaudeStatusProvider provider(config, noProcesses());
    auto names = [&] {
        std::vector<std::string> list;
        for (const auto& file : provider.listTranscripts(home.projects().string()))
            list.push_back(std::filesystem::path(file.path).filename().string());
        return list;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"s4.jsonl", "s3.jsonl", "s2.jsonl"}));
    // Appending to a kept file reorders at once; a new file in a project folder forces a walk.
    home.write(project / "s0.jsonl", "{}\n{}\n", now - 1);
    EXPECT_EQ(names(), (std::vector<std::string>{"s0.jsonl", "s4.jsonl", "s3.jsonl"}));
    home.write(project / "new.jsonl", "{}\n", now);
    EXPECT_EQ(names().front(), "new.jsonl");
    // A sub-agent transcript deeper down waits for the interval.
    home.write(project / sid / "subagents" / "agent-z.jsonl", "{}\n", now + 5);
    EXPECT_EQ(names().front(), "new.jsonl");
    ClaudeProviderConfig walkingConfig(config.claudeHome, 20, 900, 28800, 1800, config.tasksTempRoot, 0,
                                       config.desktopSessionsHome, -3);
    ClaudeStatusProvider walking(walkingConfig, noProcesses());
    EXPECT_EQ(walking.config().transcriptRescanInterval, 0);
    const auto listed = walking.listTranscripts(home.projects().string());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(std::filesystem::path(listed[0].path).filename(), "agent-z.jsonl");
}

TEST(ClaudeEngineLiveness, CommandLinesKeysAndResumeArguments) {
    for (const char* engine : {"/usr/local/bin/claude --resume x", "claude", "claude 60",
                               "node /opt/lib/claude-code/cli.js", "/home/u/.local/bin/claude", "/x/claudex /y/claude"})
        EXPECT_TRUE(isClaudeEngineCommand(engine)) << engine;
    for (const char* other : {"claudette", "/opt/claude/bin/tool", "Claude", "/usr/bin/claude2"})
        EXPECT_FALSE(isClaudeEngineCommand(other)) << other;
    EXPECT_FALSE(
        ClaudeEngineLivenessIndex::isEngineProcessCommand("/Applications/X.app/Contents/Helpers/disclaimer claude"));
    EXPECT_EQ(ClaudeEngineLivenessIndex::projectKey("/a b/\xc3\xbc/my_app.v2/\xf0\x9f\x98\x80"), "-a-b---my-app-v2---");
    EXPECT_EQ(ClaudeEngineLivenessIndex::resumeSessionID("claude  --resume   abc"), "abc");
    EXPECT_EQ(ClaudeEngineLivenessIndex::resumeSessionID("claude --resume=def --resume ghi"), "def");
    EXPECT_FALSE(ClaudeEngineLivenessIndex::resumeSessionID("claude --resume -c"));
    EXPECT_FALSE(ClaudeEngineLivenessIndex::resumeSessionID("claude --resume="));
    EXPECT_FALSE(ClaudeEngineLivenessIndex::resumeSessionID("claude --resume"));
}

TEST(ClaudeEngineLiveness, VerdictsClaimsAndShellTasks) {
    using S = ProcessResourceSample;
    const std::vector<S> samples{
        {.pid = 10, .parentPID = 1, .residentMemoryBytes = 100, .command = "claude", .cwd = "/w/a"},
        {.pid = 11, .parentPID = 1, .residentMemoryBytes = 100, .command = "claude --resume s2", .cwd = "/w/a"},
        {.pid = 12,
         .parentPID = 10,
         .residentMemoryBytes = 5,
         .command = "/bin/zsh -c source ~/.claude/shell-snapshots/s.sh"},
        {.pid = 13, .parentPID = 1, .command = "claude"},
    };
    const auto index = ClaudeEngineLivenessIndex::build(samples, {{10, "s1"}, {99, "dead"}});
    const ClaudeEngineKey keyA{"-w-a", std::nullopt};
    const ClaudeEngineKey keyB{"-w-b", "-w-a"};
    const ClaudeEngineKey keyC{"-w-c", std::nullopt};
    EXPECT_EQ(index.engineGoneVerdict("s1", keyC, false), false);
    EXPECT_EQ(index.engineGoneVerdict("dead", keyA, true), false);
    EXPECT_EQ(index.engineGoneVerdict("dead", keyA, false), true);
    EXPECT_EQ(index.engineGoneVerdict(std::nullopt, ClaudeEngineKey{}, false), std::nullopt);
    EXPECT_TRUE(index.hasEngineInCandidateCwd(keyB));
    EXPECT_EQ(index.resolvedEngineKey(keyB), "-w-a");
    EXPECT_EQ(index.shellTaskVerdict(keyA), true);
    EXPECT_EQ(index.shellTaskVerdict(keyC), false);
    EXPECT_EQ(index.engineResourceUsage("s1", keyC)->processCount, 2); // the engine and its shell
    EXPECT_EQ(index.engineResourceUsage("s1", keyC)->residentMemoryBytes, 105);
    EXPECT_FALSE(index.engineResourceUsage("unknown", keyA)); // both engines of the project are claimed

    // Engines without working directories leave every verdict open.
    const auto blind = ClaudeEngineLivenessIndex::build({samples[3]}, {});
    EXPECT_EQ(blind.engineGoneVerdict("x", keyA, false), std::nullopt);
    EXPECT_FALSE(blind.hasEngineInCandidateCwd(keyA));
    const auto empty = ClaudeEngineLivenessIndex::build({}, {});
    EXPECT_EQ(empty.engineGoneVerdict("x", keyA, false), std::nullopt);
    EXPECT_EQ(empty.shellTaskVerdict(keyA), std::nullopt);

    // One engine in a project claims the transcript with the latest activity.
    ClaudeStatusProvider::AnalyzedTranscript older, newer, elsewhere;
    older.transcript.path = "/p/-w-x/old.jsonl";
    older.lastActivity = 100;
    newer.transcript.path = "/p/-w-x/new.jsonl";
    newer.lastActivity = 200;
    elsewhere.transcript.path = "/p/-w-y/e.jsonl";
    older.engineKey = newer.engineKey = ClaudeEngineKey{"-w-x", std::nullopt};
    elsewhere.engineKey = ClaudeEngineKey{"-w-y", std::nullopt};
    const auto single =
        ClaudeEngineLivenessIndex::build({{.pid = 20, .parentPID = 1, .command = "claude", .cwd = "/w/x"}}, {});
    EXPECT_EQ(ClaudeStatusProvider::engineClaimedTranscripts({older, newer, elsewhere}, single),
              (std::set<std::string>{"/p/-w-x/new.jsonl"}));
}

TEST_F(ClaudeScan, RegistryFilesAreReadSafelyAndStrictly) {
    const auto sessions = home.claudeHome() / "sessions";
    home.write(sessions / "1.json", R"({"pid": 4242, "sessionId": "abc"})");
    home.write(sessions / "2.json", R"({"pid": "4243", "sessionId": "def"})");
    home.write(sessions / "3.json", R"({"pid": 4244, "sessionId": ""})");
    home.write(sessions / "4.json", R"({"pid": 1e300, "sessionId": "huge"})");
    home.write(sessions / "5.json", R"({"pid": 4245.0, "sessionId": "real"})");
    home.write(sessions / "notes.txt", R"({"pid": 4246, "sessionId": "txt"})");
    home.write(sessions / "6.json", "[1,2]");
    ASSERT_EQ(mkfifo((sessions / "fifo.json").c_str(), 0600), 0); // never waited on
    ClaudeStatusProvider provider(home.config(), noProcesses());
    EXPECT_EQ(provider.readSessionPIDs(sessions.string()),
              (std::map<int64_t, std::string>{{4242, "abc"}, {4245, "real"}}));
}

TEST_F(ClaudeScan, CarriedLaunchesSettleRelaunchAndEndWithInterruptsOrTheirSession) {
    ClaudeStatusProvider provider(home.config(), noProcesses());
    const auto index = ClaudeEngineLivenessIndex::build({}, {});
    ClaudeStatusProvider::AnalyzedTranscript transcript;
    transcript.transcript.path = (home.projectDir(cwd) / (sid + ".jsonl")).string();
    transcript.state.sessionID = sid;
    transcript.lastActivity = now - 60;
    transcript.state.pendingBackgroundTasks = {{"t1", now - 600}, {"t2", now - 500}};
    using Launches = ClaudeStatusProvider::BackgroundLaunches;
    EXPECT_EQ(provider.runningBackgroundTasks({transcript}, index, now),
              (Launches{{sid, {{"t1", now - 600}, {"t2", now - 500}}}}));

    // The tail moved on: the launches are carried; t1 settled, t2 settled before a relaunch.
    transcript.state.pendingBackgroundTasks = {{"t2", now - 100}};
    transcript.state.settledBackgroundTasks = {{"t1", now - 300}, {"t2", now - 200}};
    EXPECT_EQ(provider.runningBackgroundTasks({transcript}, index, now), (Launches{{sid, {{"t2", now - 100}}}}));
    transcript.state.pendingBackgroundTasks.clear();
    transcript.state.settledBackgroundTasks.clear();
    EXPECT_EQ(provider.runningBackgroundTasks({transcript}, index, now), (Launches{{sid, {{"t2", now - 100}}}}));
    // Launched more than 28800 s before now: over.
    EXPECT_TRUE(provider.runningBackgroundTasks({transcript}, index, now + 28800).empty());

    transcript.state.pendingBackgroundTasks = {{"t3", now - 50}};
    provider.runningBackgroundTasks({transcript}, index, now);
    transcript.state.tailSawInterrupt = true; // an interrupt ends everything carried
    EXPECT_TRUE(provider.runningBackgroundTasks({transcript}, index, now).empty());
    transcript.state.tailSawInterrupt = false;
    transcript.state.pendingBackgroundTasks.clear();
    EXPECT_TRUE(provider.runningBackgroundTasks({transcript}, index, now).empty());

    transcript.state.pendingBackgroundTasks = {{"t4", now - 50}};
    provider.runningBackgroundTasks({transcript}, index, now);
    EXPECT_TRUE(provider.runningBackgroundTasks({}, index, now).empty()); // the session left the listing
    transcript.state.pendingBackgroundTasks.clear();
    EXPECT_TRUE(provider.runningBackgroundTasks({transcript}, index, now).empty());
}
