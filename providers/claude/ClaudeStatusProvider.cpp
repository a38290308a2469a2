#include "providers/claude/ClaudeStatusProvider.hpp"

#include "core/ActivityAge.hpp"
#include "core/ProcessResourceSampler.hpp"
#include "core/SafeFileReader.hpp"
#include "core/TextUtils.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace brindleaf {

ClaudeStatusProvider::ClaudeStatusProvider(ClaudeProviderConfig config, ProcessSnapshotReader reader)
    : config_(std::move(config)),
      processSnapshotReader_(reader ? std::move(reader) : ProcessSnapshotReader(ProcessResourceSampler::sampleAll)),
      projectsPrefix_(config_.claudeHome + "/projects/") {}

std::string ClaudeStatusProvider::sessionIDOf(const AnalyzedTranscript& transcript) {
    if (transcript.state.sessionID) return *transcript.state.sessionID;
    const std::string& path = transcript.transcript.path;
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

bool ClaudeStatusProvider::isSubagentTranscript(const std::string& transcriptPath) const {
    const std::string& projects = projectsPrefix_;
    std::string_view relative(transcriptPath);
    if (relative.substr(0, projects.size()) == projects) relative.remove_prefix(projects.size() - 1);
    return relative.find("/subagents/") != std::string_view::npos;
}

bool ClaudeStatusProvider::isSafePathComponent(std::string_view id) {
    return !id.empty() && id != "." && id != ".." && id.find('/') == std::string_view::npos &&
           id.find('\0') == std::string_view::npos;
}

std::string ClaudeStatusProvider::activityDetail(const ClaudeTranscriptState& state, bool wakeup, bool background) {
    if (state.hasPendingUserChoice) return "Claude is waiting for your choice";
    if (const size_t count = state.pendingSubagents.size(); count > 0) {
        return "Waiting on " + std::to_string(count) + (count == 1 ? " subagent" : " subagents");
    }
    if (state.hasPendingToolUse) return "Claude transcript has pending tool use";
    if (state.hasOpenTurn) return "Claude turn awaiting assistant response";
    if (!wakeup && !background && state.pendingBackgroundTasks.empty()) {
        return state.endsWithSidechainActivity ? "Claude sub-agent running" : "Claude is working";
    }
    return wakeup ? "Claude loop sleeping until scheduled wakeup" : "Claude working on a background task";
}

std::string ClaudeStatusProvider::waitingDetail(const std::optional<std::string>& waitingFor) {
    if (waitingFor == "permission prompt") return "Claude Code waits for a permission prompt";
    if (waitingFor == "input needed") return "Claude Code waits for your answer";
    if (waitingFor == "dialog open") return "Claude Code shows a dialog";
    return "Claude Code waits for you";
}

namespace {

using LiveStatus = ClaudeSessionRegistryEntry::Status;

// No sessions: none to read, or (with an error) a projects folder that could not be read.
ProviderSnapshot emptySnapshot(Date now, std::vector<std::string> errors) {
    const bool unreadable = !errors.empty();
    ProviderSnapshot snapshot = ProviderSnapshot::make(std::string(ClaudeStatusProvider::providerName), std::nullopt,
                                                       std::nullopt, {}, 0, now, std::move(errors));
    snapshot.readNothing = unreadable;
    return snapshot;
}

} // namespace

ProviderSnapshot ClaudeStatusProvider::scan(Date now) {
    watched_.refresh();
    // 1. The projects folder: missing means nothing to report; present but
    // unreadable is reported, never passed off as "no sessions".
    const std::string projectsPath = config_.claudeHome + "/projects";
    // The watched answers settle the usual case (a readable folder) without a
    // system call; anything else is asked again for the reason to report.
    if (watched_.info(projectsPath) && watched_.entries(projectsPath)) return scanProjects(projectsPath, now);
    struct stat projectsStat;
    if (::stat(projectsPath.c_str(), &projectsStat) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return scanWithoutProjects(now);
        return emptySnapshot(now, {"Claude Code projects folder unreadable: " + std::string(std::strerror(errno))});
    }
    if (const int folder = ::open(projectsPath.c_str(), O_RDONLY | O_NONBLOCK | O_DIRECTORY | O_CLOEXEC); folder >= 0) {
        ::close(folder);
    } else {
        return emptySnapshot(now, {"Claude Code projects folder unreadable: " + std::string(std::strerror(errno))});
    }
    return scanProjects(projectsPath, now);
}

// A working or waiting engine whose session has no transcript yet (a dialog
// at its first start, say) still has a row, from its registry file.
void ClaudeStatusProvider::appendRegistryRows(const CheckedRegistry& registry,
                                              const std::set<std::string>& sessionsWithMainTranscript,
                                              const EngineLivenessIndex& index, std::vector<AgentSession>& rows) {
    for (const auto& [sessionID, entry] : registry.live) {
        if (entry.status == LiveStatus::idle || sessionsWithMainTranscript.count(sessionID)) continue;
        const bool waiting = entry.status == LiveStatus::waiting;
        EngineKey key;
        if (entry.cwd) key.transcriptCwd = EngineLivenessIndex::projectKey(*entry.cwd);
        rows.push_back(AgentSession({
            .id = sessionID,
            .provider = std::string(providerName),
            .threadSource = "registry",
            .title = entry.name ? firstLineTruncated(80, *entry.name) : "Claude Code session",
            .cwd = entry.cwd.value_or(""),
            .lastActivityAt = entry.statusUpdatedAt ? entry.statusUpdatedAt : entry.updatedAt,
            .evidence = waiting ? waitingDetail(entry.waitingFor) : "Claude is working",
            .needsUserAttention = waiting,
            .resourceUsage = index.engineResourceUsage(sessionID, key),
        }));
    }
}

// No projects folder (a first start, say): only the registry can tell of a session.
ProviderSnapshot ClaudeStatusProvider::scanWithoutProjects(Date now) {
    const CheckedRegistry registry = checkedRegistry(*registryEntries(config_.claudeHome + "/sessions"));
    const bool anyShown = std::any_of(registry.live.begin(), registry.live.end(),
                                      [](const auto& item) { return item.second.status != LiveStatus::idle; });
    if (!anyShown) return emptySnapshot(now, {});
    const std::shared_ptr<const EngineLivenessIndex> index = engineIndexFor(processSnapshotReader_(), registry.pids);
    std::vector<AgentSession> rows;
    appendRegistryRows(registry, {}, *index, rows);
    sortSessionsNewestFirst(rows);
    std::optional<std::string> statusEvidence = rows.front().evidence;
    return ProviderSnapshot::make(std::string(providerName), std::nullopt, std::move(statusEvidence), std::move(rows),
                                  0, now, {});
}

ProviderSnapshot ClaudeStatusProvider::scanProjects(const std::string& projectsPath, Date now) {
    // 2.-6. Listing, processes, registry, liveness, analysis.
    const std::shared_ptr<const TranscriptList> files = listedTranscripts(projectsPath);
    const ProcessSampleList samples = processSnapshotReader_();
    const CheckedRegistry registry = checkedRegistry(*registryEntries(config_.claudeHome + "/sessions"));
    const std::shared_ptr<const EngineLivenessIndex> indexPointer = engineIndexFor(samples, registry.pids);
    const EngineLivenessIndex& index = *indexPointer;
    const std::shared_ptr<const ScanItems> itemsPointer = analyzedItems(files);
    const ScanItems& items = *itemsPointer;

    // 7.-9. Background work and claims.
    coldStartDeepScanOf(items, now);
    const BackgroundLaunches running = runningTasks(items, index, now);
    const std::shared_ptr<const std::vector<char>> claimedPointer = claims(itemsPointer, indexPointer);
    const std::vector<char>& claimed = *claimedPointer;

    // 10. Desktop titles of our sessions.
    std::shared_ptr<const Titles> titles;
    if (!items.empty()) titles = sharedDesktopTitles();

    // 11. The main transcript of each session.
    const std::shared_ptr<const std::vector<size_t>> mainOfPointer = mainTranscripts(itemsPointer);
    const std::vector<size_t>& mainOf = *mainOfPointer;

    // 12. Runtime profiles of sub-agents, tied to their launching tool use by the meta file.
    std::unordered_map<std::string, SessionRuntimeProfile> subagentProfiles;
    for (const auto& item : items) {
        if (!item->isSubagent || !item->analyzed.state.sidechainRuntimeProfile) continue;
        const std::string& metaPath = item->metaPath;
        const auto metaInfo = watched_.info(metaPath);
        if (!metaInfo) continue; // no meta file
        const auto toolUseID = subagentMetaCache_.value(metaPath, std::string(), metaInfo, [&] {
            return parseSubagentToolUseID(SafeFileReader::readSmallFile(metaPath, SafeFileReader::smallFileLimit));
        });
        if (toolUseID) subagentProfiles[*toolUseID] = *item->analyzed.state.sidechainRuntimeProfile;
    }

    // 13. Decisions.
    std::vector<AgentSession> rows;
    int64_t staleCount = 0;
    std::set<std::string> sessionsWithMainTranscript;
    for (size_t i = 0; i < items.size(); ++i) {
        const AnalyzedTranscript& transcript = items[i]->analyzed;
        const std::string& sessionID = items[i]->sessionID;
        const bool isSubagent = items[i]->isSubagent;
        if (!isSubagent) sessionsWithMainTranscript.insert(sessionID);
        // What the session's running engine says it does, when it says so.
        std::optional<LiveStatus> live;
        const ClaudeSessionRegistryEntry* liveEntry = nullptr;
        if (auto it = registry.live.find(sessionID); it != registry.live.end()) {
            liveEntry = &it->second;
            live = liveEntry->status;
        }
        // While the engine waits for the user, the session's row says so; a
        // sub-agent's transcript (the same session id) must not stand in for it.
        if (live == LiveStatus::waiting && isSubagent) continue;
        // A turn the engine has ended leaves nothing of it pending; a working
        // engine has no choice pending before the user.
        std::optional<ClaudeTranscriptState> adjusted;
        if (live == LiveStatus::idle) {
            adjusted = transcript.state;
            adjusted->hasPendingToolUse = false;
            adjusted->hasOpenTurn = false;
            adjusted->hasPendingUserChoice = false;
            adjusted->pendingSubagents.clear();
            adjusted->endsWithSidechainActivity = false;
            adjusted->sidechainHasPendingToolUse = false;
            adjusted->sidechainHasOpenTurn = false;
        } else if (live == LiveStatus::busy && transcript.state.hasPendingUserChoice) {
            adjusted = transcript.state;
            adjusted->hasPendingUserChoice = false;
        }
        const ClaudeTranscriptState& state = adjusted ? *adjusted : transcript.state;
        // A wakeup scheduled in a transcript dated in the future says nothing about now.
        const bool wakeup = state.scheduledWakeupAt &&
                            now <= *state.scheduledWakeupAt + config_.stalePendingToolWindow &&
                            !isDatedInFuture(transcript.lastActivity, now);
        const AnalyzedTranscript* mainTranscript = nullptr;
        if (mainOf[i] != std::string::npos) mainTranscript = &items[mainOf[i]]->analyzed;
        std::optional<SessionRuntimeProfile> profile = state.runtimeProfile;
        if (!profile && mainTranscript) profile = mainTranscript->state.runtimeProfile;
        bool background = false;
        if (auto it = running.find(sessionID); it != running.end()) {
            for (const auto& [taskID, launchedAt] : it->second) {
                if (activityAge(now, launchedAt) <= config_.backgroundTaskWindow) background = true;
            }
        }

        std::string evidence;
        bool needsUser = false;
        bool withSubagents = true;
        if (live == LiveStatus::waiting) {
            evidence = waitingDetail(liveEntry->waitingFor);
            needsUser = true;
            // Its sub-agents wait with it; shown as running they would make the session look at work.
            withSubagents = false;
        } else if (live == LiveStatus::busy && !isSubagent) {
            evidence = activityDetail(state, false, false);
        } else {
            if (state.isBlockedByApiError) continue;
            const bool isClaimed = claimed[i] != 0;
            const double idle = activityAge(now, transcript.lastActivity);
            if (wakeup || background || state.hasPendingUserChoice) {
                const std::optional<bool> gone =
                    index.engineGoneVerdict(state.sessionID, transcript.engineKey, isClaimed);
                bool show;
                if (!gone) {
                    show = wakeup || background || idle <= config_.stalePendingToolWindow;
                } else if (!*gone) {
                    show = true;
                } else {
                    show = index.hasEngineInCandidateCwd(transcript.engineKey);
                }
                if (!show) {
                    ++staleCount;
                    continue;
                }
                evidence = activityDetail(state, wakeup, background);
                needsUser = state.hasPendingUserChoice;
            } else {
                const bool recent = live != LiveStatus::idle && idle <= config_.recentActivityWindow &&
                                    (state.endsWithSidechainActivity || state.hasOpenTurn || state.hasPendingToolUse ||
                                     !state.lastConversationRole);
                bool sidechain;
                if (isSubagent) {
                    sidechain = (state.sidechainHasPendingToolUse || state.sidechainHasOpenTurn) &&
                                !(mainTranscript && mainTranscript->lastActivity > transcript.lastActivity);
                } else {
                    sidechain = state.endsWithSidechainActivity && state.sidechainHasPendingToolUse;
                }
                if (!state.hasPendingToolUse && !state.hasOpenTurn && !recent && !sidechain) continue; // done
                const std::optional<bool> gone =
                    index.engineGoneVerdict(state.sessionID, transcript.engineKey, isClaimed);
                if (gone == std::optional<bool>(true) && !index.hasEngineInCandidateCwd(transcript.engineKey) &&
                    !recent && !(mainTranscript && index.hasEngineInCandidateCwd(mainTranscript->engineKey))) {
                    ++staleCount;
                    continue;
                }
                if (idle > config_.stalePendingToolWindow) {
                    ++staleCount;
                    continue;
                }
                evidence = activityDetail(state, false, false);
            }
        }

        std::optional<std::string> title;
        if (titles) {
            if (auto it = titles->find(sessionID); it != titles->end()) title = it->second;
        }
        if (!title) title = state.aiTitle;
        if (!title) title = state.title;
        const std::string rowTitle = title ? firstLineTruncated(80, *title) : "Claude Code session";
        const std::string rowCwd = state.cwd.value_or("");
        rows.push_back(AgentSession({
            .id = sessionID,
            .provider = std::string(providerName),
            .agentRole = state.lastRole,
            .threadSource = "transcript",
            .title = rowTitle,
            .cwd = rowCwd,
            .rolloutPath = transcript.transcript.path,
            .lastActivityAt = transcript.lastActivity,
            .evidence = evidence,
            .needsUserAttention = needsUser,
            .resourceUsage = index.engineResourceUsage(sessionID, transcript.engineKey),
            .runtimeProfile = profile,
            .backgroundTaskSummary = state.backgroundTaskSummary,
        }));
        if (!withSubagents) continue;
        for (const ClaudeSubagent& subagent : state.pendingSubagents) {
            std::optional<SessionRuntimeProfile> subagentProfile = subagent.runtimeProfile;
            if (auto it = subagentProfiles.find(subagent.toolUseID); it != subagentProfiles.end()) {
                subagentProfile = it->second;
            }
            rows.push_back(AgentSession({
                .id = sessionID + ":" + subagent.toolUseID,
                .provider = std::string(providerName),
                .parentID = sessionID,
                .agentRole = subagent.subagentType,
                .parentTitle = rowTitle,
                .threadSource = "subagent",
                .title = subagent.description ? firstLineTruncated(80, *subagent.description) : "Subagent",
                .cwd = rowCwd,
                .lastActivityAt = transcript.lastActivity,
                .evidence = "Claude subagent running",
                .needsUserAttention = false,
                .runtimeProfile = subagentProfile,
            }));
        }
    }

    appendRegistryRows(registry, sessionsWithMainTranscript, index, rows);

    // 14. Latest first; for each id the first (latest) row survives.
    sortSessionsNewestFirst(rows);
    std::set<std::string> seen;
    std::vector<AgentSession> unique;
    unique.reserve(rows.size());
    for (auto& row : rows) {
        if (seen.insert(row.id).second) unique.push_back(std::move(row));
    }

    // 15. The snapshot.
    std::optional<std::string> statusEvidence;
    if (!unique.empty() && !unique.front().evidence.empty()) statusEvidence = unique.front().evidence;
    return ProviderSnapshot::make(std::string(providerName), std::nullopt, std::move(statusEvidence), std::move(unique),
                                  staleCount, now, {});
}

} // namespace brindleaf
