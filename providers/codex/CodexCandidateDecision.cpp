// The verdict on one candidate thread: working, finished or stale.
#include "providers/codex/CodexStatusProvider.hpp"

#include "core/ActivityAge.hpp"
#include "core/TextUtils.hpp"

#include <limits>

namespace brindleaf {

namespace {

constexpr std::size_t titleLimit = 80;

RunEvidence completionEvidence(const CodexCandidate& candidate, std::string source, Date observedAt,
                               std::string reason) {
    RunEvidence evidence;
    evidence.provider = std::string(CodexStatusProvider::providerName);
    evidence.sessionID = candidate.id;
    evidence.source = std::move(source);
    evidence.strength = RunEvidenceStrength::strongComplete;
    evidence.observedAt = observedAt;
    evidence.reason = std::move(reason);
    return evidence;
}

} // namespace

CodexStatusProvider::CandidateDecision CodexStatusProvider::decide(const CodexCandidate& candidate, Date now,
                                                                   const std::vector<ProcessResourceSample>& samples,
                                                                   const ManagedProcessesByConversation& managed) {
    return decide(candidate, now, ProcessView(samples, managed));
}

CodexStatusProvider::CandidateDecision CodexStatusProvider::decide(const CodexCandidate& candidate, Date now,
                                                                   const ProcessView& processes) {
    fileStat_.refresh();
    return decideCandidate(candidate, now, processes);
}

CodexStatusProvider::CandidateDecision CodexStatusProvider::decideCandidate(const CodexCandidate& candidate, Date now,
                                                                            const ProcessView& processes,
                                                                            const std::string* title,
                                                                            const CodexOfficialThreadStatus* live) {
    const bool officialActive = candidate.hasSource("official_app_server_active");
    const bool officialSystemError = candidate.hasSource("official_app_server_system_error");
    const bool officialIdle = candidate.hasSource("official_app_server_idle");
    const bool closedEdge = candidate.hasSource("closed_spawn_edge");
    const bool openEdge = candidate.hasSource("open_spawn_edge");
    const bool runtimeLog = candidate.hasSource("runtime_log");
    // The Codex daemon's word on a running thread: a wait needs the user while
    // a Codex runs to show its prompt (a daemon whose Codex is gone keeps
    // reporting the last wait, which then counts for nothing); running without
    // a wait is work, whatever the rollout's pending call says.
    const std::optional<CodexOfficialThreadRunState> liveState = live ? live->state : candidate.liveState;
    const CodexThreadWait liveWait = live ? live->wait : candidate.liveWait;
    const bool liveActive = liveState == CodexOfficialThreadRunState::active &&
                            (liveWait == CodexThreadWait::none || processes.codexFrontEndRunning());
    // Idle is the end of the turn, even over a pending call in the rollout.
    const bool liveIdle = liveState == CodexOfficialThreadRunState::idle;

    // 2. The parent closed the spawn edge (unless the app server says the thread
    // runs). Only the rollout's date matters here, which is its modification
    // time: the tail itself is not read.
    if (closedEdge && !officialActive && !officialSystemError && !liveActive) {
        std::optional<Date> fileDate;
        if (candidate.rolloutPath)
            if (auto info = fileStat_.info(*candidate.rolloutPath)) fileDate = info->modifiedAt;
        const Date observedAt = codex::latestDate(fileDate, candidate.updatedAt).value_or(now);
        return CandidateDecision::inactive(
            completionEvidence(candidate, "closed_spawn_edge", observedAt, "thread spawn edge closed"));
    }

    std::optional<RolloutTailState> tail;
    if (candidate.rolloutPath)
        tail = rolloutAnalyzer_.state(*candidate.rolloutPath, fileStat_.info(*candidate.rolloutPath));
    const std::optional<Date> latest = codex::latestDate(tail ? tail->lastEventAt : std::nullopt, candidate.updatedAt);
    const double age = latest ? activityAge(now, *latest) : std::numeric_limits<double>::infinity();

    const auto activeSession = [&](std::string evidence, bool needsUser) {
        AgentSessionFields fields;
        fields.id = candidate.id;
        fields.provider = std::string(providerName);
        fields.parentID = candidate.parentID;
        fields.agentNickname = candidate.agentNickname;
        fields.agentRole = candidate.agentRole;
        if (candidate.parentTitle) fields.parentTitle = firstLineTruncated(titleLimit, *candidate.parentTitle);
        fields.parentAgentNickname = candidate.parentAgentNickname;
        fields.parentAgentRole = candidate.parentAgentRole;
        fields.threadSource = candidate.threadSource;
        fields.title = firstLineTruncated(titleLimit, title ? *title : candidate.title);
        fields.cwd = candidate.cwd;
        fields.rolloutPath = candidate.rolloutPath;
        fields.lastActivityAt = latest ? *latest : now;
        fields.evidence = std::move(evidence);
        fields.needsUserAttention = needsUser;
        fields.resourceUsage = sessionResourceUsage(candidate, processes);
        fields.runtimeProfile = candidate.runtimeProfile;
        return CandidateDecision::active(AgentSession(std::move(fields)));
    };
    const auto officialIdleEvidence = [&] {
        return CandidateDecision::inactive(completionEvidence(candidate, "official", candidate.updatedAt.value_or(now),
                                                              "official Codex app-server status: idle"));
    };

    if (liveActive) {
        switch (liveWait) {
        case CodexThreadWait::none:
            return activeSession("official Codex app-server status: active", false);
        case CodexThreadWait::approval:
            return activeSession(std::string(codex::waitsForApproval), true);
        case CodexThreadWait::userInput:
            return activeSession(std::string(codex::waitsForAnswer), true);
        }
    }
    if (liveIdle && !officialActive && !officialSystemError) return officialIdleEvidence();

    // 1. The app server says it runs, or is in an error the user must see.
    if (officialActive || officialSystemError) {
        const bool needsUser =
            candidate.officialNeedsUserAttention || officialSystemError || (tail && tail->hasPendingUserAttention);
        return activeSession(officialActive ? "official Codex app-server status: active"
                                            : "official Codex app-server status: systemError",
                             needsUser);
    }
    if (tail) {
        // 4. and 5. Unfinished work in the rollout, unless silent too long.
        if (tail->hasPendingFunctionCall || tail->hasOpenTurn) {
            if (age > config_.pendingToolCallActivityWindow) return CandidateDecision::stale();
            return activeSession(tail->hasPendingFunctionCall ? "rollout has pending tool call"
                                                              : "rollout has open turn",
                                 tail->hasPendingUserAttention);
        }
        // 6. Officially idle.
        if (officialIdle) return officialIdleEvidence();
        // 7. The rollout ended its turn.
        if (tail->hasFinalAssistantMessage) {
            return CandidateDecision::inactive(
                completionEvidence(candidate, "rollout_terminal", latest.value_or(now), "rollout terminal event"));
        }
    } else if (officialIdle) {
        // 3. No rollout to look at.
        return officialIdleEvidence();
    }
    // 8. Recent activity alone.
    if (openEdge && age > config_.openEdgeActivityWindow) return CandidateDecision::stale();
    const bool runtimeRecent = runtimeLog && age <= config_.runtimeActivityWindow;
    const bool edgeRecent = openEdge;
    if (age > config_.recentActivityWindow) {
        if (runtimeRecent || edgeRecent)
            return activeSession(runtimeRecent ? "recent Codex runtime log" : "open spawn edge with recent activity",
                                 false);
        return CandidateDecision::inactive();
    }
    return activeSession(runtimeRecent ? "recent Codex runtime log"
                         : edgeRecent  ? "open spawn edge with recent activity"
                                       : "recent rollout activity",
                         false);
}

} // namespace brindleaf
