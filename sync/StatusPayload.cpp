#include "sync/StatusPayload.hpp"

#include <algorithm>

namespace brindleaf {

std::string_view toString(StatusPayloadState state) {
    switch (state) {
    case StatusPayloadState::inProgress:
        return "inProgress";
    case StatusPayloadState::complete:
        return "complete";
    case StatusPayloadState::unknown:
        return "unknown";
    }
    return "unknown";
}

std::optional<StatusPayloadState> statusPayloadStateFromString(std::string_view raw) {
    if (raw == "inProgress") return StatusPayloadState::inProgress;
    if (raw == "complete") return StatusPayloadState::complete;
    if (raw == "unknown") return StatusPayloadState::unknown;
    return std::nullopt;
}

std::string_view toString(StatusPayloadEvidenceStrength strength) {
    return strength == StatusPayloadEvidenceStrength::recent ? "recent" : "confirmed";
}

std::optional<StatusPayloadEvidenceStrength> statusPayloadEvidenceStrengthFromString(std::string_view raw) {
    if (raw == "confirmed") return StatusPayloadEvidenceStrength::confirmed;
    if (raw == "recent") return StatusPayloadEvidenceStrength::recent;
    return std::nullopt;
}

int64_t StatusPayload::recentEvidenceSessionCount() const {
    return std::count_if(sessions.begin(), sessions.end(), [](const SessionStatusPayload& session) {
        return session.evidenceStrength == StatusPayloadEvidenceStrength::recent;
    });
}

StatusPayload StatusPayload::sample() {
    const Date now = currentDate();
    auto session = [&](std::string id, std::string shortID, std::string provider, std::string title,
                       std::string evidence, std::string workspace, bool needsUser, double secondsAgo,
                       SessionResourceUsagePayload usage, std::string model, std::string effort) {
        SessionStatusPayload s;
        s.id = std::move(id);
        s.shortID = std::move(shortID);
        s.provider = std::move(provider);
        s.title = std::move(title);
        s.lastActivityAt = now - secondsAgo;
        s.evidence = std::move(evidence);
        s.workspaceLabel = std::move(workspace);
        s.needsUserAttention = needsUser;
        s.resourceUsage = usage;
        s.model = std::move(model);
        s.reasoningEffort = std::move(effort);
        return s;
    };
    StatusPayload payload;
    payload.schemaVersion = 1;
    payload.deviceID = "Sample Computer";
    payload.checkedAt = now;
    payload.state = StatusPayloadState::inProgress;
    payload.activeCount = 3;
    payload.staleCount = 0;
    payload.sessions = {
        session("sample-codex-7c2e1f", "sample-c", "Codex", "Add offline mode to the sync client",
                "rollout has pending tool call", "/Users/Shared/Projects/weather-app", false, 12,
                {4242, 38.5, 412 * 1024 * 1024, 3}, "gpt-5-codex", "high"),
        session("sample-claude-a19b44", "sample-c", "Claude Code", "Write release notes for version 2.0",
                "Claude turn awaiting assistant response", "/Users/Shared/Projects/website", false, 5,
                {5151, 12.0, 301 * 1024 * 1024, 1}, "claude-sonnet-4-5", "medium"),
        session("sample-claude-d42c90", "sample-c", "Claude Code", "Choose a database migration plan",
                "Claude is waiting for your choice", "/Users/Shared/Projects/inventory-service", true, 40,
                {6262, 0.4, 188 * 1024 * 1024, 1}, "claude-opus-4-1", "high"),
    };
    auto provider = [&](std::string id, std::string name, StatusPayloadState state, int64_t active) {
        ProviderStatusPayload p;
        p.providerID = std::move(id);
        p.name = std::move(name);
        p.state = state;
        p.activeCount = active;
        p.checkedAt = now;
        return p;
    };
    payload.providers = {provider("codex", "Codex", StatusPayloadState::inProgress, 1),
                         provider("claude", "Claude Code", StatusPayloadState::inProgress, 2),
                         provider("hermes", "Hermes", StatusPayloadState::complete, 0)};
    return payload;
}

} // namespace brindleaf
