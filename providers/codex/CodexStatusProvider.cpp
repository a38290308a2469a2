#include "providers/codex/CodexStatusProvider.hpp"

#include "core/ProcessResourceSampler.hpp"
#include "providers/codex/CodexAppServerStatusProbe.hpp"

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

// Runs one database source; a failure becomes a health text and no candidates.
template <typename Source>
std::vector<CodexCandidate> collect(const char* label, std::vector<std::string>& errors, Source&& source) {
    try {
        return source();
    } catch (const std::exception& error) {
        errors.push_back(std::string(label) + ": " + error.what());
    }
    return {};
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
        return ProviderSnapshot::make(std::string(providerName), std::nullopt, std::nullopt, {}, 0, at, {text});
    }
}

std::vector<CodexOfficialThreadStatus> CodexStatusProvider::fetchOfficialStatuses(Date now) {
    std::vector<CodexOfficialThreadStatus> statuses;
    try {
        statuses = officialStatusProbe_->fetchSnapshot(now);
    } catch (...) {
        return {};
    }
    std::erase_if(statuses, [](const CodexOfficialThreadStatus& status) { return status.id.empty(); });
    return statuses;
}

ProviderSnapshot CodexStatusProvider::scan(Date now) {
    const std::string providerNameText(providerName);
    std::vector<CodexCandidate> official = officialCandidates(fetchOfficialStatuses(now), now);
    const auto statePath = newestExistingFile(stateDatabaseCandidates("state_5.sqlite"));

    if (!statePath) {
        std::vector<AgentSession> sessions;
        for (const auto& candidate : official) {
            CandidateDecision decision = decide(candidate, now, {}, {});
            if (decision.kind == CandidateDecision::Kind::active) sessions.push_back(std::move(*decision.session));
        }
        sortSessionsNewestFirst(sessions);
        if (!sessions.empty()) {
            std::vector<RunEvidence> evidence = runEvidence(sessions, {}, now);
            return ProviderSnapshot::make(providerNameText, std::nullopt, std::nullopt, std::move(sessions), 0, now, {},
                                          std::move(evidence));
        }
        const std::string missing = "Codex state sqlite not found";
        return ProviderSnapshot::make(providerNameText, std::nullopt, missing, {}, 0, now, {missing});
    }

    const SQLiteReader reader(*statePath);
    StateSchema schema(reader);
    std::vector<std::string> errors;

    std::vector<CodexCandidate> runtime =
        collect("Codex runtime logs", errors, [&] { return runtimeLogCandidates(schema, now); });
    std::vector<CodexCandidate> edges =
        collect("Codex spawn edges", errors, [&] { return spawnEdgeCandidates(*statePath, schema, now); });
    std::vector<CodexCandidate> recent =
        collect("Codex recent threads", errors, [&] { return recentThreadCandidates(*statePath, schema); });

    const std::shared_ptr<const SessionIndex> index = sessionIndex();

    std::vector<CodexCandidate> gathered;
    gathered.reserve(official.size() + runtime.size() + edges.size() + recent.size());
    for (auto* list : {&official, &runtime, &edges, &recent})
        for (auto& candidate : *list) gathered.push_back(std::move(candidate));
    std::vector<CodexCandidate> candidates = mergeCandidates(std::move(gathered));
    applySessionIndex(candidates, *index);

    const std::shared_ptr<const ProcessIndex> processTable = processIndex(processSnapshotReader_());
    const ProcessView& processes = *processTable->view;

    std::vector<AgentSession> sessions;
    std::vector<RunEvidence> completions;
    int64_t staleCount = 0;
    for (const auto& candidate : candidates) {
        CandidateDecision decision = decide(candidate, now, processes);
        switch (decision.kind) {
        case CandidateDecision::Kind::active: sessions.push_back(std::move(*decision.session)); break;
        case CandidateDecision::Kind::inactive:
            if (decision.completion) completions.push_back(std::move(*decision.completion));
            break;
        case CandidateDecision::Kind::stale: ++staleCount; break;
        }
    }
    // Only the parents of shown threads can need a profile.
    std::unordered_set<std::string> parentIDs;
    for (const auto& session : sessions)
        if (session.parentID) parentIDs.insert(*session.parentID);
    std::vector<AgentSession> parents =
        applyParentChildState(sessions, runtimeProfilesByThread(candidates, parentIDs), now);
    for (auto& parent : parents) sessions.push_back(std::move(parent));
    sortSessionsNewestFirst(sessions);

    std::optional<std::vector<RunEvidence>> evidence;
    if (!sessions.empty() || !completions.empty()) {
        evidence = runEvidence(sessions, errors, now);
        for (auto& completion : completions) evidence->push_back(std::move(completion));
    }
    return ProviderSnapshot::make(providerNameText, std::nullopt, std::nullopt, std::move(sessions), staleCount, now,
                                  std::move(errors), std::move(evidence));
}

} // namespace brindleaf
