// Background tasks of Claude Code sessions: launches carried across scans, the
// one-time deep pass at start-up and the per-task liveness test.
#include "core/FileStat.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

namespace brindleaf {

namespace {

constexpr size_t deepPassThreads = 4;

void mergeLaterWins(std::map<std::string, Date>& into, const std::map<std::string, Date>& from) {
    for (const auto& [taskID, launchedAt] : from) {
        auto [it, inserted] = into.try_emplace(taskID, launchedAt);
        if (!inserted && launchedAt > it->second) it->second = launchedAt;
    }
}

std::vector<std::string> claudeTempFolders(const std::string& tasksTempRoot) {
    std::vector<std::string> entries;
    DIR* dir = ::opendir(tasksTempRoot.c_str());
    if (!dir) return entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.rfind("claude-", 0) == 0) entries.emplace_back(name);
    }
    ::closedir(dir);
    return entries;
}

// The newest modification time among a task's output files.
std::optional<Date> latestActivity(const std::string& transcriptPath, const std::string& sessionID,
                                   const std::string& taskID, const std::string& tasksTempRoot,
                                   const std::vector<std::string>& tempFolders) {
    if (!ClaudeStatusProvider::isSafePathComponent(sessionID) || !ClaudeStatusProvider::isSafePathComponent(taskID))
        return std::nullopt;
    const size_t slash = transcriptPath.rfind('/');
    const std::string projectFolder = slash == std::string::npos ? std::string() : transcriptPath.substr(0, slash);
    const size_t nameStart = projectFolder.rfind('/');
    const std::string projectFolderName =
        nameStart == std::string::npos ? projectFolder : projectFolder.substr(nameStart + 1);

    std::optional<Date> latest;
    auto consider = [&](const std::string& path) {
        if (auto modified = FileStat::modificationDate(path); modified && (!latest || *modified > *latest)) {
            latest = modified;
        }
    };
    consider(projectFolder + "/" + sessionID + "/subagents/agent-" + taskID + ".jsonl");
    for (const auto& folder : tempFolders) {
        consider(tasksTempRoot + "/" + folder + "/" + projectFolderName + "/" + sessionID + "/tasks/" + taskID +
                 ".output");
    }
    return latest;
}

} // namespace

void ClaudeStatusProvider::coldStartDeepScan(const std::vector<AnalyzedTranscript>& transcripts, Date now) {
    {
        std::lock_guard<std::mutex> guard(carryoverLock_);
        if (didColdStartDeepScan_) return;
        didColdStartDeepScan_ = true;
    }
    // The deep reads are independent: a few threads share them, and the
    // results are merged in listing order.
    const std::string variant = std::to_string(ClaudeTranscriptAnalyzer::deepMaxBytes);
    std::vector<const AnalyzedTranscript*> recent;
    for (const auto& transcript : transcripts) {
        if (now - transcript.lastActivity <= config_.backgroundTaskWindow) recent.push_back(&transcript);
    }
    std::vector<ClaudeTranscriptState> deepStates(recent.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < recent.size(); i = next++) {
            const std::string& path = recent[i]->transcript.path;
            deepStates[i] = analyzer_.cache().value(path, variant, FileStat::info(path), [&] {
                return analyzer_.parse(path, ClaudeTranscriptAnalyzer::deepMaxBytes);
            });
        }
    };
    const size_t threadCount = std::min<size_t>({deepPassThreads, recent.size(),
                                                 std::max(1u, std::thread::hardware_concurrency())});
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < threadCount; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer helpers; this thread does the rest
        }
    }
    work();
    for (auto& helper : helpers) helper.join();

    BackgroundLaunches launches;
    std::map<std::string, std::set<std::string>> localIDs;
    for (size_t i = 0; i < recent.size(); ++i) {
        const ClaudeTranscriptState& deep = deepStates[i];
        if (deep.pendingBackgroundTasks.empty() || deep.tailSawInterrupt) continue;
        const std::string sessionID = sessionIDOf(*recent[i]);
        mergeLaterWins(launches[sessionID], deep.pendingBackgroundTasks);
        localIDs[sessionID].insert(deep.localProcessTaskIDs.begin(), deep.localProcessTaskIDs.end());
    }
    if (launches.empty()) return;
    std::lock_guard<std::mutex> guard(carryoverLock_);
    for (const auto& [sessionID, tasks] : launches) mergeLaterWins(carriedBackgroundLaunches_[sessionID], tasks);
    for (const auto& [sessionID, ids] : localIDs) carriedLocalTaskIDs_[sessionID].insert(ids.begin(), ids.end());
}

ClaudeStatusProvider::BackgroundLaunches
ClaudeStatusProvider::runningBackgroundTasks(const std::vector<AnalyzedTranscript>& transcripts,
                                             const EngineLivenessIndex& index, Date now) {
    std::lock_guard<std::mutex> guard(carryoverLock_);
    std::optional<std::vector<std::string>> tempFolders; // listed once per call, when first needed
    std::set<std::string> sessionIDs;
    for (const auto& transcript : transcripts) {
        const std::string sessionID = sessionIDOf(transcript);
        sessionIDs.insert(sessionID);
        if (isSubagentTranscript(transcript.transcript.path)) continue;
        const ClaudeTranscriptState& state = transcript.state;
        if (state.tailSawInterrupt) {
            carriedBackgroundLaunches_.erase(sessionID);
            carriedLocalTaskIDs_.erase(sessionID);
            continue;
        }
        std::map<std::string, Date> pending;
        if (auto it = carriedBackgroundLaunches_.find(sessionID); it != carriedBackgroundLaunches_.end()) {
            pending = it->second;
        }
        mergeLaterWins(pending, state.pendingBackgroundTasks);
        std::set<std::string> localIDs;
        if (auto it = carriedLocalTaskIDs_.find(sessionID); it != carriedLocalTaskIDs_.end()) localIDs = it->second;
        localIDs.insert(state.localProcessTaskIDs.begin(), state.localProcessTaskIDs.end());

        for (const auto& [taskID, settledAt] : state.settledBackgroundTasks) {
            if (auto it = pending.find(taskID); it != pending.end() && it->second <= settledAt) pending.erase(it);
        }
        for (auto it = pending.begin(); it != pending.end();) {
            if (isBackgroundTaskStillRunning(it->first, it->second, now, localIDs, index, transcript, sessionID,
                                             tempFolders)) {
                ++it;
            } else {
                it = pending.erase(it);
            }
        }
        std::set<std::string> keptLocal;
        for (const auto& id : localIDs) {
            if (pending.count(id)) keptLocal.insert(id);
        }
        if (pending.empty()) {
            carriedBackgroundLaunches_.erase(sessionID);
        } else {
            carriedBackgroundLaunches_[sessionID] = std::move(pending);
        }
        if (keptLocal.empty()) {
            carriedLocalTaskIDs_.erase(sessionID);
        } else {
            carriedLocalTaskIDs_[sessionID] = std::move(keptLocal);
        }
    }
    std::erase_if(carriedBackgroundLaunches_, [&](const auto& entry) { return !sessionIDs.count(entry.first); });
    std::erase_if(carriedLocalTaskIDs_, [&](const auto& entry) { return !sessionIDs.count(entry.first); });
    return carriedBackgroundLaunches_;
}

bool ClaudeStatusProvider::isBackgroundTaskStillRunning(const std::string& taskID, Date launchedAt, Date now,
                                                        const std::set<std::string>& localTaskIDs,
                                                        const EngineLivenessIndex& index,
                                                        const AnalyzedTranscript& transcript,
                                                        const std::string& sessionID,
                                                        std::optional<std::vector<std::string>>& tempFolders) {
    if (now > launchedAt + config_.backgroundTaskWindow) return false;
    // An id that cannot name a file is no task this system can follow.
    if (!isSafePathComponent(taskID)) return false;
    if (localTaskIDs.count(taskID) && index.shellTaskVerdict(transcript.engineKey) == std::optional<bool>(false))
        return false;
    if (!tempFolders) tempFolders = claudeTempFolders(config_.tasksTempRoot);
    const auto latest = latestActivity(transcript.transcript.path, sessionID, taskID, config_.tasksTempRoot, *tempFolders);
    if (!latest) return true;
    return now - *latest <= config_.backgroundWorkerQuietWindow;
}

std::optional<Date> ClaudeStatusProvider::latestTaskActivity(const std::string& transcriptPath,
                                                             const std::string& sessionID, const std::string& taskID) {
    return latestActivity(transcriptPath, sessionID, taskID, config_.tasksTempRoot,
                          claudeTempFolders(config_.tasksTempRoot));
}

} // namespace brindleaf
