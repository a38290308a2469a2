#include "core/AgentStatusService.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/ProviderSnapshot.hpp"
#include "core/RunEvidence.hpp"
#include "core/RunStateLedger.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brindleaf;

namespace {

constexpr Date T = 1'780'000'000;
constexpr const char* pendingTool = "rollout has pending tool call";
constexpr const char* recentActivity = "recent rollout activity";

AgentSession live(const std::string& provider, const std::string& id, const std::string& evidence,
                  std::optional<Date> lastActivity, bool needsUser = false) {
    return AgentSession({.id = id,
                         .provider = provider,
                         .title = "Session " + id,
                         .cwd = "/home/dev/" + id,
                         .lastActivityAt = lastActivity,
                         .evidence = evidence,
                         .needsUserAttention = needsUser});
}

ProviderSnapshot scan(const std::string& provider, std::vector<AgentSession> sessions, Date at,
                      std::vector<std::string> errors = {}) {
    return ProviderSnapshot::make(provider, std::nullopt, std::nullopt, std::move(sessions), 0, at, std::move(errors));
}

// What the detection service hands over for a provider that missed its deadline.
ProviderSnapshot timedOut(const ProviderSnapshot& last, Date at) {
    return AgentStatusService::substituteSnapshot(
        &last, last.providerName, last.providerName + " detection timed out after 5s; showing last known state.", at);
}

std::vector<std::string> shownIDs(const AgentStatusSnapshot& snapshot) {
    std::vector<std::string> ids;
    for (const auto& session : snapshot.activeSessions) ids.push_back(session.id);
    return ids;
}

using IDs = std::vector<std::string>;

class LedgerTest : public ::testing::Test {
protected:
    AgentStatusSnapshot refresh(const std::vector<ProviderSnapshot>& snapshots, Date now) {
        ledger.apply(snapshots, now);
        return ledger.buildSnapshot(snapshots, now);
    }
    RunStateLedger::UnitState unitState(const std::string& provider, const std::string& id) {
        const auto* unit = ledger.unit(provider, id);
        EXPECT_NE(unit, nullptr) << provider << "/" << id;
        return unit ? unit->state : RunStateLedger::UnitState::stale;
    }

    RunStateLedger ledger{5};
};

} // namespace

TEST_F(LedgerTest, StrongEvidenceHoldsForItsLeaseThroughTimeouts) {
    const auto first = scan("Codex", {live("Codex", "s1", pendingTool, T)}, T);
    auto committed = refresh({first}, T);
    ASSERT_EQ(shownIDs(committed), IDs{"s1"});
    EXPECT_EQ(committed.state, AgentRunState::inProgress);
    EXPECT_EQ(committed.activeSessions[0].evidenceStrength, RunEvidenceStrength::strongActive);
    EXPECT_EQ(committed.activeSessions[0].evidenceLeaseExpiresAt, T + 5);
    EXPECT_EQ(committed.providerSnapshots[0].activeSessions, committed.activeSessions);
    EXPECT_EQ(committed.statusEvidence, pendingTool);
    EXPECT_EQ(committed.checkedAt, T);

    // A refresh two seconds later times out for the provider: only health
    // items arrive, the session stays and the provider is not "unknown".
    committed = refresh({timedOut(first, T + 2)}, T + 2);
    EXPECT_EQ(shownIDs(committed), IDs{"s1"});
    ASSERT_EQ(committed.providerSnapshots.size(), 1u);
    const auto& provider = committed.providerSnapshots[0];
    EXPECT_EQ(provider.state, AgentRunState::inProgress);
    EXPECT_EQ(provider.statusEvidence, pendingTool);
    ASSERT_EQ(provider.errors.size(), 1u);
    EXPECT_EQ(provider.errors[0], "Codex detection timed out after 5s; showing last known state.");
    EXPECT_EQ(provider.checkedAt, T + 2);

    // Past the five-second lease the unit has gone stale and nothing is shown.
    committed = refresh({timedOut(first, T + 6)}, T + 6);
    EXPECT_TRUE(committed.activeSessions.empty());
    EXPECT_EQ(committed.state, AgentRunState::complete);
    EXPECT_EQ(committed.providerSnapshots[0].state, AgentRunState::complete);
    EXPECT_EQ(unitState("Codex", "s1"), RunStateLedger::UnitState::stale);
    // Never had a successful scan, no complete unit: the timeout message is the evidence.
    EXPECT_EQ(committed.providerSnapshots[0].statusEvidence,
              "Codex detection timed out after 5s; showing last known state.");
}

TEST_F(LedgerTest, StrongLeaseIsRenewedByEveryScanAndLapsesWhenTheSessionDisappears) {
    refresh({scan("Codex",
                  {live("Codex", "a", pendingTool, std::nullopt), live("Codex", "b", pendingTool, std::nullopt)}, T)},
            T);
    // At T+3 only b is reported; a stays visible on its lease from T.
    auto committed = refresh({scan("Codex", {live("Codex", "b", pendingTool, std::nullopt)}, T + 3)}, T + 3);
    EXPECT_EQ(shownIDs(committed), (IDs{"a", "b"}));
    for (const auto& session : committed.activeSessions)
        EXPECT_EQ(session.evidenceLeaseExpiresAt, session.id == "a" ? T + 5 : T + 8) << session.id;

    committed = refresh({scan("Codex", {live("Codex", "b", pendingTool, std::nullopt)}, T + 5)}, T + 5);
    EXPECT_EQ(shownIDs(committed), IDs{"b"}) << "a lease that ends exactly now is over";
    EXPECT_EQ(unitState("Codex", "a"), RunStateLedger::UnitState::stale);
}

TEST_F(LedgerTest, WeakEvidenceCarriesItsOwnTwentySecondLease) {
    auto committed = refresh({scan("Codex", {live("Codex", "w", recentActivity, T - 5)}, T)}, T);
    ASSERT_EQ(shownIDs(committed), IDs{"w"});
    EXPECT_EQ(committed.activeSessions[0].evidenceStrength, RunEvidenceStrength::weakRecent);
    EXPECT_EQ(committed.activeSessions[0].evidenceLeaseExpiresAt, T + 15);

    // Errors only: the weak unit holds until its own lease, not the strong one.
    committed = refresh({scan("Codex", {}, T + 14, {"sqlite busy"})}, T + 14);
    EXPECT_EQ(shownIDs(committed), IDs{"w"});
    committed = refresh({scan("Codex", {}, T + 15, {"sqlite busy"})}, T + 15);
    EXPECT_TRUE(committed.activeSessions.empty());
    EXPECT_EQ(unitState("Codex", "w"), RunStateLedger::UnitState::stale);
    EXPECT_EQ(committed.providerSnapshots[0].statusEvidence, "sqlite busy");

    // Reported again with the same old observation: its lease is over, so the
    // unit becomes stale at once, even right after strong evidence made it active.
    refresh({scan("Codex", {live("Codex", "w", pendingTool, T + 16)}, T + 16)}, T + 16);
    EXPECT_EQ(unitState("Codex", "w"), RunStateLedger::UnitState::active);
    committed = refresh({scan("Codex", {live("Codex", "w", recentActivity, T - 9)}, T + 16)}, T + 16);
    EXPECT_TRUE(committed.activeSessions.empty());
    EXPECT_EQ(unitState("Codex", "w"), RunStateLedger::UnitState::stale);

    // A weak item with a running lease replaces an active or stale unit even
    // when observed earlier than it.
    committed = refresh({scan("Codex", {live("Codex", "w", recentActivity, T + 10)}, T + 17)}, T + 17);
    ASSERT_EQ(shownIDs(committed), IDs{"w"});
    EXPECT_EQ(committed.activeSessions[0].evidenceLeaseExpiresAt, T + 30);
    refresh({scan("Codex", {live("Codex", "w", pendingTool, T + 18)}, T + 18)}, T + 18);
    committed = refresh({scan("Codex", {live("Codex", "w", recentActivity, T + 12)}, T + 18)}, T + 18);
    ASSERT_EQ(shownIDs(committed), IDs{"w"});
    EXPECT_EQ(committed.activeSessions[0].evidenceStrength, RunEvidenceStrength::weakRecent);
    EXPECT_EQ(committed.activeSessions[0].evidenceLeaseExpiresAt, T + 32);
}

TEST_F(LedgerTest, ScanCompletionCompletesOlderUnitsAndIsNotUndoneByOlderEvidenceOfItsOwnRefresh) {
    refresh({scan("Codex",
                  {live("Codex", "old", pendingTool, T - 10), live("Codex", "older", pendingTool, T - 20),
                   live("Codex", "future", pendingTool, T + 60), live("Codex", "weak", recentActivity, T - 2)},
                  T - 1)},
            T - 1);
    // Nothing running at T: every unit observed at or before T completes;
    // the one whose activity lies in the future stays.
    auto committed = refresh({scan("Codex", {}, T)}, T);
    EXPECT_EQ(shownIDs(committed), IDs{"future"});
    EXPECT_EQ(unitState("Codex", "old"), RunStateLedger::UnitState::complete);
    EXPECT_EQ(unitState("Codex", "weak"), RunStateLedger::UnitState::complete);
    const auto* completed = ledger.unit("Codex", "old");
    ASSERT_NE(completed, nullptr);
    EXPECT_EQ(completed->observedAt, T);
    EXPECT_EQ(completed->strength, RunEvidenceStrength::strongComplete);
    EXPECT_FALSE(completed->expiresAt);
    EXPECT_EQ(completed->reason, "provider scan found no active sessions");
    EXPECT_EQ(ledger.providerSuccessfulScan("Codex"), T);
    EXPECT_EQ(ledger.unit("Codex", "__provider_scan__"), nullptr);

    // Recorded in the completion's own refresh, strong evidence older than the
    // completion is ignored, equal time is taken.
    const auto strongItem = [](const std::string& id, Date at) {
        return RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt,
                                   {live("Codex", id, pendingTool, at)}, at, {})[0];
    };
    ledger.record(strongItem("older", T - 1), T);
    EXPECT_EQ(unitState("Codex", "older"), RunStateLedger::UnitState::complete);
    ledger.record(strongItem("old", T), T);
    EXPECT_EQ(unitState("Codex", "old"), RunStateLedger::UnitState::active);

    // A later scan that reports a session running again is newer news than the
    // completion, however old the session's own activity.
    committed = refresh({scan("Codex", {live("Codex", "older", pendingTool, T - 20)}, T + 1)}, T + 1);
    EXPECT_EQ(shownIDs(committed), (IDs{"future", "old", "older"}));

    // Weak evidence observed exactly at a complete unit's time is ignored; a
    // moment later it reactivates the unit.
    committed = refresh({scan("Codex", {live("Codex", "weak", recentActivity, T)}, T + 2)}, T + 2);
    EXPECT_EQ(unitState("Codex", "weak"), RunStateLedger::UnitState::complete);
    committed = refresh({scan("Codex", {live("Codex", "weak", recentActivity, T + 0.5)}, T + 2)}, T + 2);
    EXPECT_EQ(unitState("Codex", "weak"), RunStateLedger::UnitState::active);
}

TEST_F(LedgerTest, EqualTimesApplyHealthWeakStrongThenCompletion) {
    // The list order puts the completion first; at equal times it is applied
    // last, so it completes the session reported at the same moment.
    auto session = live("Codex", "s", pendingTool, T);
    auto sessionItems = RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt, {session}, T, {});
    auto completion = RunEvidence::derive("Codex", AgentRunState::complete, "idle", {}, T, {});
    std::vector<RunEvidence> items{completion[0], sessionItems[0]};
    auto snapshot = ProviderSnapshot::make("Codex", AgentRunState::complete, "idle", {}, 0, T, {}, items);
    auto committed = refresh({snapshot}, T);
    EXPECT_TRUE(committed.activeSessions.empty());
    EXPECT_EQ(unitState("Codex", "s"), RunStateLedger::UnitState::complete);
    EXPECT_EQ(committed.providerSnapshots[0].statusEvidence, "idle");
    // The committed provider snapshot keeps the provider's own evidence list.
    EXPECT_EQ(committed.providerSnapshots[0].runEvidence, items);

    // A strong item at the same time as a weak one wins.
    auto weak = RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt,
                                    {live("Codex", "x", recentActivity, T + 1)}, T + 1, {});
    auto strong = RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt,
                                      {live("Codex", "x", pendingTool, T + 1)}, T + 1, {});
    refresh({ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, 0, T + 1, {},
                                    std::vector<RunEvidence>{strong[0], weak[0]})},
            T + 1);
    const auto* unit = ledger.unit("Codex", "x");
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->strength, RunEvidenceStrength::strongActive);
}

TEST_F(LedgerTest, CommittedSessionsAreNewestFirstAndStatesFollowShownSessionsOnly) {
    auto committed = refresh({scan("Claude Code",
                                   {live("Claude Code", "undated-1", pendingTool, std::nullopt),
                                    live("Claude Code", "dated", pendingTool, T - 30),
                                    live("Claude Code", "undated-2", pendingTool, std::nullopt),
                                    live("Claude Code", "newest", "asks a question", T - 1, true)},
                                   T),
                              scan("Hermes", {live("Hermes", "h", "waiting for approval", T, true)}, T)},
                             T);
    ASSERT_EQ(committed.activeSessions.size(), 5u);
    EXPECT_EQ(committed.activeSessions[0].id, "newest");
    EXPECT_EQ(committed.activeSessions[1].id, "dated");
    EXPECT_EQ(committed.activeSessions[4].id, "h");
    EXPECT_EQ(committed.providerSnapshots[0].state, AgentRunState::inProgress);
    EXPECT_EQ(committed.providerSnapshots[0].statusEvidence, "asks a question") << "the newest session's evidence";
    EXPECT_EQ(committed.providerSnapshots[1].state, AgentRunState::complete) << "waiting sessions only";
    EXPECT_EQ(committed.providerSnapshots[1].statusEvidence, "waiting for approval");
    EXPECT_EQ(committed.state, AgentRunState::inProgress);
    EXPECT_EQ(committed.statusEvidence, "asks a question");

    // A provider snapshot that says "unknown" is committed by what the ledger shows.
    auto unknown = ProviderSnapshot::make("Hermes", AgentRunState::unknown, "cannot tell", {}, 0, T + 1, {"e"});
    committed = refresh({unknown}, T + 1);
    EXPECT_EQ(committed.providerSnapshots[0].state, AgentRunState::complete);
    ASSERT_EQ(shownIDs(committed), IDs{"h"});

    // Units of providers left out of the list are kept but not shown.
    EXPECT_EQ(committed.providerSnapshots.size(), 1u);
    EXPECT_NE(ledger.unit("Claude Code", "dated"), nullptr);
    EXPECT_EQ(ledger.unitCount(), 5u);
}

TEST_F(LedgerTest, CompleteEvidencePrefersTheLastSuccessfulScanReason) {
    auto idleCodex = scan("Codex", {}, T);
    refresh({idleCodex}, T);
    // The next refresh times out: the provider shows nothing and commits the
    // reason of its last successful scan, the message staying in its errors.
    auto committed = refresh({timedOut(idleCodex, T + 2)}, T + 2);
    const auto& codex = committed.providerSnapshots[0];
    EXPECT_EQ(codex.state, AgentRunState::complete);
    EXPECT_EQ(codex.statusEvidence, "provider scan found no active sessions");
    ASSERT_EQ(codex.errors.size(), 1u);
    EXPECT_EQ(codex.errors[0], "Codex detection timed out after 5s; showing last known state.");
    EXPECT_EQ(committed.statusEvidence, "provider scan found no active sessions");

    // Never scanned successfully, no complete unit, no evidence of its own.
    auto silent = ProviderSnapshot::make("Claude Code", AgentRunState::inProgress, std::nullopt, {}, 0, T + 3, {});
    committed = refresh({silent}, T + 3);
    EXPECT_EQ(committed.providerSnapshots[0].statusEvidence,
              "ledger: no active run evidence after successful provider scan");

    // Overall: the first complete provider's evidence, unless it is empty; then
    // the newest recorded scan reason.
    refresh({scan("Hermes", {}, T + 4)}, T + 4);
    auto codexIdle = ProviderSnapshot::make("Codex", std::nullopt, "codex idle", {}, 0, T + 5, {});
    auto hermesIdle = ProviderSnapshot::make("Hermes", std::nullopt, "hermes idle", {}, 0, T + 6, {});
    ledger.apply({codexIdle}, T + 5);
    ledger.apply({hermesIdle}, T + 6);
    committed = ledger.buildSnapshot({codexIdle, hermesIdle}, T + 6);
    EXPECT_EQ(committed.statusEvidence, "codex idle");
    ProviderSnapshot blank;
    blank.providerName = "Claude Code";
    blank.state = AgentRunState::complete;
    blank.statusEvidence = "";
    committed = ledger.buildSnapshot({blank, codexIdle, hermesIdle}, T + 6);
    EXPECT_FALSE(committed.providerSnapshots[0].statusEvidence);
    EXPECT_EQ(committed.statusEvidence, "hermes idle");
    EXPECT_EQ(ledger.latestCompleteReason(), "hermes idle");

    // No providers at all.
    RunStateLedger fresh(5);
    auto empty = fresh.buildSnapshot({}, T);
    EXPECT_EQ(empty.state, AgentRunState::complete);
    EXPECT_TRUE(empty.providerSnapshots.empty());
    EXPECT_EQ(empty.statusEvidence, "ledger: no active run evidence after successful provider scan");
}

TEST_F(LedgerTest, CompleteReasonFallsBackToTheLatestCompletedSession) {
    // A session completed by its own strong completion item, with no scan
    // completion for the provider: its reason becomes the provider's evidence.
    RunEvidence done;
    done.provider = "Codex";
    done.sessionID = "s";
    done.source = "official";
    done.strength = RunEvidenceStrength::strongComplete;
    done.observedAt = T;
    done.reason = "official Codex app-server status: idle";
    done.session = live("Codex", "s", "official Codex app-server status: idle", T);
    auto snapshot = ProviderSnapshot::make("Codex", AgentRunState::complete, std::nullopt, {}, 0, T, {},
                                           std::vector<RunEvidence>{done});
    auto committed = refresh({snapshot}, T);
    EXPECT_EQ(unitState("Codex", "s"), RunStateLedger::UnitState::complete);
    EXPECT_EQ(committed.providerSnapshots[0].statusEvidence, "official Codex app-server status: idle");
    EXPECT_FALSE(ledger.providerSuccessfulScan("Codex"));
}

TEST_F(LedgerTest, OlderStrongEvidenceRenewsWhatRunsButReopensNoFinishedSession) {
    // Items for one Codex session "s", dated by its reported activity.
    const auto about = [](const std::string& evidence, Date at, const std::string& title) {
        AgentSession session = live("Codex", "s", evidence, at);
        session.title = title;
        return RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt, {session}, at, {})[0];
    };
    const auto strong = [&](Date at, const std::string& title = "as reported before") {
        return about(pendingTool, at, title);
    };
    const auto weak = [&](Date at) { return about(recentActivity, at, "as reported before"); };
    const auto doneOnItsOwn = [](Date at) {
        RunEvidence done;
        done.provider = "Codex";
        done.sessionID = "s";
        done.source = "rollout_terminal";
        done.strength = RunEvidenceStrength::strongComplete;
        done.observedAt = at;
        done.reason = "rollout terminal event";
        return done;
    };
    const auto scanFoundNothing = [](Date at) {
        return RunEvidence::derive("Codex", AgentRunState::complete, std::nullopt, {}, at, {})[0];
    };
    using State = RunStateLedger::UnitState;
    struct Refresh {
        Date now;
        std::vector<RunEvidence> items;
    };
    struct Case {
        const char* name;
        std::vector<Refresh> before;
        Refresh last; // its strong item is older than the unit and titled "now"
        State state;
        Date observedAt;
        std::optional<Date> expiresAt;
    };
    const Case cases[] = {
        {"active", {{T, {strong(T)}}}, {T + 3, {strong(T - 10, "now")}}, State::active, T, T + 8},
        {"stale once its lease ended", {{T, {strong(T)}}}, {T + 7, {strong(T - 10, "now")}}, State::active, T, T + 12},
        {"stale on a weak lease that had ended",
         {{T, {weak(T - 30)}}},
         {T + 1, {strong(T - 40, "now")}},
         State::active,
         T - 30,
         T + 6},
        {"active on a weak lease", {{T, {weak(T - 2)}}}, {T + 1, {strong(T - 10, "now")}}, State::active, T - 2, T + 6},
        {"complete on its own later evidence",
         {{T, {doneOnItsOwn(T)}}},
         {T + 1, {strong(T - 10, "now")}},
         State::complete,
         T,
         std::nullopt},
        {"active, then complete on its own later evidence of the same refresh",
         {{T - 1, {strong(T - 5)}}},
         {T, {doneOnItsOwn(T), strong(T - 10, "now")}},
         State::complete,
         T,
         std::nullopt},
        {"active, then complete by a scan after the evidence in the same refresh",
         {{T - 1, {strong(T - 5)}}},
         {T, {scanFoundNothing(T), strong(T - 10, "now")}},
         State::complete,
         T,
         std::nullopt},
        {"complete by a scan earlier in the same refresh",
         {{T - 1, {strong(T - 5)}}, {T, {scanFoundNothing(T)}}},
         {T, {strong(T - 10, "now")}},
         State::complete,
         T,
         std::nullopt},
        {"complete by the scan of an earlier refresh",
         {{T - 1, {strong(T - 5)}}, {T, {scanFoundNothing(T)}}},
         {T + 1, {strong(T - 10, "now")}},
         State::active,
         T - 10,
         T + 6},
    };
    for (const Case& c : cases) {
        RunStateLedger fresh(5);
        ledger = fresh;
        for (const Refresh& r : c.before)
            ledger.apply({ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, 0, r.now, {}, r.items)},
                         r.now);
        ledger.apply({ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, 0, c.last.now, {}, c.last.items)},
                     c.last.now);
        const auto* unit = ledger.unit("Codex", "s");
        ASSERT_NE(unit, nullptr) << c.name;
        EXPECT_EQ(unit->state, c.state) << c.name;
        EXPECT_EQ(unit->observedAt, c.observedAt) << c.name;
        EXPECT_EQ(unit->expiresAt, c.expiresAt) << c.name;
        if (c.state == State::active) {
            EXPECT_EQ(unit->strength, RunEvidenceStrength::strongActive) << c.name;
            ASSERT_TRUE(unit->session) << c.name;
            EXPECT_EQ(unit->session->title, "now") << c.name << ": the session as last reported";
        }
    }
}
