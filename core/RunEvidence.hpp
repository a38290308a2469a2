#pragma once

#include "core/AgentRunState.hpp"
#include "core/AgentSession.hpp"
#include "core/Date.hpp"
#include "core/RunEvidenceStrength.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// One dated observation about one session, or about a whole provider scan.
struct RunEvidence {
    // The session id of evidence about a scan as a whole.
    static constexpr std::string_view providerScanSessionID = "__provider_scan__";
    // The lease of weak evidence, counted from its observation time.
    static constexpr double weakRecentLeaseInterval = 20;

    std::string provider;
    std::string sessionID;
    std::string source;
    RunEvidenceStrength strength = RunEvidenceStrength::healthOnly;
    Date observedAt = 0;
    std::optional<Date> expiresAt;
    std::string reason;
    std::optional<AgentSession> session;

    bool operator==(const RunEvidence&) const = default;

    // Turns the parts of one scan into evidence for the ledger.
    static std::vector<RunEvidence> derive(const std::string& provider, AgentRunState state,
                                           const std::optional<std::string>& statusEvidence,
                                           const std::vector<AgentSession>& sessions, Date checkedAt,
                                           const std::vector<std::string>& errors);

    // The source name an evidence sentence stands for.
    static std::string sourceName(std::string_view evidence);

    // True when a session's evidence sentence only shows recent signs of life
    // (weak evidence with a short lease) rather than proving a run.
    static bool isWeakSentence(std::string_view evidence);

    // Order in which evidence of equal time is recorded: health, weak, strong active, scan completion.
    static int evidenceRank(RunEvidenceStrength strength);
    int evidenceRank() const { return evidenceRank(strength); }

    // True when `a` is recorded before `b`: the earlier observation first, and at
    // equal times the lower rank first.
    static bool precedes(const RunEvidence& a, const RunEvidence& b);
};

} // namespace brindleaf
