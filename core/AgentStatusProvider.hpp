#pragma once

#include "core/Date.hpp"
#include "core/ProviderSnapshot.hpp"

#include <string>

namespace brindleaf {

// The provider contract. snapshot() runs on a worker thread of the detection
// service and never throws: problems become error texts of the snapshot. The
// service never calls one provider again while its previous call still runs.
class AgentStatusProvider {
public:
    virtual ~AgentStatusProvider() = default;
    // The display name: "Codex", "Claude Code" or "Hermes". Equals the providerName of every snapshot it returns.
    virtual std::string name() const = 0;
    virtual ProviderSnapshot snapshot(Date at) = 0;
};

} // namespace brindleaf
