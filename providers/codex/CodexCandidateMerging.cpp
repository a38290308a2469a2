// Official candidates, merging by id, session-index titles, waiting parents,
// display order and run evidence.
#include "providers/codex/CodexStatusProvider.hpp"

#include "providers/codex/CodexText.hpp"

#include <algorithm>
#include <limits>
#include <set>
#include <unordered_map>

namespace brindleaf {

namespace {

constexpr std::string_view weakRuntimeLog = "recent Codex runtime log";
constexpr std::string_view weakOpenEdge = "open spawn edge with recent activity";
constexpr std::string_view weakRecent = "recent rollout activity";

bool isWeakEvidence(std::string_view evidence) {
    return evidence == weakRuntimeLog || evidence == weakOpenEdge || evidence == weakRecent;
}

std::string_view officialSourceTag(CodexOfficialThreadRunState state) {
    switch (state) {
    case CodexOfficialThreadRunState::active:
        return "official_app_server_active";
    case CodexOfficialThreadRunState::idle:
        return "official_app_server_idle";
    case CodexOfficialThreadRunState::systemError:
        return "official_app_server_system_error";
    case CodexOfficialThreadRunState::notLoaded:
        return "official_app_server_not_loaded";
    }
    return "official_app_server_idle";
}

double clampedLease(double window) { return std::min(std::max(window, 0.0), 20.0); }

} // namespace

std::optional<CodexCandidate> CodexStatusProvider::officialCandidate(const CodexOfficialThreadStatus& status,
                                                                     Date now) {
    if (status.id.empty()) return std::nullopt;
    CodexCandidate c;
    c.id = status.id;
    c.title = codex::cleanedFirstLine(status.title);
    c.titleScore = 6;
    if (c.title.empty()) {
        c.title = status.id;
        c.titleScore = 0;
    }
    c.cwd = codex::cleanedFirstLine(status.cwd);
    if (status.rolloutPath && !status.rolloutPath->empty()) c.rolloutPath = status.rolloutPath;
    c.runtimeProfile = codex::codexRuntimeProfile(status.model, status.reasoningEffort,
                                                  SessionRuntimeProfileSource::codexOfficialStatus);
    // The daemon's active and idle states carry no official tag and no
    // made-up date: when its wait cannot be trusted, the thread is decided as
    // if the daemon had said nothing.
    if (status.live &&
        (status.state == CodexOfficialThreadRunState::active || status.state == CodexOfficialThreadRunState::idle)) {
        c.updatedAt = status.lastActivityAt;
        c.liveState = status.state;
        c.liveWait = status.state == CodexOfficialThreadRunState::active ? status.wait : CodexThreadWait::none;
        return c;
    }
    if (status.state == CodexOfficialThreadRunState::active || status.state == CodexOfficialThreadRunState::systemError)
        c.updatedAt = status.lastActivityAt.value_or(now);
    c.sources.insert(std::string(officialSourceTag(status.state)));
    c.officialNeedsUserAttention = status.needsUserAttention;
    return c;
}

std::vector<CodexCandidate> CodexStatusProvider::officialCandidates(
    const std::vector<CodexOfficialThreadStatus>& statuses, Date now) {
    std::vector<CodexCandidate> candidates;
    candidates.reserve(statuses.size());
    for (const auto& status : statuses)
        if (auto candidate = officialCandidate(status, now)) candidates.push_back(std::move(*candidate));
    return candidates;
}

std::vector<CodexStatusProvider::MergedCandidate> CodexStatusProvider::mergeCandidates(
    const std::vector<const CodexCandidate*>& candidates) {
    std::vector<MergedCandidate> merged;
    merged.reserve(candidates.size());
    std::unordered_map<std::string_view, std::size_t> positions;
    positions.reserve(candidates.size());
    for (const CodexCandidate* candidate : candidates) {
        auto [it, inserted] = positions.emplace(candidate->id, merged.size());
        if (inserted) {
            merged.push_back(MergedCandidate{candidate, std::nullopt, std::nullopt});
        } else {
            MergedCandidate& entry = merged[it->second];
            entry.owned = entry.get().merged(*candidate);
        }
    }
    return merged;
}

std::optional<std::string> CodexStatusProvider::sessionIndexTitle(std::string_view name) {
    std::string title = codex::cleanedFirstLine(name);
    if (!codex::isPresentableTitle(title)) return std::nullopt;
    return title;
}

CodexStatusProvider::RuntimeProfiles CodexStatusProvider::runtimeProfilesByThread(
    const std::vector<MergedCandidate>& candidates, const std::unordered_set<std::string_view>& threadIDs) {
    RuntimeProfiles profiles;
    if (threadIDs.empty()) return profiles;
    for (const auto& entry : candidates) {
        const CodexCandidate& candidate = entry.get();
        if (candidate.runtimeProfile && threadIDs.count(candidate.id))
            profiles.emplace(candidate.id, *candidate.runtimeProfile);
    }
    for (const auto& entry : candidates) {
        const CodexCandidate& candidate = entry.get();
        if (candidate.parentID && candidate.parentRuntimeProfile && threadIDs.count(*candidate.parentID))
            profiles.emplace(*candidate.parentID, *candidate.parentRuntimeProfile);
    }
    return profiles;
}

std::vector<AgentSession> CodexStatusProvider::applyParentChildState(const std::vector<AgentSession>& sessions,
                                                                     const RuntimeProfiles& profiles, Date now) const {
    std::set<std::string> activeIDs;
    for (const auto& session : sessions) activeIDs.insert(session.id);

    // Children of parents that are not shown, grouped by parent in first-seen order.
    std::vector<std::string> parentOrder;
    std::unordered_map<std::string, std::vector<const AgentSession*>> groups;
    for (const auto& session : sessions) {
        if (!session.parentID || session.parentID->empty()) continue;
        if (activeIDs.count(*session.parentID) || isWeakEvidence(session.evidence)) continue;
        auto [it, inserted] = groups.try_emplace(*session.parentID);
        if (inserted) parentOrder.push_back(*session.parentID);
        it->second.push_back(&session);
    }

    std::vector<AgentSession> parents;
    parents.reserve(parentOrder.size());
    for (const auto& parentID : parentOrder) {
        const auto& children = groups[parentID];
        const AgentSession* newest = children.front();
        bool needsUser = false;
        for (const AgentSession* child : children) {
            needsUser = needsUser || child->needsUserAttention;
            const double childDate = child->lastActivityAt.value_or(-std::numeric_limits<double>::infinity());
            const double newestDate = newest->lastActivityAt.value_or(-std::numeric_limits<double>::infinity());
            if (childDate > newestDate) newest = child;
        }
        AgentSessionFields fields;
        fields.id = parentID;
        fields.provider = std::string(providerName);
        fields.agentNickname = newest->parentAgentNickname;
        fields.agentRole = newest->parentAgentRole;
        fields.threadSource = "parent_waiting";
        fields.title = newest->parentTitle ? *newest->parentTitle : parentID;
        fields.cwd = newest->cwd;
        fields.lastActivityAt = newest->lastActivityAt ? *newest->lastActivityAt : now;
        fields.evidence = "active child still running";
        fields.needsUserAttention = needsUser;
        if (auto profile = profiles.find(parentID); profile != profiles.end()) fields.runtimeProfile = profile->second;
        parents.emplace_back(std::move(fields));
    }
    return parents;
}

RunEvidence CodexStatusProvider::sessionRunEvidence(const AgentSession& session, Date now) const {
    RunEvidence evidence;
    evidence.provider = std::string(providerName);
    evidence.sessionID = session.id;
    evidence.observedAt = session.lastActivityAt.value_or(now);
    evidence.reason = session.evidence;
    evidence.session = session;
    const std::string_view text = session.evidence;
    if (text == weakRuntimeLog) {
        evidence.source = "runtime_log";
        evidence.strength = RunEvidenceStrength::weakRecent;
        evidence.expiresAt = evidence.observedAt + clampedLease(config_.runtimeActivityWindow);
    } else if (text == weakOpenEdge) {
        evidence.source = "open_spawn_edge";
        evidence.strength = RunEvidenceStrength::weakRecent;
        evidence.expiresAt = evidence.observedAt + clampedLease(config_.openEdgeActivityWindow);
    } else if (text == weakRecent) {
        evidence.source = "recent_thread";
        evidence.strength = RunEvidenceStrength::weakRecent;
        evidence.expiresAt = evidence.observedAt + clampedLease(config_.recentActivityWindow);
    } else if (text.substr(0, 8) == "official" || text == codex::waitsForApproval || text == codex::waitsForAnswer) {
        evidence.source = "official";
        evidence.strength = RunEvidenceStrength::strongActive;
    } else {
        evidence.source = "rollout";
        evidence.strength = RunEvidenceStrength::strongActive;
    }
    return evidence;
}

std::vector<RunEvidence> CodexStatusProvider::runEvidence(const std::vector<AgentSession>& sessions,
                                                          const std::vector<std::string>& healthTexts, Date now) const {
    std::vector<RunEvidence> items;
    items.reserve(sessions.size() + healthTexts.size());
    for (const auto& session : sessions) items.push_back(sessionRunEvidence(session, now));
    for (const auto& text : healthTexts) {
        RunEvidence health;
        health.provider = std::string(providerName);
        health.sessionID = std::string(RunEvidence::providerScanSessionID);
        health.source = "provider_health";
        health.strength = RunEvidenceStrength::healthOnly;
        health.observedAt = now;
        health.reason = text;
        items.push_back(std::move(health));
    }
    return items;
}

} // namespace brindleaf
