// Whole scans through the provider's snapshot, on real databases and files.
#include "core/SQLiteReader.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "tests/providers/codex/CodexFixtures.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

constexpr Date now = 1'700'000'000.0;
constexpr int64_t nowSeconds = 1'700'000'000;

CodexOfficialThreadStatus official(std::string id, CodexOfficialThreadRunState state,
                                   std::optional<std::string> title = std::nullopt) {
    CodexOfficialThreadStatus status;
    status.id = std::move(id);
    status.state = state;
    status.title = std::move(title);
    return status;
}

std::map<std::string, AgentSession> byID(const ProviderSnapshot& snapshot) {
    std::map<std::string, AgentSession> sessions;
    for (const auto& session : snapshot.activeSessions) sessions.emplace(session.id, session);
    return sessions;
}

std::vector<std::string> sessionIDs(const ProviderSnapshot& snapshot) {
    std::vector<std::string> ids;
    for (const auto& session : snapshot.activeSessions) ids.push_back(session.id);
    return ids;
}

const RunEvidence* evidenceFor(const ProviderSnapshot& snapshot, const std::string& sessionID) {
    for (const auto& item : snapshot.runEvidence)
        if (item.sessionID == sessionID) return &item;
    return nullptr;
}

class CodexScan : public ::testing::Test {
protected:
    CodexStatusProvider makeProvider() { return CodexStatusProvider(fixture.config(), noProcesses(), probe); }

    CodexHomeFixture fixture;
    std::shared_ptr<FakeOfficialProbe> probe = std::make_shared<FakeOfficialProbe>();
};

} // namespace

TEST_F(CodexScan, WithoutStateDatabaseOnlyOfficialThreadsCount) {
    auto provider = makeProvider();
    auto empty = provider.snapshot(now);
    EXPECT_TRUE(empty.activeSessions.empty());
    EXPECT_EQ(empty.state, AgentRunState::unknown);
    EXPECT_EQ(empty.errors, std::vector<std::string>{"Codex state sqlite not found"});
    EXPECT_EQ(empty.statusEvidence, "Codex state sqlite not found");
    EXPECT_EQ(empty.providerName, "Codex");

    probe->fail = true;
    EXPECT_EQ(provider.snapshot(now).errors, std::vector<std::string>{"Codex state sqlite not found"});
    probe->fail = false;

    // A stale official thread is not counted; an active one is shown with no error.
    auto staleRollout = fixture.writeRollout("stale.jsonl", {rollout::functionCall("c1")}, now - 50000);
    auto notLoaded = official("old", CodexOfficialThreadRunState::notLoaded);
    notLoaded.rolloutPath = staleRollout;
    probe->statuses = {notLoaded};
    auto stale = provider.snapshot(now);
    EXPECT_EQ(stale.ignoredStaleSessions, 0);
    EXPECT_EQ(stale.errors.size(), 1u);

    auto active = official("t1", CodexOfficialThreadRunState::active, "Ship it");
    active.lastActivityAt = now - 3;
    active.model = "gpt-5";
    probe->statuses = {notLoaded, active};
    auto shown = provider.snapshot(now);
    ASSERT_EQ(sessionIDs(shown), std::vector<std::string>{"t1"});
    EXPECT_TRUE(shown.errors.empty());
    EXPECT_EQ(shown.state, AgentRunState::inProgress);
    const auto& session = shown.activeSessions[0];
    EXPECT_EQ(session.title, "Ship it");
    EXPECT_EQ(session.evidence, "official Codex app-server status: active");
    EXPECT_EQ(session.lastActivityAt, now - 3);
    ASSERT_TRUE(session.runtimeProfile);
    EXPECT_EQ(session.runtimeProfile->source, SessionRuntimeProfileSource::codexOfficialStatus);
    ASSERT_EQ(shown.runEvidence.size(), 1u);
    EXPECT_EQ(shown.runEvidence[0].source, "official");
    EXPECT_EQ(shown.runEvidence[0].strength, RunEvidenceStrength::strongActive);
    EXPECT_EQ(probe->calls, 4);
}

TEST_F(CodexScan, ActivityWindowsAndSources) {
    fixture.createStateDatabase();
    fixture.createLogDatabase();
    fixture.addThread({.id = "rt15", .title = "Runtime fifteen", .updatedAt = nowSeconds - 1000});
    fixture.addLog("rt15", nowSeconds - 15, "session_task.turn");
    fixture.addLog("rt15", nowSeconds - 30, "codex_core::session::turn");
    fixture.addThread({.id = "body", .title = "Body rule", .updatedAt = nowSeconds - 5000});
    fixture.addLog("body", nowSeconds - 12, "codex_core::stream_events_utils", "in SESSION_LOOP now");
    fixture.addThread({.id = "ignored-target", .updatedAt = nowSeconds - 5000});
    fixture.addLog("ignored-target", nowSeconds - 5, "codex_core::stream_events_utils", "other body");
    fixture.addLog("ignored-target", nowSeconds - 5, "some::other");
    fixture.addLog(std::nullopt, nowSeconds - 5, "session_task.turn");
    fixture.addThread({.id = "rt20", .updatedAt = nowSeconds - 3000});
    fixture.addLog("rt20", nowSeconds - 20, "codex_otel.trace_safe", "x session_task.turn y");
    fixture.addThread({.id = "recent120", .updatedAt = nowSeconds - 120});
    fixture.addThread({.id = "recent121", .updatedAt = nowSeconds - 121});
    fixture.addThread({.id = "rt25", .title = "Twenty five", .updatedAt = nowSeconds - 25});
    fixture.addLog("rt25", nowSeconds - 25, "session_task.turn");
    fixture.addThread({.id = "old130", .updatedAt = nowSeconds - 130});
    fixture.addThread({.id = "parent", .title = "Parent", .updatedAt = nowSeconds - 100000});
    fixture.addThread({.id = "edge120", .updatedAt = nowSeconds - 120});
    fixture.addThread({.id = "edge121", .updatedAt = nowSeconds - 121});
    fixture.addThread({.id = "closed", .updatedAt = nowSeconds - 50});
    fixture.addThread({.id = "closed-old", .updatedAt = nowSeconds - 43201});
    fixture.addThread({.id = "archived", .updatedAt = nowSeconds - 5, .archived = 1});
    fixture.addLog("archived", nowSeconds - 5, "session_task.turn");
    fixture.addEdge("parent", "edge120", "open");
    fixture.addEdge("parent", "edge121", "open");
    fixture.addEdge("parent", "closed", "closed");
    fixture.addEdge("parent", "closed-old", "closed");

    auto provider = makeProvider();
    auto snapshot = provider.snapshot(now);
    EXPECT_TRUE(snapshot.errors.empty()) << snapshot.errors.front();
    EXPECT_EQ(sessionIDs(snapshot),
              (std::vector<std::string>{"body", "rt15", "rt20", "rt25", "edge120", "recent120"}));
    auto sessions = byID(snapshot);
    EXPECT_EQ(sessions["rt20"].evidence, "recent Codex runtime log");
    EXPECT_EQ(sessions["recent120"].evidence, "recent rollout activity");
    EXPECT_EQ(sessions["rt15"].evidence, "recent Codex runtime log");
    EXPECT_EQ(sessions["rt15"].lastActivityAt, now - 15);
    EXPECT_EQ(sessions["body"].evidence, "recent Codex runtime log");
    EXPECT_EQ(sessions["rt25"].evidence, "recent rollout activity");
    EXPECT_EQ(sessions["edge120"].evidence, "open spawn edge with recent activity");
    EXPECT_EQ(sessions["edge120"].parentID, "parent");
    EXPECT_EQ(sessions["edge120"].parentTitle, "Parent");
    EXPECT_EQ(snapshot.ignoredStaleSessions, 1); // edge121
    EXPECT_EQ(snapshot.state, AgentRunState::inProgress);

    // Weak evidence for the recent sessions, then the closed edge's completion.
    ASSERT_EQ(snapshot.runEvidence.size(), 7u);
    EXPECT_EQ(snapshot.runEvidence[1].source, "runtime_log");
    EXPECT_EQ(snapshot.runEvidence[1].strength, RunEvidenceStrength::weakRecent);
    EXPECT_EQ(snapshot.runEvidence[1].expiresAt, now - 15 + 20);
    EXPECT_EQ(snapshot.runEvidence[3].source, "recent_thread");
    EXPECT_EQ(snapshot.runEvidence[4].source, "open_spawn_edge");
    EXPECT_EQ(snapshot.runEvidence[4].expiresAt, now - 120 + 20);
    const RunEvidence& closed = snapshot.runEvidence[6];
    EXPECT_EQ(closed.sessionID, "closed");
    EXPECT_EQ(closed.source, "closed_spawn_edge");
    EXPECT_EQ(closed.reason, "thread spawn edge closed");
    EXPECT_EQ(closed.strength, RunEvidenceStrength::strongComplete);
    EXPECT_EQ(closed.observedAt, now - 50);
    EXPECT_FALSE(evidenceFor(snapshot, "closed-old"));
}

TEST_F(CodexScan, CachedResultsAreRefilteredAtTheirBoundsAsTimePasses) {
    fixture.createStateDatabase();
    fixture.createLogDatabase();
    // A runtime-log row 10 s old (window 20 s) and a closed edge updated 43,000 s ago (window 43,200 s).
    fixture.addThread({.id = "run", .updatedAt = nowSeconds - 4000});
    fixture.addLog("run", nowSeconds - 10, "session_task.turn");
    fixture.addThread({.id = "done", .updatedAt = nowSeconds - 43000});
    fixture.addEdge("p", "done", "closed");
    auto provider = makeProvider();
    ASSERT_EQ(sessionIDs(provider.snapshot(now)), std::vector<std::string>{"run"}); // both queries answered at `now`

    // Nothing on disk changes: later scans filter the cached answers by their own bounds.
    struct Case {
        double later;    // seconds after `now`
        bool runtime;    // the runtime-log row still counts (the thread is shown)
        bool closedEdge; // the closed edge still counts
    };
    for (const auto& c : {Case{10, true, true}, Case{10.5, true, true}, Case{11, false, true}, Case{200, false, true},
                          Case{200.5, false, true}, Case{201, false, false}}) {
        const auto snapshot = provider.snapshot(now + c.later);
        const auto sessions = byID(snapshot);
        EXPECT_EQ(sessions.count("run") == 1, c.runtime) << c.later;
        const RunEvidence* closed = evidenceFor(snapshot, "done");
        EXPECT_EQ(closed && closed->source == "closed_spawn_edge", c.closedEdge) << c.later;
    }
}

TEST_F(CodexScan, RolloutTailsAtTheTwelveHourBoundary) {
    fixture.createStateDatabase();
    const auto pendingAtLimit = fixture.writeRollout("a.jsonl", {rollout::functionCall("c1")}, now - 43200);
    const auto pendingPastLimit = fixture.writeRollout("b.jsonl", {rollout::functionCall("c1")}, now - 43200.5);
    const auto openTurn = fixture.writeRollout("c.jsonl", {rollout::turnStarted()}, now - 60);
    const auto finished =
        fixture.writeRollout("d.jsonl", {rollout::turnStarted(), rollout::taskComplete()}, now - 30);
    const auto asking =
        fixture.writeRollout("e.jsonl", {rollout::functionCall("c2", "request_user_input")}, now - 5);
    fixture.addThread({.id = "at-limit", .rolloutPath = pendingAtLimit, .updatedAt = nowSeconds - 50000});
    fixture.addThread({.id = "past-limit", .rolloutPath = pendingPastLimit, .updatedAt = nowSeconds - 50000});
    fixture.addThread({.id = "open", .rolloutPath = openTurn, .updatedAt = nowSeconds - 70000});
    fixture.addThread({.id = "finished", .rolloutPath = finished, .updatedAt = nowSeconds - 70000});
    fixture.addThread({.id = "asking", .rolloutPath = asking, .updatedAt = nowSeconds - 70000});
    fixture.addThread({.id = "gone", .rolloutPath = (fixture.dir / "missing.jsonl").string(),
                       .updatedAt = nowSeconds - 70000});

    auto snapshot = makeProvider().snapshot(now);
    EXPECT_EQ(sessionIDs(snapshot), (std::vector<std::string>{"asking", "open", "at-limit"}));
    auto sessions = byID(snapshot);
    EXPECT_EQ(sessions["at-limit"].evidence, "rollout has pending tool call");
    EXPECT_EQ(sessions["open"].evidence, "rollout has open turn");
    EXPECT_EQ(sessions["asking"].evidence, "rollout has pending tool call");
    EXPECT_TRUE(sessions["asking"].needsUserAttention);
    EXPECT_FALSE(sessions["open"].needsUserAttention);
    EXPECT_EQ(snapshot.ignoredStaleSessions, 1); // past-limit
    const RunEvidence* terminal = evidenceFor(snapshot, "finished");
    ASSERT_TRUE(terminal);
    EXPECT_EQ(terminal->source, "rollout_terminal");
    EXPECT_EQ(terminal->reason, "rollout terminal event");
    EXPECT_EQ(terminal->observedAt, now - 30);
    EXPECT_EQ(evidenceFor(snapshot, "asking")->source, "rollout");
    EXPECT_EQ(snapshot.state, AgentRunState::inProgress);
}

TEST_F(CodexScan, WaitingParentForRunningChildren) {
    fixture.createStateDatabase();
    const auto parentRollout =
        fixture.writeRollout("p.jsonl", {rollout::turnStarted(), rollout::taskComplete()}, now - 600);
    fixture.addThread({.id = "p", .title = "Plan the release", .rolloutPath = parentRollout,
                       .updatedAt = nowSeconds - 600, .agentNickname = "lead", .model = "gpt-5",
                       .reasoningEffort = "high"});
    fixture.addThread({.id = "c1", .firstUserMessage = "Handle W07 migration", .rolloutPath =
                           fixture.writeRollout("c1.jsonl", {rollout::functionCall("x", "request_user_input")},
                                                now - 5),
                       .updatedAt = nowSeconds - 900, .agentRole = "subagent"});
    fixture.addThread({.id = "c2", .rolloutPath = fixture.writeRollout("c2.jsonl", {rollout::turnStarted()}, now - 3),
                       .updatedAt = nowSeconds - 900, .agentNickname = "scout", .threadSource = "subagent"});
    fixture.addThread({.id = "weak", .updatedAt = nowSeconds - 10});
    fixture.addEdge("p", "c1", "open");
    fixture.addEdge("p", "c2", "open");
    fixture.addEdge("q", "weak", "open");

    auto snapshot = makeProvider().snapshot(now);
    EXPECT_EQ(sessionIDs(snapshot), (std::vector<std::string>{"c2", "p", "c1", "weak"}));
    auto sessions = byID(snapshot);
    EXPECT_EQ(sessions["c1"].title, "W07 subagent");
    EXPECT_EQ(sessions["c2"].title, "scout subagent");
    EXPECT_EQ(sessions["c1"].parentTitle, "Plan the release");
    const AgentSession& parent = sessions["p"];
    EXPECT_EQ(parent.threadSource, "parent_waiting");
    EXPECT_EQ(parent.title, "Plan the release");
    EXPECT_EQ(parent.evidence, "active child still running");
    EXPECT_TRUE(parent.needsUserAttention); // c1 waits for the user
    EXPECT_EQ(parent.lastActivityAt, now - 3);
    EXPECT_EQ(parent.agentNickname, "lead");
    ASSERT_TRUE(parent.runtimeProfile);
    EXPECT_EQ(parent.runtimeProfile->model, "gpt-5");
    const RunEvidence* parentEvidence = evidenceFor(snapshot, "p");
    ASSERT_TRUE(parentEvidence);
    EXPECT_EQ(parentEvidence->source, "rollout");
    EXPECT_EQ(parentEvidence->strength, RunEvidenceStrength::strongActive);
    // The parent's own terminal rollout still gives its completion evidence.
    const auto completions = std::count_if(snapshot.runEvidence.begin(), snapshot.runEvidence.end(),
                                           [](const RunEvidence& e) { return e.source == "rollout_terminal"; });
    EXPECT_EQ(completions, 1);
    // A child with weak evidence gets no parent ("q").
    EXPECT_FALSE(sessions.count("q"));
}

TEST_F(CodexScan, OfficialStatusesMergeWithDatabaseRowsAndTheIndex) {
    fixture.createStateDatabase();
    fixture.addThread({.id = "o1", .title = "Database title", .cwd = "/db/cwd", .updatedAt = nowSeconds - 9000});
    fixture.addThread({.id = "o2", .title = "Idle but busy", .rolloutPath =
                           fixture.writeRollout("o2.jsonl", {rollout::functionCall("c")}, now - 40),
                       .updatedAt = nowSeconds - 9000});
    fixture.addThread({.id = "o3", .title = "Idle for real", .updatedAt = nowSeconds - 9000});
    fixture.dir.write("session_index.jsonl", "{\"id\":\"o2\",\"thread_name\":\"  Named by user\\nsecond\"}\n"
                                             "{\"id\":\"o3\",\"thread_name\":\"你是一个助手\"}\n");

    auto o1 = official("o1", CodexOfficialThreadRunState::active, "Official title");
    o1.needsUserAttention = true;
    o1.lastActivityAt = now - 2;
    auto o4 = official("o4", CodexOfficialThreadRunState::systemError);
    probe->statuses = {o1, official("o2", CodexOfficialThreadRunState::idle),
                       official("o3", CodexOfficialThreadRunState::idle), o4};

    auto snapshot = makeProvider().snapshot(now);
    EXPECT_TRUE(snapshot.errors.empty());
    EXPECT_EQ(sessionIDs(snapshot), (std::vector<std::string>{"o4", "o1", "o2"}));
    auto sessions = byID(snapshot);
    EXPECT_EQ(sessions["o1"].title, "Official title");
    EXPECT_EQ(sessions["o1"].cwd, "/db/cwd");
    EXPECT_TRUE(sessions["o1"].needsUserAttention);
    EXPECT_EQ(sessions["o1"].evidence, "official Codex app-server status: active");
    EXPECT_EQ(sessions["o2"].title, "Named by user");
    EXPECT_EQ(sessions["o2"].evidence, "rollout has pending tool call");
    EXPECT_FALSE(sessions["o2"].needsUserAttention);
    EXPECT_EQ(sessions["o4"].title, "o4");
    EXPECT_EQ(sessions["o4"].evidence, "official Codex app-server status: systemError");
    EXPECT_TRUE(sessions["o4"].needsUserAttention);
    EXPECT_EQ(sessions["o4"].lastActivityAt, now);
    const RunEvidence* idle = evidenceFor(snapshot, "o3");
    ASSERT_TRUE(idle);
    EXPECT_EQ(idle->source, "official");
    EXPECT_EQ(idle->reason, "official Codex app-server status: idle");
    EXPECT_EQ(idle->observedAt, now - 9000);
    // Only o2 runs: the other two wait for the user.
    EXPECT_EQ(snapshot.state, AgentRunState::inProgress);
}

TEST_F(CodexScan, OlderSchemasAreReadWithoutErrors) {
    {
        SQLiteFile db(fixture.statePath());
        db.exec("create table threads (id text primary key, title text, updated_at integer);"
                "insert into threads values ('kept', 'No archive column', " + std::to_string(nowSeconds - 30) + ");");
    }
    fixture.createLogDatabase(/*withIndex=*/false);
    fixture.addLog("kept", nowSeconds - 3, "codex_api::sse::responses");
    auto snapshot = makeProvider().snapshot(now);
    EXPECT_TRUE(snapshot.errors.empty());
    ASSERT_EQ(sessionIDs(snapshot), std::vector<std::string>{"kept"});
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "recent Codex runtime log");
    EXPECT_EQ(snapshot.activeSessions[0].title, "No archive column");

    CodexHomeFixture bare;
    {
        SQLiteFile db(bare.statePath());
        db.exec("create table threads (id text); insert into threads values ('only-id');");
    }
    auto bareSnapshot = CodexStatusProvider(bare.config(), noProcesses(), probe).snapshot(now);
    EXPECT_TRUE(bareSnapshot.errors.empty());
    EXPECT_TRUE(bareSnapshot.activeSessions.empty());

    CodexHomeFixture noTables;
    { SQLiteFile db(noTables.statePath()); db.exec("create table other (x);"); }
    auto noTablesSnapshot = CodexStatusProvider(noTables.config(), noProcesses(), probe).snapshot(now);
    EXPECT_TRUE(noTablesSnapshot.errors.empty());
    EXPECT_EQ(noTablesSnapshot.state, AgentRunState::complete);
}

TEST_F(CodexScan, BrokenDatabasesGiveHealthTexts) {
    fixture.createStateDatabase();
    fixture.addThread({.id = "t", .updatedAt = nowSeconds - 5});
    fixture.createLogDatabase(true, /*withBody=*/false);
    auto snapshot = makeProvider().snapshot(now);
    EXPECT_EQ(snapshot.errors,
              std::vector<std::string>{"Codex runtime logs: sqlite prepare failed: no such column: feedback_log_body"});
    // The other sources still count.
    EXPECT_EQ(sessionIDs(snapshot), std::vector<std::string>{"t"});
    ASSERT_EQ(snapshot.runEvidence.size(), 2u);
    EXPECT_EQ(snapshot.runEvidence[1].source, "provider_health");
    EXPECT_EQ(snapshot.runEvidence[1].sessionID, "__provider_scan__");

    CodexHomeFixture garbage;
    garbage.dir.write("state_5.sqlite", std::string(4096, 'g'));
    garbage.createLogDatabase();
    garbage.addLog("t", nowSeconds - 2, "session_task.turn");
    auto broken = CodexStatusProvider(garbage.config(), noProcesses(), probe).snapshot(now);
    EXPECT_EQ(broken.errors, (std::vector<std::string>{
                                 "Codex runtime logs: sqlite prepare failed: file is not a database",
                                 "Codex spawn edges: sqlite prepare failed: file is not a database",
                                 "Codex recent threads: sqlite prepare failed: file is not a database"}));
    EXPECT_EQ(broken.state, AgentRunState::unknown);
    EXPECT_EQ(broken.statusEvidence, broken.errors.front());
}

TEST_F(CodexScan, WriteAheadLogHeldOpenByAWriter) {
    fixture.createStateDatabase();
    SQLiteFile writer(fixture.statePath());
    writer.exec("pragma journal_mode=wal; pragma wal_autocheckpoint=0;");
    writer.exec("insert into threads (id, title, updated_at) values ('w1', 'In the log', " +
                std::to_string(nowSeconds - 5) + ")");
    auto provider = makeProvider();
    auto first = provider.snapshot(now);
    EXPECT_TRUE(first.errors.empty()) << first.errors.front();
    EXPECT_EQ(sessionIDs(first), std::vector<std::string>{"w1"});

    // The writer keeps going; the next scan sees the change through the "-wal" file.
    writer.exec("begin; insert into threads (id, title, updated_at) values ('w2', 'Second', " +
                std::to_string(nowSeconds - 4) + "); commit;");
    auto second = provider.snapshot(now);
    EXPECT_EQ(sessionIDs(second), (std::vector<std::string>{"w2", "w1"}));

    // An open write transaction does not block the reader.
    writer.exec("begin immediate; insert into threads (id, updated_at) values ('pending', 1);");
    auto third = provider.snapshot(now + 1);
    EXPECT_TRUE(third.errors.empty()) << third.errors.front();
    EXPECT_EQ(sessionIDs(third), (std::vector<std::string>{"w2", "w1"}));
    writer.exec("rollback;");
}

TEST_F(CodexScan, DatabaseLocationPrefersTheNewestFile) {
    TempDir other;
    auto config = fixture.config();
    config.sqliteHome = other.path().string();
    CodexStatusProvider provider(config, noProcesses(), probe);
    EXPECT_EQ(provider.stateDatabaseCandidates("state_5.sqlite"),
              (std::vector<std::string>{other.path().string() + "/state_5.sqlite",
                                        fixture.home().string() + "/sqlite/state_5.sqlite",
                                        fixture.home().string() + "/state_5.sqlite"}));
    config.sqliteHome = "";
    EXPECT_EQ(CodexStatusProvider(config, noProcesses(), probe).stateDatabaseCandidates("x").size(), 2u);

    // Two state databases: the newer one is read, the first listed of equally new ones.
    CodexHomeFixture second;
    second.createStateDatabase();
    second.addThread({.id = "in-sqlite-home", .updatedAt = nowSeconds - 5});
    std::filesystem::copy_file(second.statePath(), other / "state_5.sqlite");
    fixture.createStateDatabase();
    fixture.addThread({.id = "in-codex-home", .updatedAt = nowSeconds - 5});
    const auto a = other / "state_5.sqlite";
    const auto b = fixture.statePath();
    setFileTime(a, 1000);
    setFileTime(b, 1000);
    EXPECT_EQ(sessionIDs(provider.snapshot(now)), std::vector<std::string>{"in-sqlite-home"});
    setFileTime(b, 1000.5);
    EXPECT_EQ(sessionIDs(provider.snapshot(now)), std::vector<std::string>{"in-codex-home"});
}

TEST_F(CodexScan, AFailingProcessReaderBecomesAnErrorText) {
    fixture.createStateDatabase();
    fixture.addThread({.id = "t", .updatedAt = nowSeconds - 5});
    CodexStatusProvider provider(fixture.config(),
                                 []() -> std::vector<ProcessResourceSample> { throw std::runtime_error("no /proc"); },
                                 probe);
    auto snapshot = provider.snapshot(now);
    EXPECT_EQ(snapshot.errors, std::vector<std::string>{"Codex scan failed: no /proc"});
    EXPECT_EQ(snapshot.state, AgentRunState::unknown);
}

TEST_F(CodexScan, ResourceUsageFollowsTheProcessTableAndTheProcessList) {
    fixture.createStateDatabase();
    fixture.addThread({.id = "thread-r", .updatedAt = nowSeconds - 5});
    auto table = std::make_shared<std::vector<ProcessResourceSample>>();
    const auto process = [](int64_t pid, int64_t parent, double cpu, int64_t memory, std::string command) {
        return ProcessResourceSample{pid, parent, cpu, memory, std::move(command), std::nullopt};
    };
    *table = {process(10, 1, 1.0, 100, "/home/u/.codex/plugins/codex-app-server thread-r"),
              process(20, 1, 4.0, 400, "/bin/sh -c sleep")};
    CodexStatusProvider provider(fixture.config(), [table] { return *table; }, probe);
    const auto usage = [&] {
        auto sessions = byID(provider.snapshot(now));
        EXPECT_EQ(sessions.count("thread-r"), 1u);
        return sessions.count("thread-r") ? sessions.at("thread-r").resourceUsage : std::nullopt;
    };

    EXPECT_EQ(usage(), SessionResourceUsage(10, 1.0, 100, 1));
    EXPECT_EQ(usage(), SessionResourceUsage(10, 1.0, 100, 1));
    // A new sampling of the same processes, then a child appears.
    (*table)[0].cpuPercent = 2.5;
    EXPECT_EQ(usage(), SessionResourceUsage(10, 2.5, 100, 1));
    table->push_back(process(11, 10, 0.5, 50, "node worker"));
    EXPECT_EQ(usage(), SessionResourceUsage(10, 3.0, 150, 2));

    // The process list names another process of the thread; the table is unchanged.
    const auto list = fixture.home() / "process_manager" / "chat_processes.json";
    std::filesystem::create_directories(list.parent_path());
    writeFile(list, R"([{"conversationId":"thread-r","osPid":20,"startedAtMs":1}])");
    EXPECT_EQ(usage(), SessionResourceUsage(10, 7.0, 550, 3));
    writeFile(list, R"([{"conversationId":"other-thread","osPid":20,"startedAtMs":1}])");
    EXPECT_EQ(usage(), SessionResourceUsage(10, 3.0, 150, 2));

    // Without its own processes the thread shows the whole app's use.
    *table = {process(30, 1, 1.5, 10, "/Applications/Codex.app/Contents/MacOS/Codex"),
              process(31, 30, 0.5, 20, "/home/u/.codex/computer-use/helper")};
    EXPECT_EQ(usage(), SessionResourceUsage(30, 2.0, 30, 2));
}
