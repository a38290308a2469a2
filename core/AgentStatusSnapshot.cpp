#include "core/AgentStatusSnapshot.hpp"

#include <algorithm>
#include <utility>

namespace brindleaf {

AgentStatusSnapshot AgentStatusSnapshot::make(std::vector<ProviderSnapshot> providerSnapshots, Date checkedAt,
                                              std::optional<AgentRunState> state,
                                              std::optional<std::string> statusEvidence) {
    AgentStatusSnapshot snapshot;
    for (const auto& provider : providerSnapshots)
        snapshot.activeSessions.insert(snapshot.activeSessions.end(), provider.activeSessions.begin(),
                                       provider.activeSessions.end());
    if (state) {
        snapshot.state = *state;
    } else {
        const bool running = std::any_of(snapshot.activeSessions.begin(), snapshot.activeSessions.end(),
                                         [](const AgentSession& s) { return s.isRunning(); });
        snapshot.state = running ? AgentRunState::inProgress : AgentRunState::complete;
    }
    if (statusEvidence && !statusEvidence->empty())
        snapshot.statusEvidence = std::move(statusEvidence);
    else
        snapshot.statusEvidence = summaryEvidence(snapshot.state, snapshot.activeSessions, providerSnapshots);
    snapshot.providerSnapshots = std::move(providerSnapshots);
    snapshot.checkedAt = checkedAt;
    return snapshot;
}

std::optional<std::string> AgentStatusSnapshot::summaryEvidence(AgentRunState state,
                                                                const std::vector<AgentSession>& sessions,
                                                                const std::vector<ProviderSnapshot>& providerSnapshots) {
    if (!sessions.empty() && !sessions.front().evidence.empty()) return sessions.front().evidence;
    for (const auto& provider : providerSnapshots) {
        if (provider.state != state) continue;
        if (provider.statusEvidence && !provider.statusEvidence->empty()) return provider.statusEvidence;
        break;
    }
    for (const auto& provider : providerSnapshots)
        if (provider.statusEvidence && !provider.statusEvidence->empty()) return provider.statusEvidence;
    return std::nullopt;
}

std::vector<AgentSession> AgentStatusSnapshot::runningSessions() const {
    std::vector<AgentSession> out;
    std::copy_if(activeSessions.begin(), activeSessions.end(), std::back_inserter(out),
                 [](const AgentSession& s) { return s.isRunning(); });
    return out;
}

std::vector<AgentSession> AgentStatusSnapshot::waitingSessions() const {
    std::vector<AgentSession> out;
    std::copy_if(activeSessions.begin(), activeSessions.end(), std::back_inserter(out),
                 [](const AgentSession& s) { return !s.isRunning(); });
    return out;
}

} // namespace brindleaf
