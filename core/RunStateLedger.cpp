#include "core/RunStateLedger.hpp"

#include "core/ActivityAge.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

namespace brindleaf {

namespace {

bool nonEmpty(const std::optional<std::string>& text) { return text && !text->empty(); }

// Newest last activity first; a session without one counts as the earliest
// possible time. Equal times fall back to the session id so the order shown
// does not change from one refresh to the next.
Date activityKey(const AgentSession& session) {
    constexpr Date earliest = -std::numeric_limits<Date>::infinity();
    const Date at = session.lastActivityAt.value_or(earliest);
    return std::isnan(at) ? earliest : at;
}

bool newerFirst(const RunStateLedger::Unit* a, const RunStateLedger::Unit* b) {
    const Date ta = activityKey(*a->session);
    const Date tb = activityKey(*b->session);
    if (ta != tb) return ta > tb;
    return a->session->id < b->session->id;
}

} // namespace

RunStateLedger::RunStateLedger(double strongActiveLeaseInterval)
    : strongActiveLeaseInterval_(strongActiveLeaseInterval) {}

void RunStateLedger::apply(const std::vector<ProviderSnapshot>& providerSnapshots, Date now) {
    if (std::isfinite(now) && clockWentBack(latestNow_, now)) forgetFutureEntries(now);
    expireUnits(now);
    std::vector<const RunEvidence*> order;
    for (const auto& snapshot : providerSnapshots) {
        const auto& evidence = snapshot.runEvidence;
        order.clear();
        order.reserve(evidence.size());
        for (const auto& item : evidence) order.push_back(&item);
        const auto precedes = [](const RunEvidence* a, const RunEvidence* b) { return RunEvidence::precedes(*a, *b); };
        if (!std::is_sorted(order.begin(), order.end(), precedes))
            std::stable_sort(order.begin(), order.end(), precedes);
        for (const RunEvidence* item : order) record(*item, now);
    }
    expireUnits(now);
}

void RunStateLedger::expireUnits(Date now) {
    for (auto& [provider, sessions] : units_) {
        for (auto& [sessionID, unit] : sessions) {
            if (unit.state == UnitState::active && unit.expiresAt && *unit.expiresAt <= now)
                unit.state = UnitState::stale;
        }
    }
}

void RunStateLedger::forgetFutureEntries(Date now) {
    for (auto provider = units_.begin(); provider != units_.end();) {
        std::erase_if(provider->second, [&](const auto& entry) {
            const Unit& unit = entry.second;
            return isDatedInFuture(unit.observedAt, now) || isDatedInFuture(unit.recordedAt, now);
        });
        provider = provider->second.empty() ? units_.erase(provider) : std::next(provider);
    }
    std::erase_if(providerScans_, [&](const auto& entry) { return isDatedInFuture(entry.second.scannedAt, now); });
}

void RunStateLedger::record(const RunEvidence& evidence, Date now) {
    switch (evidence.strength) {
    case RunEvidenceStrength::healthOnly:
        return;

    case RunEvidenceStrength::strongComplete:
        if (evidence.sessionID == RunEvidence::providerScanSessionID) {
            ProviderScan& scan = providerScans_[evidence.provider];
            scan.scannedAt = evidence.observedAt;
            scan.reason = evidence.reason.empty() ? std::string(ledgerCompleteReason) : evidence.reason;
            completeProviderUnits(evidence.provider, evidence.observedAt, evidence.reason);
            return;
        }
        [[fallthrough]];
    case RunEvidenceStrength::strongActive: {
        SessionUnits& sessions = units_[evidence.provider];
        auto it = sessions.find(evidence.sessionID);
        Date observedAt = evidence.observedAt;
        if (it != sessions.end() && it->second.observedAt > evidence.observedAt) {
            const Unit& held = it->second;
            if (evidence.strength == RunEvidenceStrength::strongActive && held.state != UnitState::complete) {
                // Still running on proof that dates it less recently than a
                // signal did before (a runtime-log row that has left its
                // window): the session runs on, and the unit keeps the later
                // time.
                observedAt = held.observedAt;
            } else {
                // A scan that found nothing running closed the unit at its own
                // time. A later scan that reports the session running again is
                // newer news than that, however old the session's last activity.
                const bool reportedAgain = evidence.strength == RunEvidenceStrength::strongActive &&
                                           held.completedByProviderScan && now > held.observedAt;
                if (!reportedAgain) return;
            }
        }
        Unit& unit = it != sessions.end() ? it->second : sessions[evidence.sessionID];
        unit.session = evidence.session;
        unit.strength = evidence.strength;
        unit.observedAt = observedAt;
        unit.reason = evidence.reason;
        unit.completedByProviderScan = false;
        unit.recordedAt = now;
        if (evidence.strength == RunEvidenceStrength::strongActive) {
            unit.state = UnitState::active;
            unit.expiresAt = evidence.expiresAt ? *evidence.expiresAt : now + strongActiveLeaseInterval_;
        } else {
            unit.state = UnitState::complete;
            unit.expiresAt.reset();
        }
        return;
    }

    case RunEvidenceStrength::weakRecent: {
        SessionUnits& sessions = units_[evidence.provider];
        auto it = sessions.find(evidence.sessionID);
        const bool leaseRunning = evidence.expiresAt && *evidence.expiresAt > now;
        if (leaseRunning && it != sessions.end() && it->second.state == UnitState::complete &&
            it->second.observedAt >= evidence.observedAt)
            return;
        Unit& unit = it != sessions.end() ? it->second : sessions[evidence.sessionID];
        unit.state = leaseRunning ? UnitState::active : UnitState::stale;
        unit.session = evidence.session;
        unit.strength = RunEvidenceStrength::weakRecent;
        unit.observedAt = evidence.observedAt;
        unit.expiresAt = evidence.expiresAt;
        unit.reason = evidence.reason;
        unit.completedByProviderScan = false;
        unit.recordedAt = now;
        return;
    }
    }
}

void RunStateLedger::completeProviderUnits(const std::string& provider, Date scanTime, const std::string& reason) {
    auto found = units_.find(provider);
    if (found == units_.end()) return;
    for (auto& [sessionID, unit] : found->second) {
        if (unit.observedAt > scanTime) continue;
        // A session that had completed on its own evidence stays ordered by
        // that: a later scan's report of older activity does not reopen it.
        unit.completedByProviderScan = unit.state != UnitState::complete || unit.completedByProviderScan;
        unit.state = UnitState::complete;
        unit.strength = RunEvidenceStrength::strongComplete;
        unit.observedAt = scanTime;
        unit.expiresAt.reset();
        unit.reason = reason;
        unit.recordedAt = scanTime;
    }
}

std::optional<std::string> RunStateLedger::completeReason(const std::string& provider) const {
    if (auto scan = providerScans_.find(provider); scan != providerScans_.end() && !scan->second.reason.empty())
        return scan->second.reason;
    auto found = units_.find(provider);
    if (found == units_.end()) return std::nullopt;
    const Unit* latest = nullptr;
    for (const auto& [sessionID, unit] : found->second) {
        if (unit.state != UnitState::complete) continue;
        if (!latest || unit.observedAt > latest->observedAt) latest = &unit;
    }
    if (latest && !latest->reason.empty()) return latest->reason;
    return std::nullopt;
}

std::optional<std::string> RunStateLedger::latestCompleteReason() const {
    const std::string* bestProvider = nullptr;
    const ProviderScan* best = nullptr;
    for (const auto& [provider, scan] : providerScans_) {
        if (scan.reason.empty()) continue;
        if (!best || scan.scannedAt > best->scannedAt ||
            (scan.scannedAt == best->scannedAt && provider < *bestProvider)) {
            best = &scan;
            bestProvider = &provider;
        }
    }
    if (best) return best->reason;
    return std::nullopt;
}

std::optional<std::string> RunStateLedger::statusEvidence(
    AgentRunState state, const std::vector<ProviderSnapshot>& committedSnapshots) const {
    for (const auto& snapshot : committedSnapshots) {
        if (snapshot.state != state) continue;
        if (nonEmpty(snapshot.statusEvidence)) return snapshot.statusEvidence;
        break;
    }
    const auto firstAny = [&]() -> std::optional<std::string> {
        for (const auto& snapshot : committedSnapshots)
            if (nonEmpty(snapshot.statusEvidence)) return snapshot.statusEvidence;
        return std::nullopt;
    };
    if (state != AgentRunState::complete) return firstAny();
    if (auto latest = latestCompleteReason()) return latest;
    if (auto any = firstAny()) return any;
    return std::string(ledgerCompleteReason);
}

void RunStateLedger::commitProvider(ProviderSnapshot& committed, const std::string& providerName, Date now,
                                    std::vector<AgentSession>* reported) const {
    std::vector<const Unit*> shown;
    if (auto found = units_.find(providerName); found != units_.end()) {
        shown.reserve(found->second.size());
        for (const auto& [sessionID, unit] : found->second) {
            if (unit.state == UnitState::active && unit.expiresAt && *unit.expiresAt > now && unit.session)
                shown.push_back(&unit);
        }
    }
    std::sort(shown.begin(), shown.end(), newerFirst);
    committed.activeSessions.reserve(shown.size());

    // A unit's session is most often the very session the provider just
    // reported. When the reported sessions are ours to take, such a session is
    // moved into the committed snapshot instead of copying the unit's: the two
    // are equal, so the result is the same. All matches are found before the
    // first move, while every reported session is still intact.
    constexpr uint32_t none = UINT32_MAX;
    std::vector<uint32_t> matches;
    if (reported && !reported->empty() && !shown.empty() && reported->size() < none) {
        std::vector<uint32_t> byID(reported->size());
        for (uint32_t i = 0; i < byID.size(); ++i) byID[i] = i;
        const auto idOf = [&](uint32_t index) -> const std::string& { return (*reported)[index].id; };
        std::sort(byID.begin(), byID.end(), [&](uint32_t a, uint32_t b) { return idOf(a) < idOf(b); });
        matches.assign(shown.size(), none);
        // Two units may hold sessions with one id (a provider's evidence names
        // its units): a reported session is handed over once at most.
        std::vector<bool> taken(reported->size(), false);
        for (size_t i = 0; i < shown.size(); ++i) {
            const AgentSession& wanted = *shown[i]->session;
            auto it = std::lower_bound(byID.begin(), byID.end(), wanted.id,
                                       [&](uint32_t index, const std::string& id) { return idOf(index) < id; });
            for (; it != byID.end() && idOf(*it) == wanted.id; ++it) {
                if (taken[*it] || (*reported)[*it] != wanted) continue;
                taken[*it] = true;
                matches[i] = *it;
                break;
            }
        }
    }

    bool running = false;
    for (size_t i = 0; i < shown.size(); ++i) {
        const Unit* unit = shown[i];
        if (!matches.empty() && matches[i] != none) {
            AgentSession& session = committed.activeSessions.emplace_back(std::move((*reported)[matches[i]]));
            session.evidenceStrength = unit->strength;
            session.evidenceLeaseExpiresAt = unit->expiresAt;
            if (session.runtimeProfile && session.runtimeProfile->isEmpty()) session.runtimeProfile.reset();
        } else {
            committed.activeSessions.push_back(unit->session->withEvidence(unit->strength, unit->expiresAt));
        }
        running = running || unit->session->isRunning();
    }
    committed.state = running ? AgentRunState::inProgress : AgentRunState::complete;
}

template <typename Snapshots>
AgentStatusSnapshot RunStateLedger::build(Snapshots&& providerSnapshots, Date now) const {
    constexpr bool movable =
        !std::is_const_v<std::remove_reference_t<Snapshots>> && std::is_rvalue_reference_v<Snapshots&&>;
    AgentStatusSnapshot result;
    result.providerSnapshots.reserve(providerSnapshots.size());
    size_t sessionCount = 0;
    for (auto& input : providerSnapshots) {
        ProviderSnapshot& committed = result.providerSnapshots.emplace_back();
        committed.providerName = input.providerName;
        if constexpr (movable)
            commitProvider(committed, input.providerName, now, &input.activeSessions);
        else
            commitProvider(committed, input.providerName, now, nullptr);
        sessionCount += committed.activeSessions.size();

        if (!committed.activeSessions.empty() && !committed.activeSessions.front().evidence.empty()) {
            committed.statusEvidence = committed.activeSessions.front().evidence;
        } else {
            std::optional<std::string> candidate;
            if (committed.state == AgentRunState::inProgress) {
                candidate = input.statusEvidence;
            } else {
                candidate = completeReason(input.providerName);
                if (!candidate) candidate = input.statusEvidence;
                if (!candidate) candidate = std::string(ledgerCompleteReason);
            }
            if (nonEmpty(candidate))
                committed.statusEvidence = std::move(candidate);
            else if (!input.errors.empty() && !input.errors.front().empty())
                committed.statusEvidence = input.errors.front();
        }

        committed.ignoredStaleSessions = input.ignoredStaleSessions;
        committed.checkedAt = input.checkedAt;
        committed.readNothing = input.readNothing;
        if constexpr (movable) {
            committed.errors = std::move(input.errors);
            committed.runEvidence = std::move(input.runEvidence);
        } else {
            committed.errors = input.errors;
            committed.runEvidence = input.runEvidence;
        }
    }

    result.activeSessions.reserve(sessionCount);
    bool running = false;
    for (const auto& committed : result.providerSnapshots) {
        for (const auto& session : committed.activeSessions) {
            result.activeSessions.push_back(session);
            running = running || session.isRunning();
        }
    }
    result.state = running ? AgentRunState::inProgress : AgentRunState::complete;
    result.statusEvidence = statusEvidence(result.state, result.providerSnapshots);
    if (!nonEmpty(result.statusEvidence))
        result.statusEvidence =
            AgentStatusSnapshot::summaryEvidence(result.state, result.activeSessions, result.providerSnapshots);
    result.checkedAt = now;
    return result;
}

AgentStatusSnapshot RunStateLedger::buildSnapshot(const std::vector<ProviderSnapshot>& providerSnapshots,
                                                  Date now) const {
    return build(providerSnapshots, now);
}

AgentStatusSnapshot RunStateLedger::buildSnapshot(std::vector<ProviderSnapshot>&& providerSnapshots, Date now) const {
    return build(std::move(providerSnapshots), now);
}

const RunStateLedger::Unit* RunStateLedger::unit(const std::string& provider, const std::string& sessionID) const {
    auto found = units_.find(provider);
    if (found == units_.end()) return nullptr;
    auto it = found->second.find(sessionID);
    return it == found->second.end() ? nullptr : &it->second;
}

size_t RunStateLedger::unitCount() const {
    size_t count = 0;
    for (const auto& [provider, sessions] : units_) count += sessions.size();
    return count;
}

std::optional<Date> RunStateLedger::providerSuccessfulScan(const std::string& provider) const {
    auto found = providerScans_.find(provider);
    if (found == providerScans_.end()) return std::nullopt;
    return found->second.scannedAt;
}

std::optional<std::string> RunStateLedger::providerCompleteReason(const std::string& provider) const {
    auto found = providerScans_.find(provider);
    if (found == providerScans_.end()) return std::nullopt;
    return found->second.reason;
}

} // namespace brindleaf
