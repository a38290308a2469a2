// What a running Claude Code engine says of itself in its session registry
// file, against what its transcript says.
#include "platform/ProcFsProcessTable.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "tests/providers/claude/ClaudeScanSupport.hpp"
#include "tests/support/ChildProcess.hpp"

#include <gtest/gtest.h>

#include <cstdio>

using namespace brindleaf;
using namespace brindleaf::claudefixtures;
using brindleaf::testing::ChildProcess;

namespace {

const std::string sid = "7c1e9a52-3d4b-4f60-8a71-92b3c4d5e6f7";

// The start ticks of a running process, read as the engine reads its own.
std::string procStartOf(pid_t pid) {
    const auto ticks = ProcFsProcessTable().startTicks(pid);
    EXPECT_TRUE(ticks) << "no start time for " << pid;
    return std::to_string(ticks.value_or(0));
}

// One registry file shaped as Claude Code 2.1.341 writes it: the keys in its
// order, "status" and "waitingFor" only when it has them.
struct RegistryFile {
    int64_t pid = 0;
    std::string sessionID = sid;
    std::string cwd = "/home/u/proj";
    std::optional<std::string> procStart{};
    std::optional<std::string> status{};
    std::optional<std::string> waitingFor{};
    std::optional<std::string> name = "fix-checkout";
    std::string entrypoint = "cli";
    Date changedAt = 1765380100; // seconds

    std::string text() const {
        nlohmann::ordered_json file;
        file["pid"] = pid;
        file["sessionId"] = sessionID;
        file["cwd"] = cwd;
        file["startedAt"] = 1765380000000;
        if (procStart) file["procStart"] = *procStart;
        file["version"] = "2.1.341";
        file["kind"] = entrypoint == "cli" ? "interactive" : "sdk";
        file["entrypoint"] = entrypoint;
        file["tmux"] = "main:@1.%3";
        file["messagingSocketPath"] = "/tmp/claude-msg-" + std::to_string(pid) + ".sock";
        if (name) file["name"] = *name;
        if (status) file["status"] = *status;
        if (waitingFor) file["waitingFor"] = *waitingFor;
        const auto ms = static_cast<int64_t>(changedAt * 1000);
        file["updatedAt"] = ms;
        if (status) file["statusUpdatedAt"] = ms;
        return file.dump();
    }
};

class ClaudeLiveStatus : public ::testing::Test {
protected:
    ClaudeHome home;
    const Date now = wholeNow();
    const std::string cwd = home.workDir("shop");
    ChildProcess engine{"/bin/sleep", {"claude", "60"}, cwd};

    std::filesystem::path registryPath(int64_t pid) const {
        return home.claudeHome() / "sessions" / (std::to_string(pid) + ".json");
    }
    // The engine's own file; its modification time follows the status change.
    void publish(RegistryFile file) const {
        if (!file.pid) file.pid = engine.pid();
        if (!file.procStart) file.procStart = procStartOf(engine.pid());
        file.cwd = cwd;
        home.write(registryPath(file.pid), file.text(), file.changedAt);
    }
    void publish(const std::optional<std::string>& status, const std::optional<std::string>& waitingFor = {}) const {
        publish(RegistryFile{.status = status, .waitingFor = waitingFor, .changedAt = now - 1});
    }
    ProviderSnapshot scan() const {
        ClaudeStatusProvider provider(home.config(), ownProcesses);
        return provider.snapshot(now);
    }
};

// Transcripts at the rules' edges.
Transcript openTurn(const std::string& cwd, Date at) {
    Transcript t(sid, cwd);
    t.prompt("fix the checkout totals", at - 2).requestBlobs(at);
    return t;
}
Transcript endedTurn(const std::string& cwd, Date at) {
    Transcript t(sid, cwd);
    t.prompt("fix the checkout totals", at - 5).assistantText("msg_1", "Done.", at);
    return t;
}
Transcript pendingTool(const std::string& cwd, Date at) {
    Transcript t(sid, cwd);
    t.prompt("fix the checkout totals", at - 5).toolUse("msg_1", "toolu_b", "Bash", {{"command", "make migrate"}}, at);
    return t;
}
Transcript pendingQuestion(const std::string& cwd, Date at) {
    Transcript t(sid, cwd);
    t.prompt("fix the checkout totals", at - 5)
        .toolUse("msg_1", "toolu_q", "AskUserQuestion", {{"questions", json::array()}}, at);
    return t;
}
Transcript sleepingLoop(const std::string& cwd, Date at) {
    Transcript t(sid, cwd);
    t.prompt("fix the checkout totals", at - 10)
        .toolUse("msg_1", "toolu_w", "ScheduleWakeup", {{"delaySeconds", 300}}, at - 5);
    t.userBlocks(
        json::array({{{"tool_use_id", "toolu_w"}, {"type", "tool_result"}, {"content", "Wakeup scheduled (in 300s)"}}}),
        at - 4);
    // The engine was stopped while a later tool use was still unanswered.
    t.toolUse("msg_2", "toolu_x", "Bash", {{"command", "gh run watch"}}, at);
    return t;
}

} // namespace

TEST_F(ClaudeLiveStatus, TheEnginesStatusDecidesOverTheTranscriptWhileItsProcessRuns) {
    using Make = Transcript (*)(const std::string&, Date);
    struct Case {
        const char* what;
        Make transcript;
        double idle;
        std::optional<std::string> status;
        std::optional<std::string> waitingFor;
        std::optional<std::string> evidence; // absent: no row
        bool needsUser;
    };
    const std::vector<Case> cases = {
        {"waiting over an open turn", openTurn, 3, "waiting", "permission prompt",
         "Claude Code waits for a permission prompt", true},
        {"waiting over an ended turn", endedTurn, 40, "waiting", "input needed", "Claude Code waits for your answer",
         true},
        {"waiting for hours", endedTurn, 7200, "waiting", "dialog open", "Claude Code shows a dialog", true},
        {"waiting for something new", pendingTool, 3, "waiting", "sandbox approval", "Claude Code waits for you", true},
        {"waiting without a reason", pendingTool, 3, "waiting", std::nullopt, "Claude Code waits for you", true},
        {"busy over an ended turn", endedTurn, 40, "busy", std::nullopt, "Claude is working", false},
        {"busy past the stale window", endedTurn, 2000, "busy", std::nullopt, "Claude is working", false},
        {"busy over a pending question", pendingQuestion, 3, "busy", std::nullopt,
         "Claude transcript has pending tool use", false},
        {"idle over a pending tool use", pendingTool, 3, "idle", std::nullopt, std::nullopt, false},
        {"idle over an open turn", openTurn, 1, "idle", std::nullopt, std::nullopt, false},
        {"idle over a pending question", pendingQuestion, 3, "idle", std::nullopt, std::nullopt, false},
        {"idle with a scheduled wakeup", sleepingLoop, 60, "idle", std::nullopt,
         "Claude loop sleeping until scheduled wakeup", false},
        {"an unknown status", pendingTool, 3, "compacting", std::nullopt, "Claude transcript has pending tool use",
         false},
        // Before the first prompt there is no status: the transcript rules stand.
        {"no status, pending tool use", pendingTool, 3, std::nullopt, std::nullopt,
         "Claude transcript has pending tool use", false},
        {"no status, pending question", pendingQuestion, 3, std::nullopt, std::nullopt,
         "Claude is waiting for your choice", true},
        {"no status, ended turn", endedTurn, 40, std::nullopt, std::nullopt, std::nullopt, false},
    };
    for (const Case& c : cases) {
        home.transcript(cwd, sid, c.transcript(cwd, now - c.idle), now - c.idle);
        publish(c.status, c.waitingFor);
        const auto snapshot = scan();
        ASSERT_EQ(snapshot.activeSessions.size(), c.evidence ? 1u : 0u) << c.what;
        EXPECT_EQ(snapshot.ignoredStaleSessions, 0) << c.what;
        if (!c.evidence) continue;
        const AgentSession& session = snapshot.activeSessions[0];
        EXPECT_EQ(session.evidence, *c.evidence) << c.what;
        EXPECT_EQ(session.needsUserAttention, c.needsUser) << c.what;
        EXPECT_EQ(session.title, "fix the checkout totals") << c.what; // from the transcript, as before
        EXPECT_EQ(session.rolloutPath, (home.projectDir(cwd) / (sid + ".jsonl")).string()) << c.what;
        ASSERT_TRUE(session.resourceUsage) << c.what;
        EXPECT_EQ(session.resourceUsage->pid, engine.pid()) << c.what;
        // Strong evidence: the ledger keeps it without a lease.
        ASSERT_EQ(snapshot.runEvidence.size(), 1u) << c.what;
        EXPECT_EQ(snapshot.runEvidence[0].strength, RunEvidenceStrength::strongActive) << c.what;
    }
}

TEST_F(ClaudeLiveStatus, AStatusCountsOnlyForTheProcessThatWroteIt) {
    home.transcript(cwd, sid, pendingTool(cwd, now - 3), now - 3);
    // A pid taken by another process since: another start time.
    const uint64_t ticks = std::stoull(procStartOf(engine.pid()));
    publish(
        RegistryFile{.procStart = std::to_string(ticks + 1), .status = "waiting", .waitingFor = "permission prompt"});
    auto snapshot = scan();
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude transcript has pending tool use");
    EXPECT_FALSE(snapshot.activeSessions[0].needsUserAttention);
    // Nor does it tie the session to that process.
    ClaudeStatusProvider provider(home.config(), ownProcesses);
    EXPECT_TRUE(provider.readSessionPIDs((home.claudeHome() / "sessions").string()).empty());

    // A file of an older version, without a start time: no status counts, the pid still names the session.
    RegistryFile old{.pid = engine.pid(), .status = "waiting", .waitingFor = "permission prompt"};
    old.cwd = cwd;
    home.write(registryPath(engine.pid()), old.text(), now - 0.5);
    EXPECT_EQ(provider.readSessionPIDs((home.claudeHome() / "sessions").string()),
              (std::map<int64_t, std::string>{{engine.pid(), sid}}));
    snapshot = scan();
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_FALSE(snapshot.activeSessions[0].needsUserAttention);

    // The engine killed while it waited leaves its file behind, "waiting" for ever.
    publish("waiting", "permission prompt");
    EXPECT_TRUE(scan().activeSessions[0].needsUserAttention);
    engine.kill();
    snapshot = scan();
    ASSERT_EQ(snapshot.activeSessions.size(), 1u); // the transcript's recent pending tool use
    EXPECT_FALSE(snapshot.activeSessions[0].needsUserAttention);
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude transcript has pending tool use");
}

TEST_F(ClaudeLiveStatus, AFileCaughtHalfRewrittenLeavesTheLastWholeOneStanding) {
    home.transcript(cwd, sid, openTurn(cwd, now - 3), now - 3);
    ClaudeStatusProvider provider(home.config(), ownProcesses);
    const auto path = registryPath(engine.pid());
    const RegistryFile waiting{.pid = engine.pid(),
                               .procStart = procStartOf(engine.pid()),
                               .status = "waiting",
                               .waitingFor = "permission prompt",
                               .changedAt = now - 2};
    home.write(path, waiting.text(), now - 2);
    ASSERT_TRUE(provider.snapshot(now).activeSessions.at(0).needsUserAttention);

    // The engine wrote "idle" over it but has not cut the file yet: the old,
    // longer text's end follows the new one.
    RegistryFile idle = waiting;
    idle.status = "idle";
    idle.waitingFor.reset();
    idle.name.reset();
    idle.changedAt = now - 1;
    const std::string whole = waiting.text();
    std::string torn = idle.text();
    ASSERT_LT(torn.size(), whole.size());
    torn += whole.substr(torn.size());
    home.write(path, torn, now - 1);
    auto snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_TRUE(snapshot.activeSessions[0].needsUserAttention);
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude Code waits for a permission prompt");

    // Cut to length: the new text counts.
    home.write(path, idle.text(), now);
    EXPECT_TRUE(provider.snapshot(now).activeSessions.empty());

    // A provider that never saw the file whole knows nothing of it yet: the
    // transcript rules decide, and the pid does not name the session.
    home.write(path, torn, now);
    ClaudeStatusProvider fresh(home.config(), ownProcesses);
    snapshot = fresh.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude turn awaiting assistant response");
    EXPECT_FALSE(ClaudeSessionRegistryEntry::parse(torn));
    EXPECT_TRUE(ClaudeSessionRegistryEntry::parse(idle.text()));
}

TEST_F(ClaudeLiveStatus, RegistryFieldsAreReadAsTheEngineWritesThem) {
    RegistryFile file{.pid = 12345,
                      .procStart = "1234567",
                      .status = "waiting",
                      .waitingFor = "permission prompt",
                      .name = "checkout-fix",
                      .changedAt = 1765380123.456};
    const auto entry = ClaudeSessionRegistryEntry::parse(file.text());
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->pid, 12345);
    EXPECT_EQ(entry->sessionID, sid);
    EXPECT_EQ(entry->cwd, "/home/u/proj");
    EXPECT_EQ(entry->procStart, 1234567u);
    EXPECT_EQ(entry->status, ClaudeSessionRegistryEntry::Status::waiting);
    EXPECT_EQ(entry->waitingFor, "permission prompt");
    EXPECT_DOUBLE_EQ(*entry->statusUpdatedAt, 1765380123.456);
    EXPECT_DOUBLE_EQ(*entry->updatedAt, 1765380123.456);
    EXPECT_EQ(entry->entrypoint, "cli");
    EXPECT_EQ(entry->name, "checkout-fix");
    for (const auto& [status, expected] : std::vector<std::pair<std::string, ClaudeSessionRegistryEntry::Status>>{
             {"busy", ClaudeSessionRegistryEntry::Status::busy}, {"idle", ClaudeSessionRegistryEntry::Status::idle}}) {
        file.status = status;
        EXPECT_EQ(ClaudeSessionRegistryEntry::parse(file.text())->status, expected);
    }
    file.status.reset(); // before the first prompt
    EXPECT_FALSE(ClaudeSessionRegistryEntry::parse(file.text())->status);
    file.procStart = "12a";
    EXPECT_FALSE(ClaudeSessionRegistryEntry::parse(file.text())->procStart);
    EXPECT_FALSE(ClaudeSessionRegistryEntry::parse(""));
    EXPECT_FALSE(ClaudeSessionRegistryEntry::parse(file.text().substr(0, 40)));
}

TEST_F(ClaudeLiveStatus, AnEngineWithoutATranscriptShowsFromItsFile) {
    // A first start: the folder of projects does not exist yet.
    const RegistryFile dialog{.status = "waiting", .waitingFor = "dialog open", .name = std::nullopt};
    publish(dialog);
    auto snapshot = scan();
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    AgentSession session = snapshot.activeSessions[0];
    EXPECT_EQ(session.id, sid);
    EXPECT_EQ(session.title, "Claude Code session");
    EXPECT_EQ(session.cwd, cwd);
    EXPECT_EQ(session.evidence, "Claude Code shows a dialog");
    EXPECT_TRUE(session.needsUserAttention);
    EXPECT_EQ(session.lastActivityAt, dialog.changedAt);
    EXPECT_FALSE(session.rolloutPath);
    EXPECT_EQ(snapshot.state, AgentRunState::complete);

    // With projects of other sessions; named; working.
    Transcript other("1d2e3f40-0000-4000-8000-00000000000a", cwd);
    other.prompt("an earlier session", now - 45).assistantText("msg_1", "Done.", now - 40);
    home.transcript(cwd, "1d2e3f40-0000-4000-8000-00000000000a", other, now - 40);
    publish(RegistryFile{.status = "busy", .name = "first-run", .changedAt = now - 1});
    snapshot = scan();
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    session = snapshot.activeSessions[0];
    EXPECT_EQ(session.title, "first-run");
    EXPECT_EQ(session.evidence, "Claude is working");
    EXPECT_FALSE(session.needsUserAttention);
    ASSERT_TRUE(session.resourceUsage);
    EXPECT_EQ(session.resourceUsage->pid, engine.pid());
    EXPECT_EQ(snapshot.state, AgentRunState::inProgress);

    // Idle, it has nothing to show; nor has a file whose process is gone.
    publish(RegistryFile{.status = "idle", .changedAt = now});
    EXPECT_TRUE(scan().activeSessions.empty());
    publish(RegistryFile{.status = "busy", .changedAt = now});
    engine.kill();
    EXPECT_TRUE(scan().activeSessions.empty());
}

TEST_F(ClaudeLiveStatus, SubagentTranscriptsFollowTheirSessionsStatus) {
    // The main transcript waits on a sub-agent whose own transcript is newer and active.
    Transcript main(sid, cwd);
    main.prompt("review the code", now - 30)
        .toolUse("msg_1", "toolu_a", "Task", {{"description", "Explore the tests"}, {"subagent_type", "Explore"}},
                 now - 29);
    home.transcript(cwd, sid, main, now - 29);
    Transcript side(sid, cwd);
    side.sidechain(true).prompt("explore", now - 28).toolUse("msg_s", "toolu_s", "Bash", {{"command", "ls"}}, now - 2);
    home.write(home.projectDir(cwd) / sid / "subagents" / "agent-a1.jsonl", side.text(), now - 2);

    // Busy: as before, the session, its sub-agent row and the newer sub-agent transcript's row.
    publish("busy");
    auto snapshot = scan();
    ASSERT_EQ(snapshot.activeSessions.size(), 2u);
    EXPECT_EQ(snapshot.activeSessions[0].id, sid);
    EXPECT_EQ(snapshot.activeSessions[0].rolloutPath,
              (home.projectDir(cwd) / sid / "subagents" / "agent-a1.jsonl").string());
    EXPECT_EQ(snapshot.activeSessions[1].id, sid + ":toolu_a");

    // Waiting (the sub-agent's tool asks for permission): one row, the session's, waiting.
    publish("waiting", "permission prompt");
    snapshot = scan();
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].id, sid);
    EXPECT_TRUE(snapshot.activeSessions[0].needsUserAttention);
    EXPECT_EQ(snapshot.activeSessions[0].rolloutPath, (home.projectDir(cwd) / (sid + ".jsonl")).string());
    EXPECT_EQ(snapshot.state, AgentRunState::complete);

    // Idle (stopped with Esc): the turn and its sub-agents are over.
    publish("idle");
    snapshot = scan();
    EXPECT_TRUE(snapshot.activeSessions.empty());
    EXPECT_EQ(snapshot.ignoredStaleSessions, 0);
}

TEST_F(ClaudeLiveStatus, IdleKeepsABackgroundTaskShownAsTheTranscriptRulesSay) {
    // The engine runs the task's shell below itself.
    ChildProcess shellEngine("/bin/bash",
                             {"claude", "-c", "exec -a 'shell-snap''shots/snapshot-bash.sh' sleep 30 & wait"}, cwd);
    ASSERT_TRUE(waitForCommand("shell-snapshots/"));
    Transcript t(sid, cwd);
    t.prompt("start the dev server", now - 65);
    t.toolUse("msg_1", "toolu_s", "Bash",
              {{"command", "npm run dev"}, {"description", "Start dev server"}, {"run_in_background", true}}, now - 60);
    t.toolResult("toolu_s", "Command running in background with ID: bg1", now - 60);
    t.toolUse("msg_2", "toolu_c", "Bash", {{"command", "curl localhost:3000"}}, now - 50); // never answered
    home.transcript(cwd, sid, t, now - 50);
    home.write(home.tasksTemp() / "claude-0" / home.projectDir(cwd).filename() / sid / "tasks" / "bg1.output",
               "listening on :3000\n", now - 30);
    publish(RegistryFile{.pid = shellEngine.pid(), .procStart = procStartOf(shellEngine.pid())});
    ASSERT_EQ(scan().activeSessions.at(0).evidence, "Claude transcript has pending tool use");
    publish(RegistryFile{.pid = shellEngine.pid(), .procStart = procStartOf(shellEngine.pid()), .status = "idle"});
    const auto snapshot = scan();
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude working on a background task");
    EXPECT_FALSE(snapshot.activeSessions[0].needsUserAttention);
    EXPECT_EQ(snapshot.activeSessions[0].backgroundTaskSummary, "Start dev server");
}

// The tray keeps one provider with reused listings and cached process
// samples; the command line makes a fresh one per run. Over a session's
// changes both give the same rows.
TEST_F(ClaudeLiveStatus, TheTraysProviderAndAOneShotOneAgreeAsTheFilesChange) {
    ClaudeStatusProvider tray(home.config(10), ProcessResourceSampler::cachedReader(10));
    struct Step {
        Transcript (*transcript)(const std::string&, Date);
        std::optional<std::string> status;
        std::optional<std::string> waitingFor;
        std::optional<bool> needsUser; // absent: no row
    };
    const std::vector<Step> steps = {
        {nullptr, std::nullopt, std::nullopt, std::nullopt},   // started, no transcript
        {nullptr, "waiting", "dialog open", true},             // a dialog at first start
        {openTurn, "busy", std::nullopt, false},               // the first prompt
        {pendingTool, "waiting", "permission prompt", true},   // a Bash call to approve
        {pendingTool, "busy", std::nullopt, false},            // approved
        {endedTurn, "idle", std::nullopt, std::nullopt},       // done
        {pendingQuestion, "waiting", "input needed", true},    // a question
        {pendingQuestion, "idle", std::nullopt, std::nullopt}, // Esc
    };
    // The cached samples include the engine once a refresh has run.
    ProcessResourceSampler::testing::reset(); // a list cached by an earlier test would lack the engine
    ProcessResourceSampler::cachedSampleList(10);
    ASSERT_TRUE(ProcessResourceSampler::testing::waitForCacheRefresh(60)) << "the process cache never refreshed";
    Date at = now - 100;
    for (size_t i = 0; i < steps.size(); ++i) {
        at += 5;
        if (steps[i].transcript) home.transcript(cwd, sid, steps[i].transcript(cwd, at), at);
        publish(RegistryFile{.status = steps[i].status, .waitingFor = steps[i].waitingFor, .changedAt = at});
        const auto fromTray = tray.snapshot(now);
        ClaudeStatusProvider oneShot(home.config(0), ProcessResourceSampler::freshReader());
        const auto fromOneShot = oneShot.snapshot(now);
        ASSERT_EQ(fromTray.activeSessions.size(), steps[i].needsUser ? 1u : 0u) << i;
        ASSERT_EQ(fromOneShot.activeSessions.size(), fromTray.activeSessions.size()) << i;
        if (steps[i].needsUser) {
            EXPECT_EQ(fromTray.activeSessions[0].needsUserAttention, *steps[i].needsUser) << i;
        }
        for (size_t row = 0; row < fromTray.activeSessions.size(); ++row) {
            const AgentSession& a = fromTray.activeSessions[row];
            const AgentSession& b = fromOneShot.activeSessions[row];
            EXPECT_EQ(a.id, b.id) << i;
            EXPECT_EQ(a.evidence, b.evidence) << i;
            EXPECT_EQ(a.needsUserAttention, b.needsUserAttention) << i;
            EXPECT_EQ(a.title, b.title) << i;
            EXPECT_EQ(a.rolloutPath, b.rolloutPath) << i;
            EXPECT_EQ(a.lastActivityAt, b.lastActivityAt) << i;
            EXPECT_EQ(a.resourceUsage.has_value(), b.resourceUsage.has_value()) << i;
        }
        EXPECT_EQ(fromTray.state, fromOneShot.state) << i;
        EXPECT_EQ(fromTray.ignoredStaleSessions, fromOneShot.ignoredStaleSessions) << i;
    }
}
