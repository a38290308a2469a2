#pragma once

#include "core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// The overall or per-provider state carried by the payload; one to one with AgentRunState.
enum class StatusPayloadState { inProgress, complete, unknown };

std::string_view toString(StatusPayloadState state);
std::optional<StatusPayloadState> statusPayloadStateFromString(std::string_view raw);

// How firm a session's evidence is: weak recent evidence is "recent".
enum class StatusPayloadEvidenceStrength { confirmed, recent };

std::string_view toString(StatusPayloadEvidenceStrength strength);
std::optional<StatusPayloadEvidenceStrength> statusPayloadEvidenceStrengthFromString(std::string_view raw);

// CPU, memory and process count of one session.
struct SessionResourceUsagePayload {
    int64_t pid = 0;
    std::optional<double> cpuPercent;
    std::optional<int64_t> residentMemoryBytes;
    int64_t processCount = 1; // at least 1

    bool operator==(const SessionResourceUsagePayload&) const = default;
};

// One session as the companion sees it.
struct SessionStatusPayload {
    std::string id;
    std::string shortID;
    std::string provider;
    std::string title;
    std::optional<std::string> agentNickname;
    std::optional<std::string> agentRole;
    std::optional<std::string> parentShortID;
    std::optional<std::string> parentTitle;
    std::optional<std::string> parentAgentNickname;
    std::optional<std::string> parentAgentRole;
    std::optional<std::string> threadSource;
    std::optional<Date> lastActivityAt;
    std::string evidence;
    std::optional<std::string> workspaceLabel;
    bool needsUserAttention = false;
    std::optional<SessionResourceUsagePayload> resourceUsage;
    std::optional<std::string> model;
    std::optional<std::string> reasoningEffort;
    StatusPayloadEvidenceStrength evidenceStrength = StatusPayloadEvidenceStrength::confirmed;
    std::optional<Date> evidenceExpiresAt;
    std::optional<std::string> backgroundTaskSummary;

    bool operator==(const SessionStatusPayload&) const = default;
};

// One agent.
struct ProviderStatusPayload {
    std::string providerID;
    std::string name;
    StatusPayloadState state = StatusPayloadState::complete;
    int64_t activeCount = 0;
    int64_t ignoredStaleSessions = 0;
    Date checkedAt = 0;
    int64_t errorCount = 0;
    std::vector<std::string> errors;

    const std::string& id() const { return providerID; }
    bool operator==(const ProviderStatusPayload&) const = default;
};

// The privacy-filtered summary of one committed snapshot that leaves the machine.
struct StatusPayload {
    int64_t schemaVersion = 1;
    std::string deviceID;
    Date checkedAt = 0;
    StatusPayloadState state = StatusPayloadState::complete;
    int64_t activeCount = 0;
    int64_t staleCount = 0;
    std::vector<ProviderStatusPayload> providers;
    std::vector<SessionStatusPayload> sessions;

    // The carried sessions whose evidence is recent.
    int64_t recentEvidenceSessionCount() const;

    // A fixed payload with three sessions, for previews.
    static StatusPayload sample();

    bool operator==(const StatusPayload&) const = default;
};

} // namespace brindleaf
