#include "core/AgentRunState.hpp"
#include "core/AgentSession.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/ProviderSnapshot.hpp"
#include "core/RunEvidence.hpp"
#include "core/SessionResourceUsage.hpp"
#include "core/SessionRuntimeProfile.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brindleaf;

namespace {

constexpr Date checkedAt = 1'780'000'000;

AgentSession session(const std::string& id, const std::string& evidence, bool needsUser = false,
                     std::optional<Date> lastActivity = std::nullopt) {
    return AgentSession({.id = id, .provider = "Codex", .title = id, .cwd = "/work", .lastActivityAt = lastActivity,
                         .evidence = evidence, .needsUserAttention = needsUser});
}

ProviderSnapshot withEvidence(const std::string& name, AgentRunState state, std::optional<std::string> evidence) {
    ProviderSnapshot snapshot;
    snapshot.providerName = name;
    snapshot.state = state;
    snapshot.statusEvidence = std::move(evidence);
    return snapshot;
}

} // namespace

TEST(StatusRecords, RawValuesAndInitialisersNormalise) {
    EXPECT_EQ(agentRunStateFromString("inProgress"), AgentRunState::inProgress);
    EXPECT_FALSE(agentRunStateFromString("InProgress"));
    EXPECT_FALSE(agentRunStateFromString("complete "));
    EXPECT_EQ(runEvidenceStrengthFromString(toString(RunEvidenceStrength::weakRecent)), RunEvidenceStrength::weakRecent);
    EXPECT_FALSE(sessionRuntimeProfileSourceFromString("codexthreadstore"));

    EXPECT_EQ(SessionResourceUsage(42, 1.5, 1024, 0).processCount, 1);
    EXPECT_EQ(SessionResourceUsage(42, std::nullopt, std::nullopt, -7).processCount, 1);

    const SessionRuntimeProfile empty(std::string(), std::string(), SessionRuntimeProfileSource::codexThreadStore);
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(AgentSession({.id = "a", .runtimeProfile = empty}).runtimeProfile);
    const SessionRuntimeProfile modelOnly("gpt-5", std::string(), SessionRuntimeProfileSource::claudeTranscript);
    EXPECT_FALSE(modelOnly.reasoningEffort);
    EXPECT_EQ(AgentSession({.id = "a", .runtimeProfile = modelOnly}).runtimeProfile, modelOnly);

    const AgentSession base({.id = "a", .evidence = "x"});
    const AgentSession marked = base.withEvidence(RunEvidenceStrength::weakRecent, 99.0);
    EXPECT_EQ(marked.evidenceLeaseExpiresAt, 99.0);
    EXPECT_NE(marked, base);
    EXPECT_EQ(marked.withEvidence(std::nullopt, std::nullopt), base);
}

TEST(ProviderSnapshotRecord, DerivesStateEvidenceAndRunEvidenceWhenNotGiven) {
    auto empty = ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, 0, checkedAt, {});
    EXPECT_EQ(empty.state, AgentRunState::complete);
    EXPECT_FALSE(empty.statusEvidence);
    ASSERT_EQ(empty.runEvidence.size(), 1u);
    EXPECT_EQ(empty.runEvidence[0].strength, RunEvidenceStrength::strongComplete);

    auto failing = ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, 3, checkedAt,
                                          {"database locked", "log unreadable"});
    EXPECT_EQ(failing.state, AgentRunState::unknown);
    EXPECT_EQ(failing.statusEvidence, "database locked");
    EXPECT_EQ(failing.runEvidence.size(), 2u);
    auto firstErrorEmpty = ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, 0, checkedAt, {"", "x"});
    EXPECT_FALSE(firstErrorEmpty.statusEvidence);

    auto allWaiting = ProviderSnapshot::make("Codex", std::nullopt, std::nullopt,
                                             {session("a", "approval", true), session("b", "question", true)}, 0,
                                             checkedAt, {});
    EXPECT_EQ(allWaiting.state, AgentRunState::complete);
    EXPECT_EQ(allWaiting.statusEvidence, "approval");
    auto oneRunning = ProviderSnapshot::make("Codex", std::nullopt, std::string(),
                                             {session("a", "approval", true), session("b", "pending tool call")}, 0,
                                             checkedAt, {"boom"});
    EXPECT_EQ(oneRunning.state, AgentRunState::inProgress);
    EXPECT_EQ(oneRunning.statusEvidence, "approval") << "an empty given evidence counts as none";

    auto given = ProviderSnapshot::make("Codex", AgentRunState::unknown, "told", {session("a", "x")}, 0, checkedAt,
                                        {}, std::vector<RunEvidence>{});
    EXPECT_EQ(given.state, AgentRunState::unknown);
    EXPECT_TRUE(given.runEvidence.empty()) << "a given evidence list is kept, even an empty one";
}

TEST(AgentStatusSnapshotRecord, ConcatenatesSessionsAndSummarisesEvidence) {
    auto codex = ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {session("c1", "waiting", true)}, 0,
                                        checkedAt, {});
    auto claude = ProviderSnapshot::make("Claude Code", std::nullopt, std::nullopt,
                                         {session("k1", "pending tool"), session("k2", "asks", true)}, 0, checkedAt,
                                         {});
    auto overall = AgentStatusSnapshot::make({codex, claude}, checkedAt);
    EXPECT_EQ(overall.state, AgentRunState::inProgress);
    ASSERT_EQ(overall.activeSessions.size(), 3u);
    EXPECT_EQ(overall.statusEvidence, "waiting");
    ASSERT_EQ(overall.runningSessions().size(), 1u);
    EXPECT_EQ(overall.runningSessions()[0].id, "k1");
    ASSERT_EQ(overall.waitingSessions().size(), 2u);
    EXPECT_EQ(overall.waitingSessions()[1].id, "k2");
    EXPECT_EQ(AgentStatusSnapshot::make({}, checkedAt).state, AgentRunState::complete);

    // The first provider in the overall state has empty evidence: the first
    // non-empty evidence of any provider is taken, whatever its state.
    auto quiet = withEvidence("Codex", AgentRunState::complete, std::nullopt);
    auto failing = withEvidence("Hermes", AgentRunState::unknown, "state.db unreadable");
    auto done = withEvidence("Claude Code", AgentRunState::complete, "nothing running");
    EXPECT_EQ(AgentStatusSnapshot::make({quiet, failing, done}, checkedAt).statusEvidence, "state.db unreadable");
    EXPECT_EQ(AgentStatusSnapshot::make({done, failing}, checkedAt).statusEvidence, "nothing running");
}

TEST(RunEvidenceDerivation, ClassifiesProviderSentences) {
    struct Case {
        const char* sentence;
        RunEvidenceStrength strength;
        const char* source;
    };
    const Case cases[] = {
        {"rollout has pending tool call", RunEvidenceStrength::strongActive, "rollout_pending_tool"},
        {"Claude transcript has pending tool use", RunEvidenceStrength::strongActive, "rollout_pending_tool"},
        {"recent Codex runtime log", RunEvidenceStrength::weakRecent, "runtime_log"},
        {"open spawn edge with recent activity", RunEvidenceStrength::weakRecent, "open_spawn_edge"},
        {"recent Hermes tool output", RunEvidenceStrength::weakRecent, "recent_activity"},
        {"official Codex app-server status: active", RunEvidenceStrength::strongActive, "official"},
        {"Official status with RECENT turn", RunEvidenceStrength::weakRecent, "official"},
        {"Claude turn awaiting assistant response", RunEvidenceStrength::strongActive, "provider_snapshot"},
        {"OPEN SPAWN EDGE", RunEvidenceStrength::weakRecent, "open_spawn_edge"},
        {"café — récent", RunEvidenceStrength::strongActive, "provider_snapshot"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        auto items = RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt,
                                         {session("s", c.sentence, false, checkedAt - 3)}, checkedAt, {});
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].strength, c.strength);
        EXPECT_EQ(items[0].source, c.source);
        EXPECT_EQ(items[0].reason, c.sentence);
        EXPECT_EQ(items[0].observedAt, checkedAt - 3);
        EXPECT_EQ(items[0].expiresAt,
                  c.strength == RunEvidenceStrength::weakRecent ? std::optional<Date>(checkedAt + 17) : std::nullopt);
        EXPECT_EQ(items[0].session, session("s", c.sentence, false, checkedAt - 3));
    }
}

TEST(RunEvidenceDerivation, ScanAndHealthItemsFollowStateAndErrors) {
    auto undated = RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt,
                                       {session("s", "recent rollout activity")}, checkedAt, {});
    ASSERT_EQ(undated.size(), 1u);
    EXPECT_EQ(undated[0].expiresAt, checkedAt + 20) << "observed at the check time";

    auto twoAndError = RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt,
                                           {session("a", "x"), session("b", "y")}, checkedAt, {"bad line"});
    ASSERT_EQ(twoAndError.size(), 3u);
    EXPECT_EQ(twoAndError[1].sessionID, "b");
    EXPECT_EQ(twoAndError[2].sessionID, "__provider_scan__");
    EXPECT_EQ(twoAndError[2].source, "provider_health");
    EXPECT_EQ(twoAndError[2].reason, "bad line");

    auto idle = RunEvidence::derive("Codex", AgentRunState::complete, std::string(), {}, checkedAt, {});
    ASSERT_EQ(idle.size(), 1u);
    EXPECT_EQ(idle[0].source, "provider_scan");
    EXPECT_EQ(idle[0].reason, "provider scan found no active sessions");
    EXPECT_EQ(RunEvidence::derive("Codex", AgentRunState::complete, "idle", {}, checkedAt, {})[0].reason, "idle");

    auto completeWithError = RunEvidence::derive("Codex", AgentRunState::complete, std::nullopt, {}, checkedAt, {"e"});
    ASSERT_EQ(completeWithError.size(), 1u);
    EXPECT_EQ(completeWithError[0].strength, RunEvidenceStrength::healthOnly);

    auto unknown = RunEvidence::derive("Codex", AgentRunState::unknown, std::nullopt, {}, checkedAt, {});
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_EQ(unknown[0].strength, RunEvidenceStrength::healthOnly);
    EXPECT_EQ(unknown[0].reason, "provider state unknown");
    EXPECT_EQ(RunEvidence::derive("Codex", AgentRunState::unknown, "late", {}, checkedAt, {})[0].reason, "late");

    EXPECT_TRUE(RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt, {}, checkedAt, {}).empty());
}
