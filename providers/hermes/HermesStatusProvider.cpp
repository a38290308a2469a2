#include "providers/hermes/HermesStatusProvider.hpp"

#include "core/ActivityAge.hpp"
#include "core/FileStat.hpp"
#include "core/ProcessResourceSampler.hpp"
#include "core/SQLiteReaderError.hpp"
#include "core/SafeFileReader.hpp"
#include "core/TextUtils.hpp"
#include "core/TolerantJSON.hpp"
#include "providers/hermes/HermesDataSources.hpp"
#include "providers/hermes/HermesScanInputs.hpp"

#include <simdjson.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <limits>
#include <utility>

namespace brindleaf {

HermesStatusProvider::HermesStatusProvider(HermesProviderConfig config, ProcessSnapshotReader reader)
    : HermesStatusProvider(std::move(config), std::move(reader), ProcessCommandReader{}) {}

HermesStatusProvider::HermesStatusProvider(HermesProviderConfig config, ProcessSnapshotReader reader,
                                           ProcessCommandReader commandReader,
                                           std::shared_ptr<HermesOfficialStatusProbe> officialProbe,
                                           double officialProbeFailureBackoff)
    : config_(std::move(config)), gatewayStatePath_(config_.hermesHome + "/gateway_state.json"),
      processesPath_(config_.hermesHome + "/processes.json"), agentLogPath_(config_.hermesHome + "/logs/agent.log"),
      databasePath_(config_.hermesHome + "/state.db"), walPath_(databasePath_ + "-wal"),
      processCommandReader_(std::move(commandReader)),
      processSnapshotReader_(reader ? std::move(reader) : ProcessSnapshotReader(&ProcessResourceSampler::sampleAll)),
      officialStatusProbe_(officialProbe ? std::move(officialProbe)
                                         : std::make_shared<HermesDefaultOfficialStatusProbe>()),
      officialProbeFailureBackoff_(officialProbeFailureBackoff) {}

// --- Small state files --------------------------------------------------------

std::optional<HermesGatewayState> HermesStatusProvider::loadGatewayState(const std::string& path) {
    auto contents = SafeFileReader::readSmallFile(path, SafeFileReader::smallFileLimit);
    if (!contents) return std::nullopt;
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    if (TolerantJSON::parse(parser, *contents).get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
    HermesGatewayState gateway;
    if (auto state = jsonMember(object, "gateway_state")) gateway.state = jsonNonEmptyString(*state);
    if (auto pid = jsonMember(object, "pid")) gateway.pid = jsonIntValue(*pid);
    if (auto agents = jsonMember(object, "active_agents")) gateway.activeAgents = jsonIntValue(*agents).value_or(0);
    if (auto updated = jsonMember(object, "updated_at")) {
        std::string_view text;
        if (updated->get_string().get(text) == simdjson::SUCCESS) gateway.updatedAt = parseHermesDate(text);
    }
    return gateway;
}

std::vector<HermesChildProcess> HermesStatusProvider::loadChildProcesses(const std::string& path) {
    return liveChildProcesses(loadChildProcessEntries(path));
}

std::vector<HermesChildProcess> HermesStatusProvider::liveChildProcesses(std::vector<HermesChildProcess> entries) {
    std::erase_if(entries, [](const HermesChildProcess& child) { return !isHermesProcessAlive(child.pid); });
    return entries;
}

std::vector<HermesChildProcess> HermesStatusProvider::loadChildProcessEntries(const std::string& path) {
    auto contents = SafeFileReader::readSmallFile(path, SafeFileReader::smallFileLimit);
    if (!contents) return {};
    simdjson::dom::parser parser;
    simdjson::dom::array entries;
    if (TolerantJSON::parse(parser, *contents).get_array().get(entries) != simdjson::SUCCESS) return {};
    std::vector<HermesChildProcess> children;
    for (simdjson::dom::element entry : entries) {
        simdjson::dom::object object;
        if (entry.get_object().get(object) != simdjson::SUCCESS) continue;
        auto keyValue = jsonMember(object, "session_key");
        auto key = keyValue ? jsonNonEmptyString(*keyValue) : std::nullopt;
        if (!key) continue;
        auto pidValue = jsonMember(object, "pid");
        auto pid = pidValue ? jsonIntValue(*pidValue) : std::nullopt;
        if (!pid || *pid < 1) continue;

        HermesChildProcess child;
        auto idValue = jsonMember(object, "session_id");
        child.id = (idValue ? jsonNonEmptyString(*idValue) : std::nullopt).value_or(*key);
        child.sessionKey = std::move(*key);
        auto commandValue = jsonMember(object, "command");
        child.command =
            (commandValue ? jsonNonEmptyString(*commandValue) : std::nullopt).value_or("Hermes child process");
        child.pid = *pid;
        if (auto cwd = jsonMember(object, "cwd")) child.cwd = jsonNonEmptyString(*cwd);
        if (auto started = jsonMember(object, "started_at")) {
            if (auto seconds = jsonDoubleValue(*started)) child.startedAt = hermesEpochSeconds(*seconds);
        }
        children.push_back(std::move(child));
    }
    return children;
}

// --- Official status ------------------------------------------------------------

bool HermesStatusProvider::isOfficialProbeSuppressed(Date now) {
    std::lock_guard<std::mutex> guard(officialProbeLock_);
    if (!officialProbeSuppressedUntil_) return false;
    // A pause that ends further ahead than it ever lasts was set before the
    // clock went back: it is over.
    const Date until = *officialProbeSuppressedUntil_;
    if (now < until && until - now <= officialProbeFailureBackoff_) return true;
    officialProbeSuppressedUntil_.reset();
    return false;
}

std::vector<AgentSession> HermesStatusProvider::officialSessions(Date now, const std::string& rolloutPath) {
    if (isOfficialProbeSuppressed(now)) return {};
    std::vector<HermesOfficialSession> reported;
    try {
        reported = officialStatusProbe_->sessions(now, config_.hermesHome);
    } catch (...) {
        std::lock_guard<std::mutex> guard(officialProbeLock_);
        officialProbeSuppressedUntil_ = now + officialProbeFailureBackoff_;
        return {};
    }
    std::vector<AgentSession> sessions;
    for (auto& official : reported) {
        if (official.id.empty()) continue;
        AgentSessionFields fields;
        fields.id = official.id;
        fields.provider = std::string(providerName);
        fields.agentRole = official.source;
        fields.threadSource = official.source;
        fields.title = firstLineTruncated(80, official.title);
        fields.cwd = official.cwd;
        fields.rolloutPath = rolloutPath;
        fields.lastActivityAt = official.lastActivityAt;
        fields.evidence = official.evidence;
        fields.needsUserAttention = official.needsUserAttention;
        fields.runtimeProfile = SessionRuntimeProfile(official.model, official.reasoningEffort,
                                                      SessionRuntimeProfileSource::hermesOfficialStatus);
        sessions.emplace_back(std::move(fields));
    }
    return sessions;
}

// --- The scan ---------------------------------------------------------------------

namespace {

using Kind = HermesRuntimeSignal::Kind;

std::string countText(int64_t value) { return std::to_string(value); }

bool containsOrphanIgnoringCase(const std::string& text) {
    static constexpr std::string_view needle = "orphan";
    if (text.size() < needle.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
        std::size_t j = 0;
        while (j < needle.size() && std::tolower(static_cast<unsigned char>(text[i + j])) == needle[j]) ++j;
        if (j == needle.size()) return true;
    }
    return false;
}

// A few child processes are searched linearly; many get an index.
class ChildProcessIndex {
public:
    explicit ChildProcessIndex(const std::vector<const HermesChildProcess*>& children) : children_(children) {
        if (children.size() <= linearLimit) return;
        for (const auto* child : children) byKey_.emplace(child->sessionKey, child); // the first of each key
    }

    // The first child of this session key, in file order.
    const HermesChildProcess* find(const std::string& key) const {
        if (children_.size() <= linearLimit) {
            for (const auto* child : children_) {
                if (child->sessionKey == key) return child;
            }
            return nullptr;
        }
        auto found = byKey_.find(key);
        return found == byKey_.end() ? nullptr : found->second;
    }

private:
    static constexpr std::size_t linearLimit = 16;
    const std::vector<const HermesChildProcess*>& children_;
    std::unordered_map<std::string_view, const HermesChildProcess*> byKey_;
};

// The working data of one scan and the decisions made on it.
class ScanState {
public:
    using CandidateSet = HermesStatusProvider::CandidateSet;
    using SignalIndex = HermesStatusProvider::SignalIndex;
    using WorkerIndex = HermesStatusProvider::WorkerIndex;

    ScanState(const HermesStatusProvider& provider, Date now, const CandidateSet& candidates,
              const SignalIndex& signals, const WorkerIndex& workers,
              const std::vector<const HermesChildProcess*>& children, HermesProcessTable& processes,
              HermesStatusProvider::UsageMemo& usageMemo, std::size_t expectedSessions)
        : provider_(provider), config_(provider.config()), now_(now), set_(candidates),
          candidates_(candidates.candidates), signals_(signals), workers_(workers), liveKeys_(workers.liveKeys),
          children_(children), childIndex_(children), processes_(processes), usageMemo_(usageMemo) {
        sessions_.reserve(expectedSessions);
        index_.reserve(expectedSessions);
    }

    // The gateway rule: the newest open sessions stand for the agents a running gateway reports.
    void applyGatewayRule(int64_t gatewayCount, const std::optional<HermesGatewayState>& gateway) {
        const auto& open = set_.openNewestFirst;
        if (open.empty()) {
            std::optional<SessionResourceUsage> usage;
            if (gateway && gateway->pid) usage = processes_.treeUsage({*gateway->pid});
            AgentSessionFields fields;
            fields.id = "gateway";
            fields.provider = std::string(HermesStatusProvider::providerName);
            fields.threadSource = std::string("gateway");
            fields.title = "Hermes gateway active";
            fields.rolloutPath = provider_.databasePath();
            fields.lastActivityAt = gateway ? gateway->updatedAt : std::nullopt;
            fields.evidence = gatewayEvidence(gatewayCount);
            fields.resourceUsage = std::move(usage);
            upsert(AgentSession(std::move(fields)));
            return;
        }
        int64_t added = 0;
        for (const auto* candidate : open) {
            if (added >= gatewayCount) break;
            const auto* latest = latestRuntimeSignal(*candidate);
            if (latest && latest->kind == Kind::turnEnded) continue;
            if (candidate->lastRole == "assistant" && candidate->lastFinishReason == "stop") continue;
            ++added;
            const auto* attention = attentionSignal(*candidate);
            upsert(provider_.sessionRecord(set_, *candidate,
                                           attention ? attention->evidence : gatewayEvidence(gatewayCount),
                                           attention != nullptr, usageOf(*candidate, nullptr)));
        }
    }

    // The decision for one candidate.
    void decide(const HermesSessionCandidate& candidate) {
        const double age = ageOf(candidate);
        if (candidate.endedAt) {
            if (isOrphanWithActivity(candidate, age))
                show(candidate, "Hermes TUI worker orphan child activity", false);
            return;
        }
        if (const auto* attention = attentionSignal(candidate)) return show(candidate, attention->evidence, true);
        if (const auto* child = childProcessForCandidate(candidate)) {
            return upsert(provider_.sessionRecord(set_, candidate, "Hermes child process pid=" + countText(child->pid),
                                                  false, usageOf(candidate, child)));
        }
        if (isActiveSubagent(candidate, age)) return show(candidate, "Hermes active subagent", false);
        if (const auto* recent = recentRuntimeSignal(candidate))
            return show(candidate, recent->evidence, recent->needsUserAttention);
        if (candidate.handoffState == "running") return show(candidate, "Hermes handoff running", false);
        if (candidate.handoffState == "pending" && age <= config_.stalePendingToolWindow)
            return show(candidate, "Hermes handoff pending", false);
        if (candidate.lastRole == "user" && age <= config_.recentActivityWindow)
            return show(candidate, "recent Hermes user turn", false);
        if (candidate.lastRole == "tool" && age <= config_.recentActivityWindow)
            return show(candidate, "recent Hermes tool output", false);
        if (candidate.lastFinishReason == "tool_calls" && age <= config_.stalePendingToolWindow)
            return show(candidate, "Hermes pending tool call", false);
        if (hasLiveWorker(candidate) && (hasOpenTurn(candidate) || candidate.messageCount == 0) &&
            age <= config_.stalePendingToolWindow)
            return show(candidate, "Hermes TUI worker busy", false);
        if (age > config_.staleOpenSessionWindow) ++staleCount_;
    }

    // Child processes whose session key belongs to no open session are shown on their own.
    void addUnmatchedChildren() {
        for (const auto* child : children_) {
            if (isChildProcessMatched(*child)) continue;
            AgentSessionFields fields;
            fields.id = child->id;
            fields.provider = std::string(HermesStatusProvider::providerName);
            fields.agentRole = std::string("child-process");
            fields.threadSource = std::string("process");
            fields.title = firstLineTruncated(80, child->command);
            fields.cwd = child->cwd.value_or(std::string());
            fields.rolloutPath = provider_.databasePath();
            fields.lastActivityAt = child->startedAt;
            fields.evidence = "Hermes child process pid=" + countText(child->pid);
            fields.resourceUsage = processes_.treeUsage({child->pid});
            upsert(AgentSession(std::move(fields)));
        }
    }

    void upsert(AgentSession session) { HermesStatusProvider::upsertSession(std::move(session), index_, sessions_); }

    std::vector<AgentSession>& sessions() { return sessions_; }
    int64_t staleCount() const { return staleCount_; }

private:
    static std::string gatewayEvidence(int64_t gatewayCount) {
        return "Hermes gateway active_agents=" + countText(gatewayCount);
    }

    double ageOf(const HermesSessionCandidate& candidate) const {
        if (!candidate.lastActivityAt) return std::numeric_limits<double>::infinity();
        return activityAge(now_, *candidate.lastActivityAt);
    }

    // How long a signal of this kind stays meaningful.
    double signalWindow(Kind kind) const {
        return kind == Kind::recentActivity ? config_.runtimeActivityWindow : config_.stalePendingToolWindow;
    }

    bool signalIsCurrent(const HermesRuntimeSignal& signal) const {
        return signal.kind != Kind::turnEnded && activityAge(now_, signal.timestamp) <= signalWindow(signal.kind);
    }

    // The first hit of `lookup` on the candidate, then its ancestors.
    template <typename Lookup>
    auto chainWalk(const HermesSessionCandidate& candidate, Lookup&& lookup) const -> decltype(lookup(candidate.id)) {
        HermesChainVisits visited;
        const HermesSessionCandidate* current = &candidate;
        while (true) {
            if (visited.contains(current->id)) return {};
            if (auto hit = lookup(current->id)) return hit;
            visited.add(current->id);
            if (!current->parentID) return {};
            if (auto hit = lookup(*current->parentID)) return hit;
            auto parent = set_.byID.find(*current->parentID);
            if (parent == set_.byID.end()) return {};
            current = parent->second;
        }
    }

    const HermesRuntimeSignal* latestRuntimeSignal(const HermesSessionCandidate& candidate) const {
        if (signals_.signals.empty()) return nullptr;
        return chainWalk(candidate,
                         [&](const std::string& id) -> const HermesRuntimeSignal* { return signals_.find(id); });
    }

    const HermesRuntimeSignal* attentionSignal(const HermesSessionCandidate& candidate) const {
        const auto* signal = latestRuntimeSignal(candidate);
        if (!signal || !signal->needsUserAttention || !signalIsCurrent(*signal)) return nullptr;
        return signal;
    }

    const HermesRuntimeSignal* recentRuntimeSignal(const HermesSessionCandidate& candidate) const {
        const auto* signal = latestRuntimeSignal(candidate);
        if (!signal || !signalIsCurrent(*signal)) return nullptr;
        return signal;
    }

    const HermesChildProcess* childProcessForCandidate(const HermesSessionCandidate& candidate) const {
        if (children_.empty()) return nullptr;
        return chainWalk(candidate,
                         [&](const std::string& id) -> const HermesChildProcess* { return childIndex_.find(id); });
    }

    bool hasLiveWorker(const HermesSessionCandidate& candidate) const {
        if (liveKeys_.empty()) return false;
        return chainWalk(candidate, [&](const std::string& id) { return liveKeys_.count(id) > 0; });
    }

    bool isActiveSubagent(const HermesSessionCandidate& candidate, double age) const {
        return candidate.source == "subagent" && candidate.endReason != "agent_close" &&
               candidate.lastFinishReason != "stop" && age <= config_.stalePendingToolWindow;
    }

    static bool hasOpenTurn(const HermesSessionCandidate& candidate) {
        return candidate.lastRole == "user" || candidate.lastRole == "tool" ||
               candidate.lastFinishReason == "tool_calls";
    }

    bool isOrphanWithActivity(const HermesSessionCandidate& candidate, double age) const {
        if (!candidate.endedAt || !candidate.lastActivityAt || !candidate.endReason) return false;
        if (*candidate.endReason != "ws_orphan_reap" && !containsOrphanIgnoringCase(*candidate.endReason)) return false;
        return hasLiveWorker(candidate) && hasOpenTurn(candidate) &&
               *candidate.lastActivityAt >= *candidate.endedAt - 2 && age <= config_.stalePendingToolWindow;
    }

    // True when an open session, or one of its ancestors, has the child's session key.
    bool isChildProcessMatched(const HermesChildProcess& child) const {
        const std::string& key = child.sessionKey;
        return std::any_of(candidates_.begin(), candidates_.end(), [&](const HermesSessionCandidate& candidate) {
            return !candidate.endedAt && chainWalk(candidate, [&](const std::string& id) { return id == key; });
        });
    }

    // Remembered while the candidates, workers and process list stay the same.
    std::optional<SessionResourceUsage> usageOf(const HermesSessionCandidate& candidate,
                                                const HermesChildProcess* child) {
        const std::size_t row = set_.indexOf(candidate);
        if (!child) {
            auto& slot = usageMemo_.withoutChild[row];
            if (!slot) slot = provider_.sessionResourceUsage(set_, candidate, nullptr, workers_.byKey, processes_);
            return *slot;
        }
        const auto key = std::make_pair(row, child->pid);
        auto found = usageMemo_.withChild.find(key);
        if (found != usageMemo_.withChild.end()) return found->second;
        if (usageMemo_.withChild.size() >= HermesStatusProvider::UsageMemo::maximumChildEntries)
            usageMemo_.withChild.clear();
        auto usage = provider_.sessionResourceUsage(set_, candidate, child, workers_.byKey, processes_);
        usageMemo_.withChild.emplace(key, usage);
        return usage;
    }

    void show(const HermesSessionCandidate& candidate, std::string evidence, bool needsUser) {
        upsert(provider_.sessionRecord(set_, candidate, std::move(evidence), needsUser, usageOf(candidate, nullptr)));
    }

    const HermesStatusProvider& provider_;
    const HermesProviderConfig& config_;
    const Date now_;
    const CandidateSet& set_;
    const std::vector<HermesSessionCandidate>& candidates_;
    const SignalIndex& signals_;
    const WorkerIndex& workers_;
    const std::set<std::string>& liveKeys_;
    const std::vector<const HermesChildProcess*>& children_;
    const ChildProcessIndex childIndex_;
    HermesProcessTable& processes_;
    HermesStatusProvider::UsageMemo& usageMemo_;

    std::vector<AgentSession> sessions_;
    std::unordered_map<std::string, std::size_t> index_;
    int64_t staleCount_ = 0;
};

} // namespace

ProviderSnapshot HermesStatusProvider::scan(Date now) {
    fileStat_.refresh();
    const auto gatewayInfo = fileStat_.info(gatewayStatePath_);
    const auto childInfo = fileStat_.info(processesPath_);
    const auto databaseInfo = fileStat_.info(databasePath_);

    std::vector<AgentSession> official = officialSessions(now, databasePath_);
    if (!gatewayInfo && !childInfo && !databaseInfo) {
        std::vector<AgentSession> sessions;
        std::unordered_map<std::string, std::size_t> index;
        for (auto& session : official) upsertSession(std::move(session), index, sessions);
        return ProviderSnapshot::make(name(), std::nullopt, std::nullopt, std::move(sessions), 0, now, {});
    }

    // Both files change rarely: their parsed contents are kept while they are
    // unchanged; whether their processes still run is asked on every scan.
    std::optional<HermesGatewayState> gateway;
    if (gatewayInfo) {
        gateway = gatewayStateCache_.value(gatewayStatePath_, std::string(), gatewayInfo,
                                           [&] { return loadGatewayState(gatewayStatePath_); });
    }
    std::shared_ptr<const std::vector<HermesChildProcess>> childEntries;
    std::vector<const HermesChildProcess*> children;
    if (childInfo) {
        childEntries = childProcessCache_.value(processesPath_, std::string(), childInfo, [&] {
            return std::shared_ptr<const std::vector<HermesChildProcess>>(
                std::make_shared<std::vector<HermesChildProcess>>(loadChildProcessEntries(processesPath_)));
        });
        children.reserve(childEntries->size());
        for (const auto& child : *childEntries) {
            if (isHermesProcessAlive(child.pid)) children.push_back(&child);
        }
    }
    static const auto noSignals = std::make_shared<const SignalIndex>(std::vector<HermesRuntimeSignal>());
    std::shared_ptr<const SignalIndex> signals = noSignals;
    if (const auto logInfo = fileStat_.info(agentLogPath_)) signals = sharedRuntimeSignals(agentLogPath_, *logInfo);
    const ProcessSampleList samples = processSnapshotReader_();
    std::vector<std::string> commandLines;
    if (processCommandReader_) commandLines = processCommandReader_();

    std::unique_lock processTableGuard(processTableLock_);
    const std::shared_ptr<const WorkerIndex> workers = liveWorkers(samples, std::move(commandLines));
    processTableGuard.unlock();

    std::shared_ptr<const CandidateSet> candidates;
    try {
        DatabaseQueryCache<std::shared_ptr<const CandidateSet>>::Signature signature{};
        if (databaseInfo) {
            signature.databaseSize = databaseInfo->size;
            signature.databaseModifiedAt = databaseInfo->modifiedAt;
        }
        if (auto wal = fileStat_.info(walPath_)) {
            signature.walSize = wal->size;
            signature.walModifiedAt = wal->modifiedAt;
        }
        if (auto hit = sessionCandidateCache_.lookup(databasePath_, workers->cacheKey, signature)) {
            candidates = std::move(*hit);
        } else {
            candidates = std::make_shared<const CandidateSet>(sessionCandidateQuery(databasePath_, workers->liveKeys));
            sessionCandidateCache_.store(databasePath_, workers->cacheKey, signature, candidates);
        }
    } catch (const std::exception& error) {
        // Without the session database nothing else is judged.
        ProviderSnapshot snapshot =
            ProviderSnapshot::make(name(), std::nullopt, std::nullopt, {}, 0, now, {error.what()});
        snapshot.readNothing = true;
        return snapshot;
    }

    const int64_t gatewayCount = hermesGatewayRunningCount(gateway);
    const std::size_t expectedSessions = official.size() + static_cast<std::size_t>(gatewayCount >= 1 ? 1 : 0) +
                                         candidates->candidates.size() + children.size();
    processTableGuard.lock();
    HermesProcessTable& processes = indexedProcesses(samples);
    if (!usageMemo_) usageMemo_ = std::make_shared<UsageMemo>();
    usageMemo_->prepare(candidates, workers, processTableGeneration_);
    ScanState state(*this, now, *candidates, *signals, *workers, children, processes, *usageMemo_, expectedSessions);
    for (auto& session : official) state.upsert(std::move(session));
    if (gatewayCount >= 1) state.applyGatewayRule(gatewayCount, gateway);
    for (const auto& candidate : candidates->candidates) state.decide(candidate);
    state.addUnmatchedChildren();

    std::vector<AgentSession>& sessions = state.sessions();
    sortSessionsNewestFirst(sessions);
    return ProviderSnapshot::make(name(), std::nullopt, std::nullopt, std::move(sessions), state.staleCount(), now, {});
}

std::shared_ptr<const HermesStatusProvider::WorkerIndex>
HermesStatusProvider::liveWorkers(const ProcessSampleList& samples, std::vector<std::string> commandLines) {
    if (workerIndex_ && samples.sameAs(workerSamples_) && commandLines == workerCommandLines_) return workerIndex_;
    auto index = std::make_shared<WorkerIndex>();
    index->workers = hermesLiveWorkersFromSamples(samples);
    for (auto& worker : hermesLiveWorkersFromCommands(commandLines)) index->workers.push_back(std::move(worker));
    for (const auto& worker : index->workers) index->liveKeys.insert(worker.sessionKey);
    // Each key with its length before it: keys may hold any character, and two
    // different sets must never give one cache key.
    for (const auto& key : index->liveKeys) {
        index->cacheKey += std::to_string(key.size());
        index->cacheKey += ':';
        index->cacheKey += key;
    }
    for (const auto& worker : index->workers) index->byKey[worker.sessionKey].push_back(worker);
    workerSamples_ = samples;
    workerCommandLines_ = std::move(commandLines);
    workerIndex_ = std::move(index);
    return workerIndex_;
}

HermesProcessTable& HermesStatusProvider::indexedProcesses(const ProcessSampleList& samples) {
    if (!indexedProcesses_ || !indexedProcesses_->samples.sameAs(samples)) {
        indexedProcesses_ = std::make_unique<IndexedProcesses>(samples, config_.hermesHome);
        ++processTableGeneration_;
    }
    return indexedProcesses_->table;
}

} // namespace brindleaf
