#include "core/AgentSession.hpp"

#include <algorithm>
#include <limits>
#include <utility>

namespace brindleaf {

AgentSession::AgentSession(AgentSessionFields fields) : AgentSessionFields(std::move(fields)) {
    if (runtimeProfile && runtimeProfile->isEmpty()) runtimeProfile.reset();
}

AgentSession AgentSession::withEvidence(std::optional<RunEvidenceStrength> strength,
                                        std::optional<Date> leaseExpiresAt) const {
    AgentSession copy(*this);
    copy.evidenceStrength = strength;
    copy.evidenceLeaseExpiresAt = leaseExpiresAt;
    if (copy.runtimeProfile && copy.runtimeProfile->isEmpty()) copy.runtimeProfile.reset();
    return copy;
}

void sortSessionsNewestFirst(std::vector<AgentSession>& sessions) {
    // Sessions are large: the order is found on their dates, then each moves once.
    const std::size_t count = sessions.size();
    std::vector<double> dates;
    dates.reserve(count);
    for (const auto& session : sessions)
        dates.push_back(session.lastActivityAt.value_or(-std::numeric_limits<double>::infinity()));
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return dates[a] > dates[b]; });
    bool unchanged = true;
    for (std::size_t i = 0; i < count && unchanged; ++i) unchanged = order[i] == i;
    if (unchanged) return;
    std::vector<AgentSession> sorted;
    sorted.reserve(count);
    for (std::size_t index : order) sorted.push_back(std::move(sessions[index]));
    sessions = std::move(sorted);
}

} // namespace brindleaf
