#pragma once

#include "core/AgentRunState.hpp"
#include "core/AgentSession.hpp"
#include "core/Date.hpp"
#include "core/RunEvidence.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// One provider's scan result. Providers build it with make(), which derives the
// state, the status evidence and the run evidence that are not given.
struct ProviderSnapshot {
    std::string providerName;
    AgentRunState state = AgentRunState::complete;
    std::optional<std::string> statusEvidence;
    std::vector<AgentSession> activeSessions;
    int64_t ignoredStaleSessions = 0;
    Date checkedAt = 0;
    std::vector<std::string> errors;
    std::vector<RunEvidence> runEvidence;
    // The scan failed as a whole: sources of the agent are there but it could
    // read none of them, it threw, or it was late or still busy, so its lack
    // of sessions says nothing about the agent. A source that is not there
    // has been read (nothing runs there), and a scan that read its sessions
    // (or that none run) with an error on one source leaves it false too.
    // Shown nowhere and never encoded; the tray reads it to tell "nothing
    // could be read" from "nothing runs".
    bool readNothing = false;
    // The scan did not answer within the service's bound (a stand-in).
    bool timedOut = false;

    static ProviderSnapshot make(std::string providerName, std::optional<AgentRunState> state,
                                 std::optional<std::string> statusEvidence, std::vector<AgentSession> activeSessions,
                                 int64_t ignoredStaleSessions, Date checkedAt, std::vector<std::string> errors,
                                 std::optional<std::vector<RunEvidence>> runEvidence = std::nullopt);

    // inProgress when a session is running; otherwise unknown when there are errors; otherwise complete.
    static AgentRunState stateForSessions(const std::vector<AgentSession>& sessions,
                                          const std::vector<std::string>& errors);
};

} // namespace brindleaf
