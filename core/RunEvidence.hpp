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
};

} // namespace brindleaf
