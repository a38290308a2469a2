#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/providers/hermes/HermesTestSupport.hpp"

#include "core/FileStat.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

using namespace brindleaf;
using namespace brindleaf::testing;
using namespace brindleaf::testing::hermes;

namespace {

constexpr Date now = 1767323045.0;
constexpr double minute = 60;

// A Hermes home with a state database; `scan()` runs a provider over it.
class HermesHome {
public:
    HermesHome() : db_(std::make_unique<StateDatabase>(dbPath())) {}

    std::string dbPath() const { return (dir_ / "state.db").string(); }
    const TempDir& dir() const { return dir_; }
    StateDatabase& db() { return *db_; }
    void closeDatabase() { db_.reset(); }

    void gateway(const std::string& state, int64_t pid, int agents) {
        dir_.write("gateway_state.json", R"({"gateway_state":")" + state + R"(","pid":)" + std::to_string(pid) +
                                             R"(,"active_agents":)" + std::to_string(agents) +
                                             R"(,"updated_at":"2026-01-02T03:00:00Z"})");
    }
    void log(const std::string& lines) { dir_.write("logs/agent.log", lines); }
    void processes(const std::string& json) { dir_.write("processes.json", json); }

    HermesProviderConfig config() const {
        HermesProviderConfig config;
        config.hermesHome = dir_.path().string();
        return config;
    }

private:
    TempDir dir_;
    std::unique_ptr<StateDatabase> db_;
};

const AgentSession* find(const ProviderSnapshot& snapshot, const std::string& id) {
    auto it = std::find_if(snapshot.activeSessions.begin(), snapshot.activeSessions.end(),
                           [&](const AgentSession& s) { return s.id == id; });
    return it == snapshot.activeSessions.end() ? nullptr : &*it;
}

std::string childEntry(const std::string& key, pid_t pid, const std::string& extra = "") {
    return R"({"session_key":")" + key + R"(","pid":)" + std::to_string(pid) + extra + "}";
}

std::vector<ProcessResourceSample> noProcesses() { return {}; }

class ThrowingProbe final : public HermesOfficialStatusProbe {
public:
    int calls = 0;
    std::vector<HermesOfficialSession> sessions(Date, const std::string&) override {
        ++calls;
        throw std::runtime_error("probe down");
    }
};

class FixedProbe final : public HermesOfficialStatusProbe {
public:
    std::vector<HermesOfficialSession> sessions(Date, const std::string&) override {
        return {{"20_official", "Official\nsecond line", "/o", "cli", now - 1, "Hermes official status", false,
                 "hermes-4", ""},
                {"", "dropped", "", std::nullopt, std::nullopt, "x", false, std::nullopt, std::nullopt}};
    }
};

} // namespace

TEST(HermesScan, AnEmptyHomeIsCompleteWithoutSessionsOrErrors) {
    TempDir home;
    HermesProviderConfig config;
    config.hermesHome = home.path().string();
    HermesStatusProvider provider(config, noProcesses);
    EXPECT_EQ(provider.name(), "Hermes");
    const auto snapshot = provider.snapshot(now);
    EXPECT_EQ(snapshot.providerName, "Hermes");
    EXPECT_EQ(snapshot.state, AgentRunState::complete);
    EXPECT_TRUE(snapshot.activeSessions.empty());
    EXPECT_TRUE(snapshot.errors.empty());
    EXPECT_EQ(snapshot.ignoredStaleSessions, 0);
    ASSERT_EQ(snapshot.runEvidence.size(), 1u);
    EXPECT_EQ(snapshot.runEvidence[0].strength, RunEvidenceStrength::strongComplete);
}

TEST(HermesScan, DecidesEachCandidateByItsStrongestEvidence) {
    ScopedTimeZone zone("UTC0");
    HermesHome home;
    auto& db = home.db();
    auto add = [&](SessionRow row, std::optional<MessageRow> last = std::nullopt) {
        db.add(row);
        if (last) {
            last->sessionID = row.id;
            db.add(*last);
        }
    };
    const std::string longTitle = std::string(100, 't') + "\nsecond line";
    add({.id = "20_attn", .title = longTitle, .startedAt = now - 20 * minute},
        MessageRow{.role = "assistant", .timestamp = now - 10 * minute});
    add({.id = "20_attn_old", .startedAt = now - 17 * minute}, MessageRow{.role = "assistant", .timestamp = now - 16 * minute});
    add({.id = "20_sub", .parentID = "20_attn", .startedAt = now - 11 * minute});
    add({.id = "20_sub_own", .parentID = "20_attn", .startedAt = now - 11 * minute});
    add({.id = "20_child", .startedAt = now - 30 * minute});
    add({.id = "20_subagent", .source = "subagent", .startedAt = now - minute});
    add({.id = "20_subagent_done", .source = "subagent", .startedAt = now - minute, .endReason = "agent_close"});
    add({.id = "20_handoff", .startedAt = now - 60 * minute, .handoffState = "running"});
    add({.id = "20_pending", .startedAt = now - 10 * minute, .handoffState = "pending"});
    add({.id = "20_user", .startedAt = now - minute}, MessageRow{.role = "user", .timestamp = now - 15});
    add({.id = "20_user25", .startedAt = now - minute}, MessageRow{.role = "user", .timestamp = now - 25});
    add({.id = "20_tool", .startedAt = now - minute}, MessageRow{.role = "tool", .timestamp = now - 5});
    add({.id = "20_toolcalls", .startedAt = now - 20 * minute},
        MessageRow{.role = "assistant", .timestamp = now - 10 * minute, .finishReason = "tool_calls"});
    add({.id = "20_worker", .startedAt = now - 10 * minute, .messageCount = 0});
    add({.id = "20_worker_idle", .startedAt = now - 10 * minute, .messageCount = 3},
        MessageRow{.role = "assistant", .timestamp = now - 10 * minute, .finishReason = "stop"});
    add({.id = "20_idle", .startedAt = now - 10 * minute});
    add({.id = "20_orphan", .startedAt = now - 20 * minute, .endedAt = now - 5 * minute + 1, .endReason = "ws_orphan_reap"},
        MessageRow{.role = "tool", .timestamp = now - 5 * minute});
    add({.id = "20_orphan_case", .startedAt = now - 20 * minute, .endedAt = now - 5 * minute, .endReason = "WS Orphan"},
        MessageRow{.role = "tool", .timestamp = now - 5 * minute});
    add({.id = "20_orphan_early", .startedAt = now - 20 * minute, .endedAt = now - 5 * minute, .endReason = "ws_orphan_reap"},
        MessageRow{.role = "tool", .timestamp = now - 5 * minute - 3}); // activity ended well before the end
    add({.id = "20_closed", .startedAt = now - 20 * minute, .endedAt = now - 5 * minute, .endReason = "user_exit"},
        MessageRow{.role = "tool", .timestamp = now - 5 * minute});
    add({.id = "20_archived", .startedAt = now - 5, .handoffState = "running", .archived = 1});

    std::string log;
    log += logLine(now - 10 * minute, "20_attn", R"(agent.tool_executor: Tool terminal returned error {"approval_pending": true})");
    log += logLine(now - 16 * minute, "20_attn_old", "agent.tool_executor: Tool x returned error: NOT consented");
    log += logLine(now - minute, "20_sub_own", "agent.turn_context: conversation turn: platform=cli");
    home.log(log);

    auto worker = startWorker("20_worker");
    auto idleWorker = startWorker("20_worker_idle");
    auto orphanWorker = startWorker("20_orphan");
    auto orphanCaseWorker = startWorker("20_orphan_case");
    auto earlyWorker = startWorker("20_orphan_early");
    auto closedWorker = startWorker("20_closed");
    auto childProcess = startSleeper();
    auto loneChild = startSleeper();
    home.processes("[" + childEntry("20_child", childProcess->pid()) + "," +
                   childEntry("lone", loneChild->pid(), R"(,"session_id":"20_lone","command":"pytest -x","cwd":"/c","started_at":)" +
                                                             std::to_string(now - 2)) +
                   "]");

    HermesStatusProvider provider(home.config()); // the real process table
    const auto snapshot = provider.snapshot(now);

    struct Expected {
        std::string id;
        std::string evidence;
        bool needsUser;
    };
    const std::vector<Expected> shown = {
        {"20_attn", "Hermes awaiting user authorization", true},
        {"20_sub", "Hermes awaiting user authorization", true}, // the parent's attention
        {"20_sub_own", "Hermes active turn", false},             // its own nearer signal decides
        {"20_child", "Hermes child process pid=" + std::to_string(childProcess->pid()), false},
        {"20_subagent", "Hermes active subagent", false},
        {"20_handoff", "Hermes handoff running", false},
        {"20_pending", "Hermes handoff pending", false},
        {"20_user", "recent Hermes user turn", false},
        {"20_tool", "recent Hermes tool output", false},
        {"20_toolcalls", "Hermes pending tool call", false},
        {"20_worker", "Hermes TUI worker busy", false},
        {"20_orphan", "Hermes TUI worker orphan child activity", false},
        {"20_orphan_case", "Hermes TUI worker orphan child activity", false},
        {"20_lone", "Hermes child process pid=" + std::to_string(loneChild->pid()), false},
    };
    for (const auto& expected : shown) {
        const auto* session = find(snapshot, expected.id);
        ASSERT_TRUE(session) << expected.id;
        EXPECT_EQ(session->evidence, expected.evidence) << expected.id;
        EXPECT_EQ(session->needsUserAttention, expected.needsUser) << expected.id;
        EXPECT_EQ(session->provider, "Hermes");
        EXPECT_EQ(session->rolloutPath, home.dbPath());
    }
    EXPECT_EQ(snapshot.activeSessions.size(), shown.size());
    // Stale: open, dropped and idle for more than 300 s (attn_old, worker_idle, idle); ended and
    // recently active sessions are not counted.
    EXPECT_EQ(snapshot.ignoredStaleSessions, 3);
    EXPECT_EQ(snapshot.state, AgentRunState::inProgress);
    EXPECT_TRUE(snapshot.errors.empty());

    // Newest first.
    for (std::size_t i = 1; i < snapshot.activeSessions.size(); ++i) {
        EXPECT_GE(snapshot.activeSessions[i - 1].lastActivityAt.value_or(-1),
                  snapshot.activeSessions[i].lastActivityAt.value_or(-1));
    }

    const auto* attn = find(snapshot, "20_attn");
    EXPECT_EQ(attn->title, std::string(80, 't') + "...");
    EXPECT_EQ(attn->lastActivityAt, now - 10 * minute);
    const auto* lone = find(snapshot, "20_lone");
    EXPECT_EQ(lone->title, "pytest -x");
    EXPECT_EQ(lone->cwd, "/c");
    EXPECT_EQ(lone->agentRole, "child-process");
    EXPECT_EQ(lone->threadSource, "process");
    EXPECT_EQ(lone->lastActivityAt, now - 2);
    ASSERT_TRUE(lone->resourceUsage);
    EXPECT_EQ(lone->resourceUsage->pid, loneChild->pid());
    const auto* sub = find(snapshot, "20_sub");
    EXPECT_EQ(sub->parentID, "20_attn");
    EXPECT_EQ(sub->parentTitle, std::string(80, 't') + "...");
    EXPECT_EQ(sub->title, "Hermes session");
}

TEST(HermesScan, ARunningGatewayShowsItsNewestOpenSessions) {
    ScopedTimeZone zone("UTC0");
    HermesHome home;
    auto gatewayProcess = startSleeper();
    home.gateway("running", gatewayProcess->pid(), 2);
    home.db().add(SessionRow{.id = "20_newest", .startedAt = now - 10 * minute});
    home.db().add(MessageRow{.sessionID = "20_newest", .role = "assistant", .timestamp = now - 6 * minute});
    home.db().add(SessionRow{.id = "20_second", .startedAt = now - 7 * minute});
    home.db().add(SessionRow{.id = "20_done", .startedAt = now - 8 * minute});
    home.db().add(MessageRow{.sessionID = "20_done", .role = "assistant", .timestamp = now - 6.5 * minute,
                             .finishReason = "stop"});
    home.db().add(SessionRow{.id = "20_third", .startedAt = now - 9 * minute});
    home.db().add(SessionRow{.id = "20_fourth", .startedAt = now - 9.5 * minute});
    home.db().add(SessionRow{.id = "20_ended", .startedAt = now - minute, .endedAt = now - 30});
    home.log(logLine(now - 6 * minute, "20_newest", "agent.conversation_loop: Turn ended:") +
             logLine(now - 9 * minute, "20_third", "agent.tool_executor: Tool t returned error without user response"));

    HermesStatusProvider provider(home.config(), noProcesses);
    auto snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 2u);
    EXPECT_EQ(snapshot.activeSessions[0].id, "20_second");
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Hermes gateway active_agents=2");
    EXPECT_FALSE(snapshot.activeSessions[0].needsUserAttention);
    EXPECT_EQ(snapshot.activeSessions[1].id, "20_third");
    EXPECT_EQ(snapshot.activeSessions[1].evidence, "Hermes awaiting user authorization");
    EXPECT_TRUE(snapshot.activeSessions[1].needsUserAttention);
    // All five open candidates fall through the table as idle; ended ones do not count.
    EXPECT_EQ(snapshot.ignoredStaleSessions, 4);
    EXPECT_EQ(snapshot.state, AgentRunState::inProgress);

    // A gateway that is not exactly "running", or whose process died, adds nothing.
    home.gateway("Running", gatewayProcess->pid(), 2);
    EXPECT_EQ(provider.snapshot(now).activeSessions.size(), 1u); // only the attention signal remains
    home.gateway("running", deadPID(), 2);
    EXPECT_EQ(provider.snapshot(now).activeSessions.size(), 1u);
}

TEST(HermesScan, AGatewayWithoutOpenSessionsShowsItself) {
    HermesHome home;
    auto gatewayProcess = startSleeper();
    home.gateway("running", gatewayProcess->pid(), 3);
    home.db().add(SessionRow{.id = "20_ended", .startedAt = now - minute, .endedAt = now - 30});

    HermesStatusProvider provider(home.config(), [&] {
        return std::vector<ProcessResourceSample>{{gatewayProcess->pid(), 1, 2.0, 1000, "hermes gateway", "/"},
                                                  {99999, gatewayProcess->pid(), 1.0, 500, "node", std::nullopt}};
    });
    const auto snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    const auto& gateway = snapshot.activeSessions[0];
    EXPECT_EQ(gateway.id, "gateway");
    EXPECT_EQ(gateway.title, "Hermes gateway active");
    EXPECT_EQ(gateway.evidence, "Hermes gateway active_agents=3");
    EXPECT_EQ(gateway.threadSource, "gateway");
    EXPECT_EQ(gateway.lastActivityAt, 1767322800.0); // "2026-01-02T03:00:00Z"
    EXPECT_EQ(gateway.resourceUsage, SessionResourceUsage(gatewayProcess->pid(), 3.0, 1500, 2));
    EXPECT_EQ(snapshot.ignoredStaleSessions, 0);
}

TEST(HermesScan, AFailingQueryIsTheOnlyReportedErrorAndIsNotCached) {
    HermesHome home;
    home.db().add(SessionRow{.id = "20_a", .startedAt = now - 5, .handoffState = "running"});
    home.closeDatabase();
    auto probe = std::make_shared<FixedProbe>();
    HermesStatusProvider provider(home.config(), noProcesses, {}, probe);

    auto snapshot = provider.snapshot(now);
    ASSERT_NE(find(snapshot, "20_a"), nullptr);
    ASSERT_NE(find(snapshot, "20_official"), nullptr);

    // Same size and time, unreadable contents: the cached candidates stand.
    const auto info = FileStat::info(home.dbPath());
    ASSERT_TRUE(info);
    const std::string original = readFile(home.dbPath());
    writeFile(home.dbPath(), std::string(original.size(), 'x'));
    setFileTime(home.dbPath(), info->modifiedAt);
    EXPECT_NE(find(provider.snapshot(now), "20_a"), nullptr);

    // Once the file's time changes the query runs again and fails.
    setFileTime(home.dbPath(), info->modifiedAt + 5);
    snapshot = provider.snapshot(now);
    EXPECT_TRUE(snapshot.activeSessions.empty()); // the official sessions are dropped too
    ASSERT_EQ(snapshot.errors.size(), 1u);
    EXPECT_EQ(snapshot.errors[0].rfind("sqlite ", 0), 0u) << snapshot.errors[0];
    EXPECT_EQ(snapshot.statusEvidence, snapshot.errors[0]);
    EXPECT_EQ(snapshot.state, AgentRunState::unknown);
    ASSERT_EQ(snapshot.runEvidence.size(), 1u);
    EXPECT_EQ(snapshot.runEvidence[0].strength, RunEvidenceStrength::healthOnly);

    // The failure was not cached: a repaired database is read on the next scan.
    writeFile(home.dbPath(), original);
    setFileTime(home.dbPath(), info->modifiedAt + 10);
    EXPECT_NE(find(provider.snapshot(now), "20_a"), nullptr);
}

TEST(HermesScan, NewLiveWorkersRunTheQueryAgain) {
    HermesHome home;
    HermesProviderConfig config = home.config();
    config.recentSessionLimit = 1;
    home.db().add(SessionRow{.id = "20_new", .startedAt = now - 5, .handoffState = "running"});
    home.db().add(SessionRow{.id = "20_old", .startedAt = now - 100 * minute, .messageCount = 0});
    std::vector<std::string> lines;
    HermesStatusProvider provider(config, noProcesses, [&] { return lines; });

    EXPECT_EQ(provider.snapshot(now).activeSessions.size(), 1u);
    lines = {"4242 python3 -m tui_gateway.slash_worker --session-key 20_old"};
    auto snapshot = provider.snapshot(now);
    // The worker's session is queried beyond the limit, but 100 minutes is too old for "busy".
    EXPECT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.ignoredStaleSessions, 1);
}

TEST(HermesScan, LiveKeySetsThatJoinToTheSameTextAreNotConfused) {
    HermesHome home;
    HermesProviderConfig config = home.config();
    config.recentSessionLimit = 1;
    home.db().add(SessionRow{.id = "20_new", .startedAt = now - 5, .handoffState = "running"});
    home.db().add(SessionRow{.id = "20_a", .startedAt = now - 2 * minute, .messageCount = 0});
    home.db().add(SessionRow{.id = "20_b", .startedAt = now - 2 * minute, .messageCount = 0});
    std::vector<std::string> lines{"4242 python3 -m tui_gateway.slash_worker --session-key 20_a,20_b"};
    HermesStatusProvider provider(config, noProcesses, [&] { return lines; });

    // One worker whose key holds a comma names neither session.
    auto snapshot = provider.snapshot(now);
    EXPECT_EQ(find(snapshot, "20_a"), nullptr);
    EXPECT_EQ(find(snapshot, "20_b"), nullptr);

    // Two workers, one per session: both are queried beyond the limit and busy.
    lines = {"4242 python3 -m tui_gateway.slash_worker --session-key 20_a",
             "4243 python3 -m tui_gateway.slash_worker --session-key 20_b"};
    snapshot = provider.snapshot(now);
    EXPECT_NE(find(snapshot, "20_a"), nullptr);
    EXPECT_NE(find(snapshot, "20_b"), nullptr);
}

TEST(HermesScan, OfficialSessionsJoinAndAFailingProbeRestsForItsBackoff) {
    TempDir home;
    HermesProviderConfig config;
    config.hermesHome = home.path().string();

    HermesStatusProvider withSessions(config, noProcesses, {}, std::make_shared<FixedProbe>());
    const auto snapshot = withSessions.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    const auto& official = snapshot.activeSessions[0];
    EXPECT_EQ(official.id, "20_official");
    EXPECT_EQ(official.title, "Official");
    EXPECT_EQ(official.rolloutPath, config.hermesHome + "/state.db");
    EXPECT_EQ(official.runtimeProfile,
              SessionRuntimeProfile("hermes-4", std::nullopt, SessionRuntimeProfileSource::hermesOfficialStatus));

    auto failing = std::make_shared<ThrowingProbe>();
    HermesStatusProvider provider(config, noProcesses, {}, failing, 30);
    EXPECT_TRUE(provider.snapshot(now).errors.empty()); // the failure is not reported
    provider.snapshot(now + 29);
    EXPECT_EQ(failing->calls, 1);
    EXPECT_TRUE(provider.isOfficialProbeSuppressed(now + 29.9));
    provider.snapshot(now + 30);
    EXPECT_EQ(failing->calls, 2);
}

TEST(HermesScan, ChildProcessesOfWorkerSessionsJoinThoseSessions) {
    HermesHome home;
    home.db().add(SessionRow{.id = "20_w", .startedAt = now - 2 * minute});
    home.db().add(SessionRow{.id = "20_w_sub", .parentID = "20_w", .startedAt = now - 50 * minute});
    auto child = startSleeper();
    home.processes("[" + childEntry("20_w", child->pid()) + "]");

    const int64_t workerPID = 4000;
    const std::vector<ProcessResourceSample> samples = {
        {workerPID, 1, 1.5, 100, "python3 -m tui_gateway.slash_worker --session-key 20_w", std::nullopt},
        {child->pid(), 1, 2.5, 200, "sleep 60", std::nullopt},
        {4002, child->pid(), std::nullopt, 300, "node build.js", std::nullopt},
    };
    HermesStatusProvider provider(home.config(), [&] { return samples; });
    const auto snapshot = provider.snapshot(now);
    const std::string evidence = "Hermes child process pid=" + std::to_string(child->pid());
    ASSERT_EQ(snapshot.activeSessions.size(), 2u);
    EXPECT_EQ(snapshot.activeSessions[0].id, "20_w");
    EXPECT_EQ(snapshot.activeSessions[0].evidence, evidence);
    // The child's tree and the session's own worker.
    EXPECT_EQ(snapshot.activeSessions[0].resourceUsage,
              SessionResourceUsage(std::min<int64_t>(workerPID, child->pid()), 4.0, 600, 3));
    // A sub-session finds the child through its parent; its usage has no worker of its own.
    EXPECT_EQ(snapshot.activeSessions[1].id, "20_w_sub");
    EXPECT_EQ(snapshot.activeSessions[1].evidence, evidence);
    EXPECT_EQ(snapshot.activeSessions[1].resourceUsage, SessionResourceUsage(child->pid(), 2.5, 500, 2));
}

TEST(HermesScan, ProcessUsageFollowsTheProcessListFromScanToScan) {
    HermesHome home;
    home.db().add(SessionRow{.id = "20_t", .startedAt = now - 2 * minute, .handoffState = "running"});
    home.db().add(MessageRow{
        .sessionID = "20_t",
        .role = "assistant",
        .timestamp = now - 2 * minute,
        .toolCalls = R"([{"function":{"name":"terminal","arguments":"{\"command\":\"npm run build\"}"}}])"});

    std::vector<ProcessResourceSample> samples = {
        {50, 1, 1.0, 100, "sh -c npm run build", std::nullopt},
        {51, 50, 2.0, 200, "node build.js", std::nullopt},
        {60, 1, 4.0, 400, "hermes gateway", std::nullopt},
    };
    HermesStatusProvider provider(home.config(), [&] { return samples; });
    auto usageOf = [&] {
        const auto snapshot = provider.snapshot(now);
        const AgentSession* session = find(snapshot, "20_t");
        EXPECT_NE(session, nullptr);
        return session ? session->resourceUsage : std::nullopt;
    };

    EXPECT_EQ(usageOf(), SessionResourceUsage(50, 3.0, 300, 2));
    EXPECT_EQ(usageOf(), SessionResourceUsage(50, 3.0, 300, 2)) << "the same list answers the same";

    // A new sampling: the build's child has ended and its use has changed.
    samples = {{50, 1, 0.5, 120, "sh -c npm run build", std::nullopt},
               {60, 1, 4.0, 400, "hermes gateway", std::nullopt}};
    EXPECT_EQ(usageOf(), SessionResourceUsage(50, 0.5, 120, 1));

    // The build is gone: the session falls back to the Hermes processes.
    samples = {{60, 1, 4.0, 400, "hermes gateway", std::nullopt},
               {61, 60, 1.0, 10, "python3 helper.py", std::nullopt}};
    EXPECT_EQ(usageOf(), SessionResourceUsage(60, 5.0, 410, 2));

    // And a command now running under another pid is found there.
    samples = {{70, 1, 3.0, 30, "bash -lc npm run build", std::nullopt}};
    EXPECT_EQ(usageOf(), SessionResourceUsage(70, 3.0, 30, 1));
}

TEST(HermesScan, ChildProcessesAreShownOnlyWhileTheyRunAndAsTheListNowSays) {
    HermesHome home;
    auto first = startSleeper();
    auto second = startSleeper();
    home.processes("[" + childEntry("k1", first->pid(), R"(,"command":"make all")") + "]");
    HermesStatusProvider provider(home.config(), noProcesses);

    auto snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].title, "make all");

    // The list is unchanged but its process has ended.
    first->kill();
    EXPECT_TRUE(provider.snapshot(now).activeSessions.empty());

    // A rewritten list is read again.
    home.processes("[" + childEntry("k2", second->pid(), R"(,"command":"cargo test")") + "]");
    snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].title, "cargo test");
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Hermes child process pid=" + std::to_string(second->pid()));
}

TEST(HermesScan, LogSignalsCountForTheirKindsWindow) {
    ScopedTimeZone zone("UTC0");
    HermesHome home;
    struct Case {
        std::string id;
        double age; // of the session's newest log line
        std::string message;
        bool shown;
    };
    const std::string activity = "agent.turn_context: conversation turn: platform=cli";
    const std::string inFlight = "agent.chat_completion_helpers: Waiting for backend response (3s)";
    const std::string approval = R"(agent.tool_executor: Tool terminal returned error {"approval_pending": true})";
    const std::vector<Case> cases = {
        {"20_activity180", 180, activity, true}, {"20_activity181", 181, activity, false},
        {"20_flight900", 900, inFlight, true},   {"20_flight901", 901, inFlight, false},
        {"20_ask900", 900, approval, true},      {"20_ask901", 901, approval, false},
    };
    std::string log;
    for (const auto& c : cases) {
        home.db().add({.id = c.id, .startedAt = now - 60 * minute});
        log += logLine(now - c.age, c.id, c.message);
    }
    home.log(log);
    HermesStatusProvider provider(home.config(), noProcesses);
    const auto snapshot = provider.snapshot(now);
    for (const auto& c : cases) EXPECT_EQ(find(snapshot, c.id) != nullptr, c.shown) << c.id;
}

TEST(HermesScan, EachDecisionRuleAtItsWindow) {
    ScopedTimeZone zone("UTC0");
    HermesHome home;
    struct Case {
        SessionRow row;
        std::optional<MessageRow> last;      // the session's newest message
        std::optional<std::string> evidence; // shown with it, or not shown
    };
    const auto at = [](double age, std::string role, std::optional<std::string> finish = std::nullopt) {
        return MessageRow{.role = std::move(role), .timestamp = now - age, .finishReason = std::move(finish)};
    };
    const std::vector<Case> cases = {
        {{.id = "20_pending900", .startedAt = now - 900, .handoffState = "pending"}, {}, "Hermes handoff pending"},
        {{.id = "20_pending901", .startedAt = now - 901, .handoffState = "pending"}, {}, {}},
        {{.id = "20_user20", .startedAt = now - 60}, at(20, "user"), "recent Hermes user turn"},
        {{.id = "20_user21", .startedAt = now - 60}, at(21, "user"), {}},
        {{.id = "20_tool20", .startedAt = now - 60}, at(20, "tool"), "recent Hermes tool output"},
        {{.id = "20_tool21", .startedAt = now - 60}, at(21, "tool"), {}},
        {{.id = "20_calls900", .startedAt = now - 960}, at(900, "assistant", "tool_calls"), "Hermes pending tool call"},
        {{.id = "20_calls901", .startedAt = now - 960}, at(901, "assistant", "tool_calls"), {}},
        {{.id = "20_sub900", .source = "subagent", .startedAt = now - 900}, {}, "Hermes active subagent"},
        {{.id = "20_sub901", .source = "subagent", .startedAt = now - 901}, {}, {}},
        {{.id = "20_busy900", .startedAt = now - 900}, {}, "Hermes TUI worker busy"},
        {{.id = "20_busy901", .startedAt = now - 901}, {}, {}},
        {{.id = "20_busy_turn", .startedAt = now - 200, .messageCount = 3}, at(100, "user"), "Hermes TUI worker busy"},
        // An orphan-reaped session whose worker lives: active until 2 s before its end, for 900 s.
        {{.id = "20_orphan", .startedAt = now - 960, .endedAt = now - 898, .endReason = "ws_orphan_reap"},
         at(900, "tool"),
         "Hermes TUI worker orphan child activity"},
        {{.id = "20_orphan_early", .startedAt = now - 960, .endedAt = now - 897, .endReason = "ws_orphan_reap"},
         at(900, "tool"),
         {}},
        {{.id = "20_orphan_old", .startedAt = now - 960, .endedAt = now - 899, .endReason = "ws_orphan_reap"},
         at(901, "tool"),
         {}},
        {{.id = "20_idle300", .startedAt = now - 300}, {}, {}},
        {{.id = "20_idle301", .startedAt = now - 301}, {}, {}},
    };
    std::vector<ProcessResourceSample> workers;
    for (const char* key :
         {"20_busy900", "20_busy901", "20_busy_turn", "20_orphan", "20_orphan_early", "20_orphan_old"}) {
        workers.push_back({.pid = 4000 + static_cast<int64_t>(workers.size()),
                           .parentPID = 1,
                           .command = std::string("python3 -m tui_gateway.slash_worker --session-key ") + key});
    }
    for (const auto& c : cases) {
        home.db().add(c.row);
        if (c.last) {
            MessageRow message = *c.last;
            message.sessionID = c.row.id;
            home.db().add(message);
        }
    }
    HermesStatusProvider provider(home.config(), [workers] { return workers; });
    const auto snapshot = provider.snapshot(now);
    for (const auto& c : cases) {
        const auto* session = find(snapshot, c.row.id);
        ASSERT_EQ(session != nullptr, c.evidence.has_value()) << c.row.id;
        if (session) {
            EXPECT_EQ(session->evidence, *c.evidence) << c.row.id;
        }
    }
    // Open sessions idle more than 300 s and not shown: pending901, calls901, sub901, busy901, idle301.
    EXPECT_EQ(snapshot.ignoredStaleSessions, 5);
}

// Only an open candidate takes a child process in; an ended one leaves it
// listed on its own.
TEST(HermesScan, AChildOfAnEndedCandidateIsStillListedAsAChildProcessSession) {
    for (const bool ended : {false, true}) {
        HermesHome home;
        std::optional<double> endedAt;
        if (ended) endedAt = now - 5 * minute;
        home.db().add({.id = "20_task", .startedAt = now - 10 * minute, .endedAt = endedAt, .endReason = "cli_close"});
        auto child = startSleeper();
        home.processes("[" + childEntry("20_task", child->pid(), R"(,"command":"make all")") + "]");
        HermesStatusProvider provider(home.config(), noProcesses);
        const auto snapshot = provider.snapshot(now);
        const AgentSession* session = find(snapshot, "20_task");
        ASSERT_NE(session, nullptr) << ended;
        EXPECT_EQ(session->agentRole == std::optional<std::string>("child-process"), ended) << ended;
        EXPECT_EQ(session->evidence, "Hermes child process pid=" + std::to_string(child->pid())) << ended;
    }
}
