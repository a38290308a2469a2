#pragma once

#include "core/AgentSession.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/ProviderSnapshot.hpp"
#include "sync/StatusPayload.hpp"

#include <string>
#include <vector>

namespace brindleaf::testing {

// 2026-01-31T09:05:00Z
inline constexpr Date referenceDate = 1769850300.0;

inline AgentSession runningSession(const std::string& id, const std::string& provider = "Codex",
                                   const std::string& title = "Fix the build") {
    return AgentSession({.id = id, .provider = provider, .title = title, .cwd = "/work/app",
                         .evidence = "rollout has pending tool call"});
}

inline AgentStatusSnapshot snapshotOf(std::vector<ProviderSnapshot> providers, Date at = referenceDate) {
    return AgentStatusSnapshot::make(std::move(providers), at);
}

inline ProviderSnapshot providerOf(const std::string& name, std::vector<AgentSession> sessions, int64_t stale = 0,
                                   std::vector<std::string> errors = {}, Date at = referenceDate) {
    return ProviderSnapshot::make(name, std::nullopt, std::nullopt, std::move(sessions), stale, at, std::move(errors));
}

// A payload with every field filled.
inline StatusPayload fullPayload() {
    SessionStatusPayload session;
    session.id = "019a_7c2e1f99";
    session.shortID = "7c2e1f99";
    session.provider = "Codex";
    session.title = "Add offline mode";
    session.agentNickname = "scout";
    session.agentRole = "explorer";
    session.parentShortID = "abcd1234";
    session.parentTitle = "Parent task";
    session.parentAgentNickname = "lead";
    session.parentAgentRole = "planner";
    session.threadSource = "vscode";
    session.lastActivityAt = referenceDate - 30;
    session.evidence = "rollout has pending tool call";
    session.workspaceLabel = "/work/app";
    session.needsUserAttention = true;
    session.resourceUsage = SessionResourceUsagePayload{4242, 12.5, 301 * 1024 * 1024, 3};
    session.model = "gpt-5-codex";
    session.reasoningEffort = "high";
    session.evidenceStrength = StatusPayloadEvidenceStrength::recent;
    session.evidenceExpiresAt = referenceDate + 20;
    session.backgroundTaskSummary = "2 shells running";

    ProviderStatusPayload provider;
    provider.providerID = "codex";
    provider.name = "Codex";
    provider.state = StatusPayloadState::unknown;
    provider.activeCount = 1;
    provider.ignoredStaleSessions = 2;
    provider.checkedAt = referenceDate;
    provider.errorCount = 1;
    provider.errors = {"database is locked"};

    StatusPayload payload;
    payload.deviceID = "Desk";
    payload.checkedAt = referenceDate;
    payload.state = StatusPayloadState::inProgress;
    payload.activeCount = 1;
    payload.staleCount = 2;
    payload.providers = {provider};
    payload.sessions = {session};
    return payload;
}

} // namespace brindleaf::testing
