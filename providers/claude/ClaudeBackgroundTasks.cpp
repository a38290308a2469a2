// Background tasks of Claude Code sessions: launches carried across scans, the
// one-time deep pass at start-up and the per-task liveness test.
#include "core/ActivityAge.hpp"
#include "core/FileStat.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace brindleaf {

namespace {

constexpr size_t deepPassThreads = 4;

void mergeLaterWins(std::map<std::string, Date>& into, const std::map<std::string, Date>& from) {
    for (const auto& [taskID, launchedAt] : from) {
        auto [it, inserted] = into.try_emplace(taskID, launchedAt);
        if (!inserted && launchedAt > it->second) it->second = launchedAt;
    }
}

} // namespace

void ClaudeStatusProvider::coldStartDeepScan(const std::vector<AnalyzedTranscript>& transcripts, Date now) {
    coldStartDeepScanOf(itemsOf(transcripts), now);
}

void ClaudeStatusProvider::coldStartDeepScanOf(const ScanItems& items, Date now) {
    {
        std::lock_guard<std::mutex> guard(carryoverLock_);
        if (clockWentBack(latestCarryoverScanAt_, now)) {
            // What was carried was judged with a clock ahead of this one.
            // Start over as at start-up.
            carriedBackgroundLaunches_.clear();
            carriedLocalTaskIDs_.clear();
            didColdStartDeepScan_ = false;
        }
        if (didColdStartDeepScan_) return;
        didColdStartDeepScan_ = true;
    }
    // The deep reads are independent: a few threads share them, and the
    // results are merged in listing order.
    const std::string variant = std::to_string(ClaudeTranscriptAnalyzer::deepMaxBytes);
    std::vector<const ScanItem*> recent;
    for (const auto& item : items) {
        // Transcripts dated ahead of the clock are read too: their launches
        // are kept until the clock has caught up (runningTasks).
        if (now - item->analyzed.lastActivity <= config_.backgroundTaskWindow) recent.push_back(item.get());
    }
    std::vector<ClaudeTranscriptState> deepStates(recent.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < recent.size(); i = next++) {
            const std::string& path = recent[i]->analyzed.transcript.path;
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
        const std::string& sessionID = recent[i]->sessionID;
        mergeLaterWins(launches[sessionID], deep.pendingBackgroundTasks);
        localIDs[sessionID].insert(deep.localProcessTaskIDs.begin(), deep.localProcessTaskIDs.end());
    }
    if (launches.empty()) return;
    std::lock_guard<std::mutex> guard(carryoverLock_);
    for (const auto& [sessionID, tasks] : launches) mergeLaterWins(carriedBackgroundLaunches_[sessionID], tasks);
    for (const auto& [sessionID, ids] : localIDs) carriedLocalTaskIDs_[sessionID].insert(ids.begin(), ids.end());
}

std::vector<std::string> ClaudeStatusProvider::tempFolders() {
    const auto entries = watched_.entries(config_.tasksTempRoot);
    std::lock_guard<std::mutex> guard(tempFoldersLock_);
    if (entries && entries == tempRootEntries_) return tempFolderNames_;
    std::vector<std::string> folders;
    if (entries) {
        for (const auto& entry : *entries) {
            if (entry.name.rfind("claude-", 0) == 0) folders.push_back(entry.name);
        }
    }
    tempRootEntries_ = entries;
    tempFolderNames_ = folders;
    return folders;
}

// The newest modification time among a task's output files.
std::optional<Date> ClaudeStatusProvider::latestActivity(const std::string& transcriptPath, const std::string& sessionID,
                                                         const std::string& taskID,
                                                         const std::vector<std::string>& tempFolders) {
    if (!isSafePathComponent(sessionID) || !isSafePathComponent(taskID)) return std::nullopt;
    const size_t slash = transcriptPath.rfind('/');
    const std::string projectFolder = slash == std::string::npos ? std::string() : transcriptPath.substr(0, slash);
    const size_t nameStart = projectFolder.rfind('/');
    const std::string projectFolderName =
        nameStart == std::string::npos ? projectFolder : projectFolder.substr(nameStart + 1);

    std::optional<Date> latest;
    auto consider = [&](const std::string& path) {
        if (auto info = watched_.info(path); info && (!latest || info->modifiedAt > *latest)) {
            latest = info->modifiedAt;
        }
    };
    consider(projectFolder + "/" + sessionID + "/subagents/agent-" + taskID + ".jsonl");
    for (const auto& folder : tempFolders) {
        consider(config_.tasksTempRoot + "/" + folder + "/" + projectFolderName + "/" + sessionID + "/tasks/" + taskID +
                 ".output");
    }
    return latest;
}

ClaudeStatusProvider::BackgroundLaunches
ClaudeStatusProvider::runningBackgroundTasks(const std::vector<AnalyzedTranscript>& transcripts,
                                             const EngineLivenessIndex& index, Date now) {
    watched_.refresh();
    return runningTasks(itemsOf(transcripts), index, now);
}

ClaudeStatusProvider::BackgroundLaunches ClaudeStatusProvider::runningTasks(const ScanItems& items,
                                                                            const EngineLivenessIndex& index, Date now) {
    std::lock_guard<std::mutex> guard(carryoverLock_);
    std::optional<std::vector<std::string>> tempFolderNames; // listed once per call, when first needed
    std::vector<std::pair<std::string, std::string>> ahead;  // session and task ids that cannot be told yet
    for (const auto& item : items) {
        const AnalyzedTranscript& transcript = item->analyzed;
        const std::string& sessionID = item->sessionID;
        if (item->isSubagent) continue;
        const ClaudeTranscriptState& state = transcript.state;
        if (state.tailSawInterrupt) {
            carriedBackgroundLaunches_.erase(sessionID);
            carriedLocalTaskIDs_.erase(sessionID);
            continue;
        }
        const auto carried = carriedBackgroundLaunches_.find(sessionID);
        if (carried == carriedBackgroundLaunches_.end() && state.pendingBackgroundTasks.empty()) {
            // Nothing launched, nothing carried: nothing runs.
            if (!carriedLocalTaskIDs_.empty()) carriedLocalTaskIDs_.erase(sessionID);
            continue;
        }
        std::map<std::string, Date> pending;
        if (carried != carriedBackgroundLaunches_.end()) pending = carried->second;
        mergeLaterWins(pending, state.pendingBackgroundTasks);
        std::set<std::string> localIDs;
        if (auto it = carriedLocalTaskIDs_.find(sessionID); it != carriedLocalTaskIDs_.end()) localIDs = it->second;
        localIDs.insert(state.localProcessTaskIDs.begin(), state.localProcessTaskIDs.end());

        for (const auto& [taskID, settledAt] : state.settledBackgroundTasks) {
            if (auto it = pending.find(taskID); it != pending.end() && it->second <= settledAt) pending.erase(it);
        }
        for (auto it = pending.begin(); it != pending.end();) {
            const std::optional<bool> running = isBackgroundTaskStillRunning(
                it->first, it->second, now, localIDs, index, transcript, sessionID, tempFolderNames);
            if (running == std::optional<bool>(false)) {
                it = pending.erase(it);
                continue;
            }
            if (!running) ahead.emplace_back(sessionID, it->first);
            ++it;
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
    // Sessions no longer listed carry nothing.
    const auto listed = [&items](const std::string& sessionID) {
        return std::any_of(items.begin(), items.end(), [&](const auto& item) { return item->sessionID == sessionID; });
    };
    if (carriedBackgroundLaunches_.size() + carriedLocalTaskIDs_.size() <= 8) {
        std::erase_if(carriedBackgroundLaunches_, [&](const auto& entry) { return !listed(entry.first); });
        std::erase_if(carriedLocalTaskIDs_, [&](const auto& entry) { return !listed(entry.first); });
    } else {
        std::unordered_set<std::string_view> sessionIDs;
        sessionIDs.reserve(items.size());
        for (const auto& item : items) sessionIDs.insert(item->sessionID);
        std::erase_if(carriedBackgroundLaunches_, [&](const auto& entry) { return !sessionIDs.count(entry.first); });
        std::erase_if(carriedLocalTaskIDs_, [&](const auto& entry) { return !sessionIDs.count(entry.first); });
    }
    if (ahead.empty()) return carriedBackgroundLaunches_;
    // Kept for when the clock has caught up, but not running now.
    BackgroundLaunches running = carriedBackgroundLaunches_;
    for (const auto& [sessionID, taskID] : ahead) {
        auto found = running.find(sessionID);
        if (found == running.end()) continue;
        found->second.erase(taskID);
        if (found->second.empty()) running.erase(found);
    }
    return running;
}

std::optional<bool> ClaudeStatusProvider::isBackgroundTaskStillRunning(
    const std::string& taskID, Date launchedAt, Date now, const std::set<std::string>& localTaskIDs,
    const EngineLivenessIndex& index, const AnalyzedTranscript& transcript, const std::string& sessionID,
    std::optional<std::vector<std::string>>& tempFolderNames) {
    // An id that cannot name a file is no task this system can follow.
    if (!isSafePathComponent(taskID)) return false;
    // Launched, or last heard of, ahead of the clock (it was set back since):
    // there is no telling now.
    if (isDatedInFuture(launchedAt, now)) return std::nullopt;
    if (now > launchedAt + config_.backgroundTaskWindow) return false;
    if (localTaskIDs.count(taskID) && index.shellTaskVerdict(transcript.engineKey) == std::optional<bool>(false))
        return false;
    if (!tempFolderNames) tempFolderNames = tempFolders();
    const auto latest = latestActivity(transcript.transcript.path, sessionID, taskID, *tempFolderNames);
    if (!latest) return true;
    if (isDatedInFuture(*latest, now)) return std::nullopt;
    return now - *latest <= config_.backgroundWorkerQuietWindow;
}

std::optional<Date> ClaudeStatusProvider::latestTaskActivity(const std::string& transcriptPath,
                                                             const std::string& sessionID, const std::string& taskID) {
    watched_.refresh();
    return latestActivity(transcriptPath, sessionID, taskID, tempFolders());
}

} // namespace brindleaf
