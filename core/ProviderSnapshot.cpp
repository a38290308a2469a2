#include "core/ProviderSnapshot.hpp"

#include <algorithm>
#include <utility>

namespace brindleaf {

AgentRunState ProviderSnapshot::stateForSessions(const std::vector<AgentSession>& sessions,
                                                 const std::vector<std::string>& errors) {
    if (std::any_of(sessions.begin(), sessions.end(), [](const AgentSession& s) { return s.isRunning(); }))
        return AgentRunState::inProgress;
    if (!errors.empty()) return AgentRunState::unknown;
    return AgentRunState::complete;
}

ProviderSnapshot ProviderSnapshot::make(std::string providerName, std::optional<AgentRunState> state,
                                        std::optional<std::string> statusEvidence,
                                        std::vector<AgentSession> activeSessions, int64_t ignoredStaleSessions,
                                        Date checkedAt, std::vector<std::string> errors,
                                        std::optional<std::vector<RunEvidence>> runEvidence) {
    ProviderSnapshot snapshot;
    snapshot.state = state ? *state : stateForSessions(activeSessions, errors);
    if (statusEvidence && !statusEvidence->empty()) {
        snapshot.statusEvidence = std::move(statusEvidence);
    } else if (!activeSessions.empty() && !activeSessions.front().evidence.empty()) {
        snapshot.statusEvidence = activeSessions.front().evidence;
    } else if (!errors.empty() && !errors.front().empty()) {
        snapshot.statusEvidence = errors.front();
    }
    if (runEvidence) {
        snapshot.runEvidence = std::move(*runEvidence);
    } else {
        snapshot.runEvidence = RunEvidence::derive(providerName, snapshot.state, snapshot.statusEvidence,
                                                   activeSessions, checkedAt, errors);
    }
    snapshot.providerName = std::move(providerName);
    snapshot.activeSessions = std::move(activeSessions);
    snapshot.ignoredStaleSessions = ignoredStaleSessions;
    snapshot.checkedAt = checkedAt;
    snapshot.errors = std::move(errors);
    return snapshot;
}

} // namespace brindleaf
