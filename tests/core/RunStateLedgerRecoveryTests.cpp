// How the ledger recovers from a scan that wrongly found nothing running (an
// agent folder away for a moment, the program stopped) and from a wall clock
// set back: what it then shows must be what a fresh ledger would show.
#include "core/ActivityAge.hpp"
#include "core/ProviderSnapshot.hpp"
#include "core/RunEvidence.hpp"
#include "core/RunStateLedger.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brindleaf;

namespace {

constexpr Date T = 1'780'000'000;
constexpr const char* pendingTool = "Claude transcript has pending tool use";
constexpr const char* choice = "Claude is waiting for your choice";
constexpr const char* recent = "recent rollout activity";

using IDs = std::vector<std::string>;
using State = RunStateLedger::UnitState;

AgentSession live(const std::string& provider, const std::string& id, const std::string& evidence, Date lastActivity,
                  bool needsUser = false) {
    return AgentSession({.id = id,
                         .provider = provider,
                         .title = id,
                         .cwd = "/home/dev/" + id,
                         .lastActivityAt = lastActivity,
                         .evidence = evidence,
                         .needsUserAttention = needsUser});
}

ProviderSnapshot scan(const std::string& provider, std::vector<AgentSession> sessions, Date at) {
    return ProviderSnapshot::make(provider, std::nullopt, std::nullopt, std::move(sessions), 0, at, {});
}

IDs shownIDs(const AgentStatusSnapshot& snapshot) {
    IDs ids;
    for (const auto& session : snapshot.activeSessions) ids.push_back(session.id);
    return ids;
}

class LedgerRecovery : public ::testing::Test {
protected:
    AgentStatusSnapshot refresh(const std::vector<ProviderSnapshot>& snapshots, Date now) {
        ledger.apply(snapshots, now);
        return ledger.buildSnapshot(snapshots, now);
    }
    // What a ledger that starts now shows for the same scans.
    static IDs freshlyShown(const std::vector<ProviderSnapshot>& snapshots, Date now) {
        RunStateLedger fresh(5);
        fresh.apply(snapshots, now);
        return shownIDs(fresh.buildSnapshot(snapshots, now));
    }
    std::optional<State> stateOf(const std::string& provider, const std::string& id) const {
        const auto* unit = ledger.unit(provider, id);
        return unit ? std::optional<State>(unit->state) : std::nullopt;
    }

    RunStateLedger ledger{5};
};

} // namespace

TEST_F(LedgerRecovery, SessionsReportedAgainAfterAScanThatFoundNothingAreShownAgain) {
    // The Claude folder away for three seconds, and the program stopped for 58
    // seconds eight seconds after its start: in both, one scan finds nothing,
    // and the next ones report the same sessions with their old activity times.
    struct Case {
        const char* name;
        Date firstScan;
        Date emptyScan;
    };
    for (const Case& c : {Case{"folder away", T, T + 1.5}, Case{"stopped", T + 8, T + 66}}) {
        RunStateLedger fresh(5);
        ledger = fresh;
        const std::vector<AgentSession> sessions{live("Claude Code", "working", pendingTool, T - 100),
                                                 live("Claude Code", "asking", choice, T - 300, true)};
        auto committed = refresh({scan("Claude Code", sessions, c.firstScan)}, c.firstScan);
        ASSERT_EQ(shownIDs(committed), (IDs{"working", "asking"})) << c.name;

        committed = refresh({scan("Claude Code", {}, c.emptyScan)}, c.emptyScan);
        EXPECT_TRUE(committed.activeSessions.empty()) << c.name;
        EXPECT_EQ(stateOf("Claude Code", "asking"), State::complete) << c.name;

        for (Date later : {c.emptyScan + 1.5, c.emptyScan + 3, c.emptyScan + 180}) {
            committed = refresh({scan("Claude Code", sessions, later)}, later);
            ASSERT_EQ(shownIDs(committed), (IDs{"working", "asking"})) << c.name << " at +" << later - c.emptyScan;
            EXPECT_EQ(committed.providerSnapshots[0].state, AgentRunState::inProgress) << c.name;
            EXPECT_EQ(committed.activeSessions[1].evidenceLeaseExpiresAt, later + 5) << c.name;
        }
    }
}

TEST_F(LedgerRecovery, OnlyAProviderWideCompletionGivesWayToALaterScan) {
    // A session's own completion (its rollout ended its turn) still outranks
    // later evidence of older activity; weak evidence keeps its own rule.
    RunEvidence done;
    done.provider = "Codex";
    done.sessionID = "ended";
    done.source = "rollout_terminal";
    done.strength = RunEvidenceStrength::strongComplete;
    done.observedAt = T;
    done.reason = "rollout terminal event";
    done.session = live("Codex", "ended", "rollout terminal event", T);
    refresh({ProviderSnapshot::make("Codex", AgentRunState::complete, std::nullopt, {}, 0, T, {},
                                    std::vector<RunEvidence>{done})},
            T);
    refresh({scan("Codex", {live("Codex", "quiet", recent, T - 10)}, T)}, T);
    refresh({scan("Codex", {}, T + 1)}, T + 1);
    ASSERT_EQ(stateOf("Codex", "quiet"), State::complete);

    auto committed = refresh(
        {scan("Codex",
              {live("Codex", "ended", "rollout has pending tool call", T - 1), live("Codex", "quiet", recent, T - 10)},
              T + 2)},
        T + 2);
    EXPECT_TRUE(committed.activeSessions.empty());
    EXPECT_EQ(stateOf("Codex", "ended"), State::complete);
    EXPECT_EQ(stateOf("Codex", "quiet"), State::complete);
}

TEST_F(LedgerRecovery, AClockSetBackForgetsWhatIsNowDatedInTheFuture) {
    // Seen at the true time: a strong and a weak session of one provider, a
    // provider whose scan found nothing (closing an older session).
    refresh({scan("Codex", {live("Codex", "strong", "rollout has pending tool call", T - 600)}, T - 1),
             scan("Claude Code", {live("Claude Code", "earlier", pendingTool, T - 4 * 3600)}, T - 1)},
            T - 1);
    refresh(
        {scan("Codex",
              {live("Codex", "strong", "rollout has pending tool call", T - 600), live("Codex", "weak", recent, T - 5)},
              T),
         scan("Claude Code", {}, T)},
        T);
    ASSERT_EQ(ledger.providerSuccessfulScan("Claude Code"), T);

    // The clock goes back. The providers' scans now say: Codex has nothing
    // fresh (its activity lies in the future), Claude's session runs again
    // with activity before the new now.
    const RunStateLedger atTrueTime = ledger;
    for (Date back : {1800.0, 3 * 3600.0}) {
        ledger = atTrueTime;
        const Date now = T - back;
        const std::vector<ProviderSnapshot> scans{
            ProviderSnapshot::make("Codex", AgentRunState::inProgress, std::nullopt, {}, 0, now, {}),
            scan("Claude Code", {live("Claude Code", "earlier", pendingTool, T - 4 * 3600)}, now)};
        const auto committed = refresh(scans, now);
        EXPECT_EQ(shownIDs(committed), freshlyShown(scans, now)) << back;
        EXPECT_EQ(shownIDs(committed), IDs{"earlier"}) << back;
        EXPECT_EQ(stateOf("Codex", "strong"), std::nullopt) << back;
        EXPECT_EQ(stateOf("Codex", "weak"), std::nullopt) << back;
        EXPECT_FALSE(ledger.providerSuccessfulScan("Claude Code")) << back;
    }
}

TEST_F(LedgerRecovery, TheClockIsFoundGoneBackOnlyBeyondTheSkew) {
    for (const auto& [back, forgotten] :
         std::vector<std::pair<double, bool>>{{futureActivitySkew, false}, {futureActivitySkew + 1, true}}) {
        RunStateLedger fresh(5);
        ledger = fresh;
        refresh({scan("Codex", {live("Codex", "weak", recent, T - 2)}, T)}, T);
        refresh({scan("Codex", {}, T - back)}, T - back);
        // Recorded at T and observed at T - 2: within the skew of the new now
        // the unit is kept (and outranks that scan), beyond it forgotten.
        EXPECT_EQ(stateOf("Codex", "weak"), forgotten ? std::nullopt : std::optional(State::active)) << back;
    }
    // Going back a little at a time is still going back.
    RunStateLedger fresh(5);
    ledger = fresh;
    refresh({scan("Codex", {live("Codex", "weak", recent, T - 2)}, T)}, T);
    refresh({scan("Codex", {live("Codex", "weak", recent, T - 2)}, T - 40)}, T - 40);
    refresh({ProviderSnapshot::make("Codex", AgentRunState::inProgress, std::nullopt, {}, 0, T - 80, {})}, T - 80);
    EXPECT_EQ(stateOf("Codex", "weak"), std::nullopt);
}
