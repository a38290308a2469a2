#pragma once

#include "core/AgentRunState.hpp"
#include "core/AgentSession.hpp"
#include "core/Date.hpp"
#include "core/ProviderSnapshot.hpp"

#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// The status of all providers at one time.
struct AgentStatusSnapshot {
    AgentRunState state = AgentRunState::complete;
    std::optional<std::string> statusEvidence;
    std::vector<AgentSession> activeSessions;
    std::vector<ProviderSnapshot> providerSnapshots;
    Date checkedAt = 0;

    // Concatenates the sessions in provider order and derives what is not given.
    static AgentStatusSnapshot make(std::vector<ProviderSnapshot> providerSnapshots, Date checkedAt,
                                    std::optional<AgentRunState> state = std::nullopt,
                                    std::optional<std::string> statusEvidence = std::nullopt);

    static std::optional<std::string> summaryEvidence(AgentRunState state, const std::vector<AgentSession>& sessions,
                                                      const std::vector<ProviderSnapshot>& providerSnapshots);

    std::vector<AgentSession> runningSessions() const;
    std::vector<AgentSession> waitingSessions() const;
};

} // namespace brindleaf
