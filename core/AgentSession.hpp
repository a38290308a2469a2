#pragma once

#include "core/Date.hpp"
#include "core/RunEvidenceStrength.hpp"
#include "core/SessionResourceUsage.hpp"
#include "core/SessionRuntimeProfile.hpp"

#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// The stored fields of one agent session, in declaration order. Build sessions
// through AgentSession so the normalising rules apply:
//   AgentSession session({.id = "abc", .provider = "Codex", .title = "Fix it", ...});
// Every field has a default member initializer, so designated initializers may
// leave any of them out without tripping -Wmissing-field-initializers.
struct AgentSessionFields {
    std::string id{};
    std::string provider{};
    std::optional<std::string> parentID{};
    std::optional<std::string> agentNickname{};
    std::optional<std::string> agentRole{};
    std::optional<std::string> parentTitle{};
    std::optional<std::string> parentAgentNickname{};
    std::optional<std::string> parentAgentRole{};
    std::optional<std::string> threadSource{};
    std::string title{};
    std::string cwd{};
    std::optional<std::string> rolloutPath{};
    std::optional<Date> lastActivityAt{};
    std::string evidence{};
    bool needsUserAttention = false;
    std::optional<SessionResourceUsage> resourceUsage{};
    std::optional<SessionRuntimeProfile> runtimeProfile{};
    std::optional<RunEvidenceStrength> evidenceStrength{};
    std::optional<Date> evidenceLeaseExpiresAt{};
    std::optional<std::string> backgroundTaskSummary{};

    bool operator==(const AgentSessionFields&) const = default;
};

// One agent session as shown, synced and dumped.
struct AgentSession : AgentSessionFields {
    AgentSession() = default;
    // Stores the fields as given, except that an empty runtime profile is stored as absent.
    explicit AgentSession(AgentSessionFields fields);

    // Running means the agent is not waiting for the user.
    bool isRunning() const { return !needsUserAttention; }

    // A copy with the ledger's strength and lease.
    AgentSession withEvidence(std::optional<RunEvidenceStrength> strength, std::optional<Date> leaseExpiresAt) const;

    bool operator==(const AgentSession&) const = default;
};

// Latest activity first, sessions without a date last; equal dates keep their order.
void sortSessionsNewestFirst(std::vector<AgentSession>& sessions);

} // namespace brindleaf
