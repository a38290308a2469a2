// Hermes sessions as AgentSession records: building, merging and resource usage.
#include "providers/hermes/HermesStatusProvider.hpp"

#include "core/TextUtils.hpp"
#include "providers/hermes/HermesDataSources.hpp"
#include "providers/hermes/HermesScanInputs.hpp"

#include <algorithm>
#include <limits>

namespace brindleaf {

namespace {

constexpr std::size_t titleLimit = 80;
constexpr std::size_t minimumTerminalCommandLength = 8;

std::optional<Date> laterDate(std::optional<Date> a, std::optional<Date> b) {
    if (!a) return b;
    if (!b) return a;
    return *a < *b ? b : a;
}

int64_t usageScore(const SessionResourceUsage& usage) {
    return usage.processCount + (usage.cpuPercent ? 1 : 0) + (usage.residentMemoryBytes ? 1 : 0);
}

// The record of a candidate, given its shown title and parent title.
AgentSession candidateRecord(const HermesSessionCandidate& candidate, std::string title,
                             std::optional<std::string> parentTitle, std::string rolloutPath, std::string evidence,
                             bool needsUser, std::optional<SessionResourceUsage> usage) {
    AgentSessionFields fields;
    fields.id = candidate.id;
    fields.provider = std::string(HermesStatusProvider::providerName);
    fields.parentID = candidate.parentID;
    fields.agentRole = candidate.source;
    fields.parentTitle = std::move(parentTitle);
    fields.threadSource = candidate.source;
    fields.title = std::move(title);
    fields.cwd = candidate.cwd.value_or(std::string());
    fields.rolloutPath = std::move(rolloutPath);
    fields.lastActivityAt = candidate.lastActivityAt ? candidate.lastActivityAt : candidate.startedAt;
    fields.evidence = std::move(evidence);
    fields.needsUserAttention = needsUser;
    fields.resourceUsage = std::move(usage);
    fields.runtimeProfile = candidate.runtimeProfile;
    return AgentSession(std::move(fields));
}

std::optional<std::string> shownParentTitle(const HermesSessionCandidate& candidate) {
    if (!candidate.parentTitle) return std::nullopt;
    return firstLineTruncated(titleLimit, *candidate.parentTitle);
}

std::string shownTitle(const HermesSessionCandidate& candidate) {
    return candidate.title ? firstLineTruncated(titleLimit, *candidate.title) : std::string("Hermes session");
}

// The terminal command of a candidate's last terminal tool call without surrounding white space and
// line breaks, when it has enough characters to search for.
std::optional<std::string> searchableTerminalText(const HermesSessionCandidate& candidate) {
    if (!candidate.lastTerminalToolCalls) return std::nullopt;
    auto command = HermesStatusProvider::terminalCommand(*candidate.lastTerminalToolCalls);
    if (!command) return std::nullopt;
    const std::string_view text = trimmedWhitespaceAndNewlines(*command);
    if (text.size() < minimumTerminalCommandLength || userPerceivedLength(text) < minimumTerminalCommandLength)
        return std::nullopt;
    return std::string(text);
}

} // namespace

HermesStatusProvider::CandidateSet::CandidateSet(std::vector<HermesSessionCandidate> rows)
    : candidates(std::move(rows)) {
    byID.reserve(candidates.size());
    terminalTexts.reserve(candidates.size());
    titles.reserve(candidates.size());
    parentTitles.reserve(candidates.size());
    for (const auto& candidate : candidates) {
        byID.emplace(candidate.id, &candidate);
        terminalTexts.push_back(searchableTerminalText(candidate));
        titles.push_back(shownTitle(candidate));
        parentTitles.push_back(shownParentTitle(candidate));
        if (!candidate.endedAt) openNewestFirst.push_back(&candidate);
    }
    std::stable_sort(openNewestFirst.begin(), openNewestFirst.end(), [](const auto* a, const auto* b) {
        constexpr Date distantPast = -std::numeric_limits<double>::infinity();
        return a->lastActivityAt.value_or(distantPast) > b->lastActivityAt.value_or(distantPast);
    });
}

AgentSession HermesStatusProvider::sessionRecord(const CandidateSet& set, const HermesSessionCandidate& candidate,
                                                 std::string evidence, bool needsUser,
                                                 std::optional<SessionResourceUsage> usage) const {
    const std::size_t index = set.indexOf(candidate);
    return candidateRecord(candidate, set.titles[index], set.parentTitles[index], databasePath_, std::move(evidence),
                           needsUser, std::move(usage));
}

void HermesStatusProvider::upsertSession(AgentSession session, std::unordered_map<std::string, std::size_t>& indexByID,
                                         std::vector<AgentSession>& sessions) {
    auto found = indexByID.find(session.id);
    if (found != indexByID.end()) {
        mergeInto(sessions[found->second], std::move(session));
        return;
    }
    indexByID.emplace(session.id, sessions.size());
    sessions.push_back(std::move(session));
}

AgentSession HermesStatusProvider::mergeSessions(const AgentSession& a, const AgentSession& b) {
    AgentSession merged = a;
    mergeInto(merged, AgentSession(b));
    return merged;
}

void HermesStatusProvider::mergeInto(AgentSession& a, AgentSession&& b) {
    // Every field is decided here; the ledger's figures are not part of a scan's records.
    auto keepFirstNonEmpty = [](std::optional<std::string>& first, std::optional<std::string>& second) {
        if (first && !first->empty()) return;
        if (second && !second->empty()) {
            first = std::move(second);
        } else {
            first.reset();
        }
    };
    if (!a.resourceUsage) {
        a.resourceUsage = b.resourceUsage;
    } else if (b.resourceUsage && usageScore(*b.resourceUsage) > usageScore(*a.resourceUsage)) {
        a.resourceUsage = b.resourceUsage;
    }
    if (!(a.runtimeProfile && !a.runtimeProfile->isEmpty())) a.runtimeProfile = std::move(b.runtimeProfile);
    if (a.runtimeProfile && a.runtimeProfile->isEmpty()) a.runtimeProfile.reset();
    if (a.provider.empty()) a.provider = std::move(b.provider);
    keepFirstNonEmpty(a.parentID, b.parentID);
    keepFirstNonEmpty(a.agentNickname, b.agentNickname);
    keepFirstNonEmpty(a.agentRole, b.agentRole);
    keepFirstNonEmpty(a.parentTitle, b.parentTitle);
    keepFirstNonEmpty(a.parentAgentNickname, b.parentAgentNickname);
    keepFirstNonEmpty(a.parentAgentRole, b.parentAgentRole);
    keepFirstNonEmpty(a.threadSource, b.threadSource);
    if (a.title.empty()) a.title = std::move(b.title);
    if (a.cwd.empty()) a.cwd = std::move(b.cwd);
    keepFirstNonEmpty(a.rolloutPath, b.rolloutPath);
    a.lastActivityAt = laterDate(a.lastActivityAt, b.lastActivityAt);
    if (b.needsUserAttention) a.evidence = std::move(b.evidence);
    a.needsUserAttention = a.needsUserAttention || b.needsUserAttention;
    a.evidenceStrength.reset();
    a.evidenceLeaseExpiresAt.reset();
    a.backgroundTaskSummary.reset();
}

std::optional<SessionResourceUsage> HermesStatusProvider::sessionResourceUsage(
    const CandidateSet& set, const HermesSessionCandidate& candidate, const HermesChildProcess* child,
    const WorkersByKey& workersByKey, HermesProcessTable& processes) const {
    if (processes.empty()) return std::nullopt;
    std::set<int64_t> pids;
    if (child) pids.insert(child->pid);

    HermesChainVisits visited;
    const HermesSessionCandidate* current = &candidate;
    while (current && !visited.contains(current->id)) {
        visited.add(current->id);
        if (current == &candidate) {
            auto workers = workersByKey.find(current->id);
            if (workers != workersByKey.end()) {
                for (const auto& worker : workers->second) {
                    if (worker.pid) pids.insert(*worker.pid);
                }
            }
        }
        if (const auto& text = set.terminalTexts[set.indexOf(*current)]) {
            for (int64_t pid : processes.pidsRunning(*text)) pids.insert(pid);
        }
        if (!current->parentID) break;
        auto parent = set.byID.find(*current->parentID);
        current = parent == set.byID.end() ? nullptr : parent->second;
    }

    if (auto usage = processes.treeUsage(pids)) return usage;
    return processes.hermesUsage();
}

} // namespace brindleaf
