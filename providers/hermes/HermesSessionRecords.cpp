// Hermes sessions as AgentSession records: building, merging and resource usage.
#include "providers/hermes/HermesStatusProvider.hpp"

#include "core/TextUtils.hpp"
#include "providers/hermes/HermesDataSources.hpp"

#include <algorithm>

namespace brindleaf {

namespace {

constexpr std::size_t titleLimit = 80;
constexpr std::size_t minimumTerminalCommandLength = 8;

std::optional<std::string> firstNonEmpty(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (a && !a->empty()) return a;
    if (b && !b->empty()) return b;
    return std::nullopt;
}

std::optional<Date> laterDate(std::optional<Date> a, std::optional<Date> b) {
    if (!a) return b;
    if (!b) return a;
    return *a < *b ? b : a;
}

int64_t usageScore(const SessionResourceUsage& usage) {
    return usage.processCount + (usage.cpuPercent ? 1 : 0) + (usage.residentMemoryBytes ? 1 : 0);
}

std::string_view trimmed(std::string_view text) {
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

} // namespace

AgentSession HermesStatusProvider::makeSession(const HermesSessionCandidate& candidate, std::string evidence,
                                               bool needsUser, std::optional<SessionResourceUsage> usage) const {
    std::optional<std::string> parentTitle;
    if (candidate.parentTitle) parentTitle = firstLineTruncated(titleLimit, *candidate.parentTitle);
    AgentSessionFields fields;
    fields.id = candidate.id;
    fields.provider = std::string(providerName);
    fields.parentID = candidate.parentID;
    fields.agentRole = candidate.source;
    fields.parentTitle = std::move(parentTitle);
    fields.threadSource = candidate.source;
    fields.title = candidate.title ? firstLineTruncated(titleLimit, *candidate.title) : std::string("Hermes session");
    fields.cwd = candidate.cwd.value_or(std::string());
    fields.rolloutPath = databasePath();
    fields.lastActivityAt = candidate.lastActivityAt ? candidate.lastActivityAt : candidate.startedAt;
    fields.evidence = std::move(evidence);
    fields.needsUserAttention = needsUser;
    fields.resourceUsage = std::move(usage);
    fields.runtimeProfile = candidate.runtimeProfile;
    return AgentSession(std::move(fields));
}

void HermesStatusProvider::upsertSession(AgentSession session, std::unordered_map<std::string, std::size_t>& indexByID,
                                         std::vector<AgentSession>& sessions) {
    auto found = indexByID.find(session.id);
    if (found != indexByID.end()) {
        sessions[found->second] = mergeSessions(sessions[found->second], session);
        return;
    }
    indexByID.emplace(session.id, sessions.size());
    sessions.push_back(std::move(session));
}

AgentSession HermesStatusProvider::mergeSessions(const AgentSession& a, const AgentSession& b) {
    std::optional<SessionResourceUsage> usage;
    if (!a.resourceUsage) {
        usage = b.resourceUsage;
    } else if (!b.resourceUsage) {
        usage = a.resourceUsage;
    } else {
        usage = usageScore(*b.resourceUsage) > usageScore(*a.resourceUsage) ? b.resourceUsage : a.resourceUsage;
    }
    std::optional<SessionRuntimeProfile> profile = a.runtimeProfile && !a.runtimeProfile->isEmpty() ? a.runtimeProfile
                                                                                                     : b.runtimeProfile;
    AgentSessionFields fields;
    fields.id = a.id;
    fields.provider = a.provider.empty() ? b.provider : a.provider;
    fields.parentID = firstNonEmpty(a.parentID, b.parentID);
    fields.agentNickname = firstNonEmpty(a.agentNickname, b.agentNickname);
    fields.agentRole = firstNonEmpty(a.agentRole, b.agentRole);
    fields.parentTitle = firstNonEmpty(a.parentTitle, b.parentTitle);
    fields.parentAgentNickname = firstNonEmpty(a.parentAgentNickname, b.parentAgentNickname);
    fields.parentAgentRole = firstNonEmpty(a.parentAgentRole, b.parentAgentRole);
    fields.threadSource = firstNonEmpty(a.threadSource, b.threadSource);
    fields.title = a.title.empty() ? b.title : a.title;
    fields.cwd = a.cwd.empty() ? b.cwd : a.cwd;
    fields.rolloutPath = firstNonEmpty(a.rolloutPath, b.rolloutPath);
    fields.lastActivityAt = laterDate(a.lastActivityAt, b.lastActivityAt);
    fields.evidence = b.needsUserAttention ? b.evidence : a.evidence;
    fields.needsUserAttention = a.needsUserAttention || b.needsUserAttention;
    fields.resourceUsage = usage;
    fields.runtimeProfile = profile;
    return AgentSession(std::move(fields));
}

std::optional<SessionResourceUsage> HermesStatusProvider::sessionResourceUsage(
    const HermesSessionCandidate& candidate, const HermesChildProcess* child, const WorkersByKey& workersByKey,
    const CandidatesByID& candidatesByID, HermesProcessTable& processes) const {
    if (processes.empty()) return std::nullopt;
    std::set<int64_t> pids;
    if (child) pids.insert(child->pid);

    std::vector<std::string_view> visited;
    const HermesSessionCandidate* current = &candidate;
    while (current && std::find(visited.begin(), visited.end(), current->id) == visited.end()) {
        visited.push_back(current->id);
        if (current == &candidate) {
            auto workers = workersByKey.find(current->id);
            if (workers != workersByKey.end()) {
                for (const auto& worker : workers->second) {
                    if (worker.pid) pids.insert(*worker.pid);
                }
            }
        }
        if (current->lastTerminalToolCalls) {
            if (auto command = terminalCommand(*current->lastTerminalToolCalls)) {
                const std::string_view text = trimmed(*command);
                if (text.size() >= minimumTerminalCommandLength) {
                    for (int64_t pid : processes.pidsRunning(std::string(text))) pids.insert(pid);
                }
            }
        }
        if (!current->parentID) break;
        auto parent = candidatesByID.find(*current->parentID);
        current = parent == candidatesByID.end() ? nullptr : parent->second;
    }

    if (auto usage = processes.treeUsage(pids)) return usage;
    return processes.hermesUsage();
}

std::optional<SessionResourceUsage> HermesStatusProvider::sessionResourceUsage(
    const HermesSessionCandidate& candidate, const HermesChildProcess* child, const WorkersByKey& workersByKey,
    const CandidatesByID& candidatesByID, const std::vector<ProcessResourceSample>& samples) const {
    HermesProcessTable processes(samples, config_.hermesHome);
    return sessionResourceUsage(candidate, child, workersByKey, candidatesByID, processes);
}

std::optional<SessionResourceUsage> HermesStatusProvider::hermesProcessUsage(
    const std::vector<ProcessResourceSample>& samples) const {
    HermesProcessTable processes(samples, config_.hermesHome);
    return processes.hermesUsage();
}

} // namespace brindleaf
