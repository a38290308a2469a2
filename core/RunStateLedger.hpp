#pragma once

#include "core/AgentRunState.hpp"
#include "core/AgentSession.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/Date.hpp"
#include "core/ProviderSnapshot.hpp"
#include "core/RunEvidence.hpp"
#include "core/RunEvidenceStrength.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brindleaf {

// Smooths noisy provider scans over time. One unit per provider and session
// id, fed by the run evidence of every provider snapshot: strong evidence gets
// a short lease, weak evidence the lease it carries, and a scan that found
// nothing running completes the provider's units. The committed snapshot shows
// only active units whose lease has not ended.
//
// A unit is normally ordered by the time of the activity it reports, and
// older evidence does not overturn it. Two exceptions keep what is running
// shown. Strong evidence that a session runs renews a unit that is active or
// stale, however old the activity it reports: the proof a provider has may
// date a session less recently than an earlier signal did (a runtime-log row
// leaving its window), and the unit keeps the later of the two times. A unit
// that a scan finding nothing running closed is ordered by that scan's time:
// a session that a later scan reports running again on strong evidence is
// shown again, however old its own last activity (its folder may only have
// been away for a moment, or the program was stopped). A unit completed by its
// session's own later evidence stays complete.
//
// When the wall clock is found to have gone back by more than
// `futureActivitySkew`, every unit recorded or observed after the new now, and
// every scan time after it, is forgotten: dated in what is now the future, such
// an entry would otherwise outrank, or outlast, everything the scans report
// until the clock has caught up.
//
// A plain value without a lock of its own; its owner serialises access.
class RunStateLedger {
public:
    static constexpr std::string_view ledgerCompleteReason =
        "ledger: no active run evidence after successful provider scan";

    enum class UnitState { active, complete, stale };

    struct UnitKey {
        std::string provider;
        std::string sessionID;
        bool operator==(const UnitKey&) const = default;
    };

    struct UnitKeyHash {
        size_t operator()(const UnitKey& key) const {
            const size_t a = std::hash<std::string>{}(key.provider);
            const size_t b = std::hash<std::string>{}(key.sessionID);
            return a ^ (b + 0x9e3779b97f4a7c15ULL + (a << 6) + (a >> 2));
        }
    };

    struct Unit {
        UnitState state = UnitState::stale;
        std::optional<AgentSession> session;
        RunEvidenceStrength strength = RunEvidenceStrength::healthOnly;
        Date observedAt = 0;
        std::optional<Date> expiresAt;
        std::string reason;
        // Closed by a scan of its provider that found nothing running; then
        // `observedAt` is that scan's time.
        bool completedByProviderScan = false;
        // The ledger's now when the unit was last set.
        Date recordedAt = 0;
    };

    explicit RunStateLedger(double strongActiveLeaseInterval = 5);

    double strongActiveLeaseInterval() const { return strongActiveLeaseInterval_; }

    // Records every provider snapshot's run evidence, with `now` as the current time.
    void apply(const std::vector<ProviderSnapshot>& providerSnapshots, Date now);

    // The committed snapshot for these provider snapshots. The rvalue form moves
    // the snapshots' errors and run evidence into the result instead of copying,
    // and takes reported sessions equal to the ones it shows; the result is the same.
    AgentStatusSnapshot buildSnapshot(const std::vector<ProviderSnapshot>& providerSnapshots, Date now) const;
    AgentStatusSnapshot buildSnapshot(std::vector<ProviderSnapshot>&& providerSnapshots, Date now) const;

    // Inner steps, public so that callers and tests can drive them one by one.
    void expireUnits(Date now);
    // Forgets every unit recorded or observed, and every scan time, more than
    // `futureActivitySkew` after `now`.
    void forgetFutureEntries(Date now);
    void record(const RunEvidence& evidence, Date now);
    void completeProviderUnits(const std::string& provider, Date scanTime, const std::string& reason);
    std::optional<std::string> completeReason(const std::string& provider) const;
    std::optional<std::string> latestCompleteReason() const;
    std::optional<std::string> statusEvidence(AgentRunState state,
                                              const std::vector<ProviderSnapshot>& committedSnapshots) const;

    // Read access to the recorded units.
    const Unit* unit(const std::string& provider, const std::string& sessionID) const;
    const Unit* unit(const UnitKey& key) const { return unit(key.provider, key.sessionID); }
    size_t unitCount() const;
    std::optional<Date> providerSuccessfulScan(const std::string& provider) const;
    std::optional<std::string> providerCompleteReason(const std::string& provider) const;

private:
    // Units grouped by provider name, then keyed by session id: the provider
    // steps of a refresh touch only that provider's units.
    using SessionUnits = std::unordered_map<std::string, Unit>;

    struct ProviderScan {
        Date scannedAt = 0;
        std::string reason;
    };

    template <typename Snapshots>
    AgentStatusSnapshot build(Snapshots&& providerSnapshots, Date now) const;
    // Fills the committed provider snapshot from the live units. `reported`, when
    // given, holds sessions the caller gives up; equal ones are moved in.
    void commitProvider(ProviderSnapshot& committed, const std::string& providerName, Date now,
                        std::vector<AgentSession>* reported) const;

    double strongActiveLeaseInterval_;
    // The latest now an apply was given; a later apply whose now lies well
    // before it finds the clock gone back.
    std::optional<Date> latestNow_;
    std::unordered_map<std::string, SessionUnits> units_;
    std::unordered_map<std::string, ProviderScan> providerScans_;
};

} // namespace brindleaf
