#include "core/AgentStatusSnapshot.hpp"
#include "core/ProviderSnapshot.hpp"
#include "core/RunStateLedger.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace brindleaf;

// The service hands its collected provider snapshots over to the ledger
// (buildSnapshot on an rvalue), which may take sessions out of them instead of
// copying its own. Whatever it takes, the committed snapshot must be the one a
// caller keeping its snapshots gets.

namespace {

constexpr Date T = 1'780'000'000;

AgentSession session(const std::string& provider, const std::string& id, Date lastActivity,
                     const std::string& evidence = "rollout has pending tool call", bool needsUser = false) {
    return AgentSession({.id = id,
                         .provider = provider,
                         .title = "Work on " + id + " in a title long enough to live on the heap",
                         .cwd = "/home/dev/projects/" + id,
                         .rolloutPath = "/home/dev/.codex/sessions/rollout-" + id + ".jsonl",
                         .lastActivityAt = lastActivity,
                         .evidence = evidence,
                         .needsUserAttention = needsUser,
                         .resourceUsage = SessionResourceUsage(4242, 1.5, 1'000'000, 2),
                         .runtimeProfile = SessionRuntimeProfile("gpt-5-codex", "high",
                                                                 SessionRuntimeProfileSource::codexThreadStore)});
}

ProviderSnapshot scan(const std::string& provider, std::vector<AgentSession> sessions, Date at,
                      std::vector<std::string> errors = {}) {
    return ProviderSnapshot::make(provider, std::nullopt, std::nullopt, std::move(sessions), 3, at, std::move(errors));
}

// NaN never equals itself: compare an undated session by a stand-in time.
constexpr Date nanStandIn = -12345;

Date comparable(Date value) { return std::isnan(value) ? nanStandIn : value; }

std::vector<AgentSession> comparable(std::vector<AgentSession> sessions) {
    for (auto& s : sessions)
        if (s.lastActivityAt) s.lastActivityAt = comparable(*s.lastActivityAt);
    return sessions;
}

std::vector<RunEvidence> comparable(std::vector<RunEvidence> items) {
    for (auto& item : items) {
        item.observedAt = comparable(item.observedAt);
        if (item.session && item.session->lastActivityAt)
            item.session->lastActivityAt = comparable(*item.session->lastActivityAt);
    }
    return items;
}

void expectSameProvider(const ProviderSnapshot& kept, const ProviderSnapshot& handedOver) {
    SCOPED_TRACE(kept.providerName);
    EXPECT_EQ(handedOver.providerName, kept.providerName);
    EXPECT_EQ(handedOver.state, kept.state);
    EXPECT_EQ(handedOver.statusEvidence, kept.statusEvidence);
    EXPECT_EQ(comparable(handedOver.activeSessions), comparable(kept.activeSessions));
    EXPECT_EQ(handedOver.ignoredStaleSessions, kept.ignoredStaleSessions);
    EXPECT_EQ(handedOver.checkedAt, kept.checkedAt);
    EXPECT_EQ(handedOver.errors, kept.errors);
    EXPECT_EQ(comparable(handedOver.runEvidence), comparable(kept.runEvidence));
}

void expectSame(const AgentStatusSnapshot& kept, const AgentStatusSnapshot& handedOver) {
    EXPECT_EQ(handedOver.state, kept.state);
    EXPECT_EQ(handedOver.statusEvidence, kept.statusEvidence);
    EXPECT_EQ(comparable(handedOver.activeSessions), comparable(kept.activeSessions));
    EXPECT_EQ(handedOver.checkedAt, kept.checkedAt);
    ASSERT_EQ(handedOver.providerSnapshots.size(), kept.providerSnapshots.size());
    for (size_t i = 0; i < kept.providerSnapshots.size(); ++i)
        expectSameProvider(kept.providerSnapshots[i], handedOver.providerSnapshots[i]);
}

std::vector<std::string> titles(const std::vector<AgentSession>& sessions) {
    std::vector<std::string> out;
    for (const auto& s : sessions) out.push_back(s.title);
    return out;
}

// Two ledgers fed the same scans: one builds from snapshots it keeps, the other
// from snapshots handed over. Returns the handed-over result after checking it.
class HandOver {
public:
    AgentStatusSnapshot refresh(const std::vector<ProviderSnapshot>& snapshots, Date now) {
        keeping.apply(snapshots, now);
        const AgentStatusSnapshot kept = keeping.buildSnapshot(snapshots, now);
        std::vector<ProviderSnapshot> collected = snapshots;
        handing.apply(collected, now);
        AgentStatusSnapshot handedOver = handing.buildSnapshot(std::move(collected), now);
        expectSame(kept, handedOver);
        return handedOver;
    }

private:
    RunStateLedger keeping{5};
    RunStateLedger handing{5};
};

} // namespace

TEST(LedgerHandOver, CommitsWhatAKeptSnapshotCommitsWhateverTheReportedSessionsLookLike) {
    HandOver ledgers;

    // Reported oldest first, with ids that share a prefix and a waiting session.
    AgentSession noProfile = session("Codex", "c-empty-profile", T - 4);
    noProfile.runtimeProfile = SessionRuntimeProfile(); // set after construction: left as given
    std::vector<AgentSession> codex = {session("Codex", "c1", T - 9), session("Codex", "c1:tool", T - 3),
                                       session("Codex", "c0", T - 6, "recent rollout activity"),
                                       session("Codex", "c-wait", T - 1, "rollout has pending tool call", true),
                                       noProfile};
    std::vector<AgentSession> claude = {session("Claude Code", "b", T - 2), session("Claude Code", "a", T - 2)};
    auto committed = ledgers.refresh(
        {scan("Codex", codex, T), scan("Claude Code", claude, T), scan("Hermes", {}, T, {"state.db unreadable"})}, T);
    ASSERT_EQ(committed.activeSessions.size(), 7u);
    EXPECT_EQ(committed.activeSessions[0].id, "c-wait");
    EXPECT_EQ(committed.activeSessions[0].evidenceStrength, RunEvidenceStrength::strongActive);
    EXPECT_EQ(committed.activeSessions[0].evidenceLeaseExpiresAt, T + 5);
    ASSERT_EQ(committed.providerSnapshots[0].activeSessions.at(2).id, "c-empty-profile");
    EXPECT_FALSE(committed.providerSnapshots[0].activeSessions[2].runtimeProfile) << "empty profile dropped";
    EXPECT_TRUE(committed.providerSnapshots[0].runEvidence.at(4).session->runtimeProfile)
        << "the run evidence keeps what the provider reported";

    // Next refresh: "c1" comes back with an older activity time and a new
    // title, and its running unit takes the session as reported; "c0" is not
    // reported but its weak lease still runs; "a" changed its title; the same
    // id twice.
    AgentSession olderC1 = session("Codex", "c1", T - 20);
    olderC1.title = "An older view of c1";
    AgentSession renamed = session("Claude Code", "a", T + 1);
    renamed.title = "Renamed while running";
    AgentSession twin = session("Claude Code", "b", T + 1);
    twin.cwd = "/elsewhere";
    AgentSession undated = session("Hermes", "h-undated", T);
    undated.lastActivityAt = std::numeric_limits<double>::quiet_NaN(); // never equal to itself
    committed = ledgers.refresh({scan("Codex", {olderC1, session("Codex", "c-wait", T, "x", true)}, T + 1),
                                 scan("Claude Code", {renamed, session("Claude Code", "b", T + 1), twin}, T + 1),
                                 scan("Hermes", {undated}, T + 1)},
                                T + 1);
    const auto codexTitles = titles(committed.providerSnapshots[0].activeSessions);
    ASSERT_EQ(codexTitles.size(), 5u);
    EXPECT_EQ(codexTitles[0], session("Codex", "c-wait", T).title);
    EXPECT_EQ(codexTitles[4], "An older view of c1") << "the running unit renewed with the session reported";
    const auto& claudeShown = committed.providerSnapshots[1].activeSessions;
    ASSERT_EQ(claudeShown.size(), 2u);
    EXPECT_EQ(claudeShown[0].title, "Renamed while running");
    EXPECT_EQ(claudeShown[1].cwd, "/elsewhere") << "the later of two reports of one id wins";
    ASSERT_EQ(committed.providerSnapshots[2].activeSessions.size(), 1u);
    EXPECT_TRUE(std::isnan(*committed.providerSnapshots[2].activeSessions[0].lastActivityAt));

    // Providers report nothing running: everything completes.
    committed = ledgers.refresh(
        {scan("Codex", {}, T + 30), scan("Claude Code", {}, T + 30), scan("Hermes", {}, T + 30)}, T + 30);
    EXPECT_TRUE(committed.activeSessions.empty());
    EXPECT_EQ(committed.state, AgentRunState::complete);
}

// A provider's evidence names its units: two units may carry the same
// session. Each must be committed whole, never an emptied left-over of the
// other's hand-over.
TEST(LedgerHandOver, TwoUnitsCarryingOneSessionAreBothCommittedWhole) {
    const AgentSession shared = session("Codex", "s", T);
    std::vector<RunEvidence> evidence;
    for (const char* key : {"unit-1", "unit-2"}) {
        RunEvidence item;
        item.provider = "Codex";
        item.sessionID = key;
        item.source = "official";
        item.strength = RunEvidenceStrength::strongActive;
        item.observedAt = T;
        item.reason = shared.evidence;
        item.session = shared;
        evidence.push_back(item);
    }
    const std::vector<ProviderSnapshot> scans{
        ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {shared}, 0, T, {}, evidence)};

    RunStateLedger keeping;
    RunStateLedger handing;
    keeping.apply(scans, T);
    handing.apply(scans, T);
    std::vector<ProviderSnapshot> handed = scans;
    const AgentStatusSnapshot kept = keeping.buildSnapshot(scans, T);
    const AgentStatusSnapshot taken = handing.buildSnapshot(std::move(handed), T);

    ASSERT_EQ(kept.activeSessions.size(), 2u);
    expectSame(kept, taken);
    for (const AgentSession& committed : taken.activeSessions) {
        EXPECT_EQ(committed.id, "s");
        EXPECT_EQ(committed.title, shared.title);
    }
}
