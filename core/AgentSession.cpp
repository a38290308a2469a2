#include "core/AgentSession.hpp"

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

} // namespace brindleaf
