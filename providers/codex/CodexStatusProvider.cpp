#include "providers/codex/CodexStatusProvider.hpp"

#include "core/ProcessResourceSampler.hpp"
#include "providers/codex/CodexAppServerStatusProbe.hpp"
#include "providers/codex/CodexText.hpp"

#include <algorithm>
#include <exception>

namespace brindleaf {

namespace {

std::shared_ptr<CodexOfficialStatusProbe> probeOrDefault(std::shared_ptr<CodexOfficialStatusProbe> probe) {
    if (probe) return probe;
    if (auto fromEnvironment =
            CodexAppServerStatusProbe::fromEnvironment(CodexAppServerStatusProbe::processEnvironment()))
        return fromEnvironment;
    return std::make_shared<NoopCodexOfficialStatusProbe>();
}

// What the database sources of one scan met: the health texts of those that
// failed, and how many were read.
struct SourceOutcomes {
    std::vector<std::string> errors;
    int read = 0;
};

// Runs one database source; a failure becomes a health text and no result.
template <typename Value, typename Source>
Value collect(const char* label, SourceOutcomes& outcomes, Source&& source) {
    try {
        Value value = source();
        ++outcomes.read;
        return value;
    } catch (const std::exception& error) {
        outcomes.errors.push_back(std::string(label) + ": " + error.what());
    }
    return Value{};
}

} // namespace

CodexStatusProvider::CodexStatusProvider(CodexProviderConfig config, ProcessSnapshotReader reader,
                                         std::shared_ptr<CodexOfficialStatusProbe> probe)
    : config_(std::move(config)),
      rolloutAnalyzer_(RolloutTailAnalyzer::defaultMaxBytes, RolloutTailAnalyzer::defaultCacheCapacity),
      sessionIndexCache_(sessionIndexCacheCapacity),
      managedProcessCache_(managedProcessCacheCapacity),
      processSnapshotReader_(reader ? std::move(reader) : ProcessResourceSampler::freshReader()),
      officialStatusProbe_(probeOrDefault(std::move(probe))) {}

ProviderSnapshot CodexStatusProvider::snapshot(Date at) {
    try {
        return scan(at);
    } catch (const std::exception& error) {
        std::string text = std::string("Codex scan failed: ") + error.what();
        ProviderSnapshot snapshot =
            ProviderSnapshot::make(std::string(providerName), std::nullopt, std::nullopt, {}, 0, at, {text});
        snapshot.readNothing = true;
        return snapshot;
    }
}

std::vector<CodexOfficialThreadStatus> CodexStatusProvider::fetchOfficialStatuses(Date now) {
    return *officialStatusList(now);
}

CodexStatusProvider::StatusList CodexStatusProvider::officialStatusList(Date now) {
    static const StatusList none = std::make_shared<const std::vector<CodexOfficialThreadStatus>>();
    StatusList statuses;
    try {
        statuses = officialStatusProbe_->fetchSharedSnapshot(now);
    } catch (...) {
        return none;
    }
    if (!statuses) return none;
    const auto noID = [](const CodexOfficialThreadStatus& status) { return status.id.empty(); };
    if (std::none_of(statuses->begin(), statuses->end(), noID)) return statuses;
    auto kept = std::make_shared<std::vector<CodexOfficialThreadStatus>>(*statuses);
    std::erase_if(*kept, noID);
    return kept;
}

std::shared_ptr<const CodexStatusProvider::LiveIndex> CodexStatusProvider::liveIndex(const StatusList& statuses) {
    {
        std::lock_guard<std::mutex> guard(liveIndexLock_);
        if (liveIndex_ && liveIndexSource_ == statuses) return liveIndex_;
    }
    auto index = std::make_shared<LiveIndex>();
    for (std::size_t i = 0; i < statuses->size(); ++i) {
        const CodexOfficialThreadStatus& status = (*statuses)[i];
        const bool overlay = status.live && (status.state == CodexOfficialThreadRunState::active ||
                                             status.state == CodexOfficialThreadRunState::idle);
        if (!overlay || !index->live.emplace(status.id, i).second) index->others.push_back(i);
    }
    std::lock_guard<std::mutex> guard(liveIndexLock_);
    liveIndexSource_ = statuses;
    liveIndex_ = index;
    return index;
}

ProviderSnapshot CodexStatusProvider::scan(Date now) {
    fileStat_.refresh();
    const std::string providerNameText(providerName);
    const StatusList statuses = officialStatusList(now);
    const auto statePath = newestExistingFile(stateDatabaseCandidates("state_5.sqlite"));

    if (!statePath) {
        const std::vector<CodexCandidate> official = officialCandidates(*statuses, now);
        static const std::vector<ProcessResourceSample> noSamples;
        static const ManagedProcessesByConversation noManagedProcesses;
        // The process table is read here only to know whether a daemon's wait counts.
        const bool liveWait = std::any_of(official.begin(), official.end(), [](const CodexCandidate& candidate) {
            return candidate.liveWait != CodexThreadWait::none;
        });
        const ProcessSampleList samples = liveWait ? processSnapshotReader_() : ProcessSampleList();
        const ProcessView processes(liveWait ? samples.all() : noSamples, noManagedProcesses);
        std::vector<AgentSession> sessions;
        for (const auto& candidate : official) {
            CandidateDecision decision = decideCandidate(candidate, now, processes);
            if (decision.kind == CandidateDecision::Kind::active) sessions.push_back(std::move(*decision.session));
        }
        sortSessionsNewestFirst(sessions);
        if (!sessions.empty()) {
            std::vector<RunEvidence> evidence = runEvidence(sessions, {}, now);
            return ProviderSnapshot::make(providerNameText, std::nullopt, std::nullopt, std::move(sessions), 0, now, {},
                                          std::move(evidence));
        }
        // A Codex not yet used on this machine has no state database: that
        // is read as nothing running, with the missing file listed.
        const std::string missing = "Codex state sqlite not found";
        return ProviderSnapshot::make(providerNameText, std::nullopt, missing, {}, 0, now, {missing});
    }

    // The daemon's active and idle statuses are laid over the threads the
    // other sources give (no candidate of their own, no merge); the other
    // statuses are candidates like any source's.
    const std::shared_ptr<const LiveIndex> live = liveIndex(statuses);
    std::vector<CodexCandidate> official;
    official.reserve(live->others.size());
    for (std::size_t i : live->others)
        if (auto candidate = officialCandidate((*statuses)[i], now)) official.push_back(std::move(*candidate));

    const DatabaseFiles stateFiles = watchedDatabaseFiles(*statePath);
    const SQLiteReader reader(*statePath);
    StateSchema schema(reader);
    SourceOutcomes sources;

    // Without a log database there is one source less, neither read nor failed.
    std::vector<CodexCandidate> runtime;
    if (const auto logPath = newestExistingFile(stateDatabaseCandidates("logs_2.sqlite")))
        runtime = collect<std::vector<CodexCandidate>>("Codex runtime logs", sources, [&] {
            return runtimeLogCandidates(schema, stateFiles, watchedDatabaseFiles(*logPath), now);
        });
    const int64_t edgeBound = closedEdgeLowerBound(now);
    const std::shared_ptr<const SpawnEdgeResult> edges = collect<std::shared_ptr<const SpawnEdgeResult>>(
        "Codex spawn edges", sources, [&] { return spawnEdgeResult(stateFiles, schema, edgeBound); });
    const RecentThreadList recent = collect<RecentThreadList>("Codex recent threads", sources,
                                                              [&] { return recentThreadList(stateFiles, schema); });
    std::vector<std::string>& errors = sources.errors;

    const std::shared_ptr<const SessionIndex> index = sessionIndex(fileStat_.info(sessionIndexPath()));

    // Merged by id in first-seen order: official, runtime log, spawn edges,
    // recent threads.
    std::vector<const CodexCandidate*> all;
    all.reserve(official.size() + runtime.size() + (edges ? edges->candidates.size() : 0) +
                (recent ? recent->size() : 0));
    for (const auto& candidate : official) all.push_back(&candidate);
    for (const auto& candidate : runtime) all.push_back(&candidate);
    if (edges)
        for (const auto& candidate : edges->candidates)
            if (keepsSpawnEdge(candidate, edgeBound)) all.push_back(&candidate);
    if (recent)
        for (const auto& candidate : *recent) all.push_back(&candidate);
    std::vector<MergedCandidate> merged = mergeCandidates(all);
    // The daemon's word per merged thread; threads only the daemon knows come last.
    std::vector<const CodexOfficialThreadStatus*> liveStatus(merged.size(), nullptr);
    std::vector<CodexCandidate> liveOnly;
    if (!live->live.empty()) {
        // 1: a daemon status no thread took yet; 2: taken.
        std::vector<char> unmatched(statuses->size(), 0);
        for (const auto& [id, position] : live->live) unmatched[position] = 1;
        for (std::size_t i = 0; i < merged.size(); ++i) {
            if (auto found = live->live.find(merged[i].get().id); found != live->live.end()) {
                liveStatus[i] = &(*statuses)[found->second];
                unmatched[found->second] = 2;
            }
        }
        liveOnly.reserve(live->live.size());
        for (std::size_t position = 0; position < statuses->size(); ++position)
            if (unmatched[position] == 1)
                if (auto candidate = officialCandidate((*statuses)[position], now))
                    liveOnly.push_back(std::move(*candidate));
        for (const auto& candidate : liveOnly) {
            merged.push_back(MergedCandidate{&candidate, std::nullopt, std::nullopt});
            liveStatus.push_back(nullptr);
        }
    }
    // A presentable session-index name replaces whatever title the thread
    // has, and a name the daemon gives the one from the databases.
    if (!index->empty())
        for (auto& entry : merged) entry.indexTitle = indexName(index, entry.get().id);
    for (std::size_t i = 0; i < merged.size(); ++i)
        if (liveStatus[i] && !merged[i].indexTitle && liveStatus[i]->title) {
            std::string title = codex::cleanedFirstLine(liveStatus[i]->title);
            if (!title.empty()) merged[i].indexTitle = std::move(title);
        }

    const std::shared_ptr<const ProcessIndex> processTable = processIndex(processSnapshotReader_());
    const ProcessView& processes = *processTable->view;

    std::vector<AgentSession> sessions;
    std::vector<RunEvidence> completions;
    int64_t staleCount = 0;
    for (std::size_t i = 0; i < merged.size(); ++i) {
        const MergedCandidate& entry = merged[i];
        CandidateDecision decision = decideCandidate(entry.get(), now, processes,
                                                     entry.indexTitle ? &*entry.indexTitle : nullptr, liveStatus[i]);
        switch (decision.kind) {
        case CandidateDecision::Kind::active:
            sessions.push_back(std::move(*decision.session));
            break;
        case CandidateDecision::Kind::inactive:
            if (decision.completion) completions.push_back(std::move(*decision.completion));
            break;
        case CandidateDecision::Kind::stale:
            ++staleCount;
            break;
        }
    }
    // Only the parents of shown threads can need a profile.
    std::unordered_set<std::string_view> parentIDs;
    for (const auto& session : sessions)
        if (session.parentID) parentIDs.insert(*session.parentID);
    const RuntimeProfiles profiles = runtimeProfilesByThread(merged, parentIDs);
    std::vector<AgentSession> parents = applyParentChildState(sessions, profiles, now);
    for (auto& parent : parents) sessions.push_back(std::move(parent));
    sortSessionsNewestFirst(sessions);

    std::optional<std::vector<RunEvidence>> evidence;
    if (!sessions.empty() || !completions.empty()) {
        evidence = runEvidence(sessions, errors, now);
        for (auto& completion : completions) evidence->push_back(std::move(completion));
    }
    ProviderSnapshot snapshot =
        ProviderSnapshot::make(providerNameText, std::nullopt, std::nullopt, std::move(sessions), staleCount, now,
                               std::move(errors), std::move(evidence));
    // The state database is there, but no source of it answered and the app
    // server named no thread.
    snapshot.readNothing = sources.read == 0 && official.empty();
    return snapshot;
}

std::optional<std::string> CodexStatusProvider::indexName(const std::shared_ptr<const SessionIndex>& index,
                                                          const std::string& id) {
    const auto found = index->find(id);
    if (found == index->end()) return std::nullopt;
    std::lock_guard<std::mutex> guard(indexNamesLock_);
    if (indexNamesSource_ != index) {
        // Another index object: what was remembered belongs to the old one.
        indexNames_.clear();
        indexNamesSource_ = index;
    }
    auto [it, inserted] = indexNames_.try_emplace(id);
    if (inserted) it->second = sessionIndexTitle(found->second);
    return it->second;
}

} // namespace brindleaf
