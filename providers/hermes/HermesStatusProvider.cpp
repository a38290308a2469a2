#include "providers/hermes/HermesStatusProvider.hpp"

#include "core/FileStat.hpp"
#include "core/ProcessResourceSampler.hpp"
#include "core/SQLiteReaderError.hpp"
#include "core/SafeFileReader.hpp"
#include "core/TextUtils.hpp"
#include "providers/hermes/HermesDataSources.hpp"

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
    : config_(std::move(config)), processCommandReader_(std::move(commandReader)),
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
    if (parser.parse(*contents).get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
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
    if (parser.parse(*contents).get_array().get(entries) != simdjson::SUCCESS) return {};
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
    if (now < *officialProbeSuppressedUntil_) return true;
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

bool fileExists(const std::string& path) { return FileStat::info(path).has_value(); }

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

void sortByLastActivityDescending(std::vector<AgentSession>& sessions) {
    std::stable_sort(sessions.begin(), sessions.end(), [](const AgentSession& a, const AgentSession& b) {
        constexpr Date distantPast = -std::numeric_limits<double>::infinity();
        return a.lastActivityAt.value_or(distantPast) > b.lastActivityAt.value_or(distantPast);
    });
}

// The working data of one scan and the decisions made on it.
class ScanState {
public:
    ScanState(const HermesStatusProvider& provider, Date now, const std::vector<HermesSessionCandidate>& candidates,
              const std::vector<HermesRuntimeSignal>& signals, const std::vector<HermesLiveWorker>& liveWorkers,
              const std::set<std::string>& liveKeys, const std::vector<HermesChildProcess>& children,
              HermesProcessTable& processes)
        : provider_(provider), config_(provider.config()), now_(now), candidates_(candidates), liveKeys_(liveKeys),
          children_(children), processes_(processes) {
        candidatesByID_.reserve(candidates.size());
        for (const auto& candidate : candidates) candidatesByID_.emplace(candidate.id, &candidate);
        signalsByID_.reserve(signals.size());
        for (const auto& signal : signals) signalsByID_.emplace(signal.sessionID, &signal);
        for (const auto& worker : liveWorkers) workersByKey_[worker.sessionKey].push_back(worker);
        for (const auto& child : children) childrenByKey_[child.sessionKey].push_back(&child);
    }

    // The gateway rule: the newest open sessions stand for the agents a running gateway reports.
    void applyGatewayRule(int64_t gatewayCount, const std::optional<HermesGatewayState>& gateway) {
        std::vector<const HermesSessionCandidate*> open;
        for (const auto& candidate : candidates_) {
            if (!candidate.endedAt) open.push_back(&candidate);
        }
        std::stable_sort(open.begin(), open.end(), [](const auto* a, const auto* b) {
            constexpr Date distantPast = -std::numeric_limits<double>::infinity();
            return a->lastActivityAt.value_or(distantPast) > b->lastActivityAt.value_or(distantPast);
        });
        const std::string gatewayEvidence = "Hermes gateway active_agents=" + countText(gatewayCount);
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
            fields.evidence = gatewayEvidence;
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
            upsert(provider_.makeSession(*candidate, attention ? attention->evidence : gatewayEvidence,
                                         attention != nullptr, usageOf(*candidate, nullptr)));
        }
    }

    // The decision for one candidate; true when it was shown.
    void decide(const HermesSessionCandidate& candidate) {
        const double age = ageOf(candidate);
        if (candidate.endedAt) {
            if (isOrphanWithActivity(candidate, age))
                show(candidate, "Hermes TUI worker orphan child activity", false);
            return;
        }
        if (const auto* attention = attentionSignal(candidate)) return show(candidate, attention->evidence, true);
        if (const auto* child = childProcessForCandidate(candidate)) {
            return upsert(provider_.makeSession(candidate, "Hermes child process pid=" + countText(child->pid), false,
                                                usageOf(candidate, child)));
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
        if (hasLiveWorker(candidate, liveKeys_) && (hasOpenTurn(candidate) || candidate.messageCount == 0) &&
            age <= config_.stalePendingToolWindow)
            return show(candidate, "Hermes TUI worker busy", false);
        if (age > config_.staleOpenSessionWindow) ++staleCount_;
    }

    // Child processes whose session key belongs to no open session are shown on their own.
    void addUnmatchedChildren() {
        for (const auto& child : children_) {
            if (isChildProcessMatched(child)) continue;
            AgentSessionFields fields;
            fields.id = child.id;
            fields.provider = std::string(HermesStatusProvider::providerName);
            fields.agentRole = std::string("child-process");
            fields.threadSource = std::string("process");
            fields.title = firstLineTruncated(80, child.command);
            fields.cwd = child.cwd.value_or(std::string());
            fields.rolloutPath = provider_.databasePath();
            fields.lastActivityAt = child.startedAt;
            fields.evidence = "Hermes child process pid=" + countText(child.pid);
            fields.resourceUsage = processes_.treeUsage({child.pid});
            upsert(AgentSession(std::move(fields)));
        }
    }

    void upsert(AgentSession session) { HermesStatusProvider::upsertSession(std::move(session), index_, sessions_); }

    std::vector<AgentSession>& sessions() { return sessions_; }
    int64_t staleCount() const { return staleCount_; }

private:
    double ageOf(const HermesSessionCandidate& candidate) const {
        if (!candidate.lastActivityAt) return std::numeric_limits<double>::infinity();
        return now_ - *candidate.lastActivityAt;
    }

    // How long a signal of this kind stays meaningful.
    double signalWindow(Kind kind) const {
        return kind == Kind::recentActivity ? config_.runtimeActivityWindow : config_.stalePendingToolWindow;
    }

    bool signalIsCurrent(const HermesRuntimeSignal& signal) const {
        return signal.kind != Kind::turnEnded && now_ - signal.timestamp <= signalWindow(signal.kind);
    }

    // The first hit of `lookup` on the candidate, then its ancestors.
    template <typename Lookup>
    auto chainWalk(const HermesSessionCandidate& candidate, Lookup&& lookup) const -> decltype(lookup(candidate.id)) {
        // Chains are short: a few ids, searched linearly.
        std::vector<std::string_view> visited;
        const HermesSessionCandidate* current = &candidate;
        while (true) {
            if (std::find(visited.begin(), visited.end(), current->id) != visited.end()) return {};
            if (auto hit = lookup(current->id)) return hit;
            visited.push_back(current->id);
            if (!current->parentID) return {};
            if (auto hit = lookup(*current->parentID)) return hit;
            auto parent = candidatesByID_.find(*current->parentID);
            if (parent == candidatesByID_.end()) return {};
            current = parent->second;
        }
    }

    const HermesRuntimeSignal* latestRuntimeSignal(const HermesSessionCandidate& candidate) const {
        return chainWalk(candidate, [&](const std::string& id) -> const HermesRuntimeSignal* {
            auto found = signalsByID_.find(id);
            return found == signalsByID_.end() ? nullptr : found->second;
        });
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
        return chainWalk(candidate, [&](const std::string& id) -> const HermesChildProcess* {
            auto found = childrenByKey_.find(id);
            return found == childrenByKey_.end() || found->second.empty() ? nullptr : found->second.front();
        });
    }

    bool hasLiveWorker(const HermesSessionCandidate& candidate, const std::set<std::string>& keys) const {
        if (keys.empty()) return false;
        return chainWalk(candidate, [&](const std::string& id) { return keys.count(id) > 0; });
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
        return hasLiveWorker(candidate, liveKeys_) && hasOpenTurn(candidate) &&
               *candidate.lastActivityAt >= *candidate.endedAt - 2 && age <= config_.stalePendingToolWindow;
    }

    bool isChildProcessMatched(const HermesChildProcess& child) const {
        const std::set<std::string> key{child.sessionKey};
        return std::any_of(candidates_.begin(), candidates_.end(), [&](const HermesSessionCandidate& candidate) {
            return !candidate.endedAt && hasLiveWorker(candidate, key);
        });
    }

    std::optional<SessionResourceUsage> usageOf(const HermesSessionCandidate& candidate,
                                                const HermesChildProcess* child) {
        return provider_.sessionResourceUsage(candidate, child, workersByKey_, candidatesByID_, processes_);
    }

    void show(const HermesSessionCandidate& candidate, const std::string& evidence, bool needsUser) {
        upsert(provider_.makeSession(candidate, evidence, needsUser, usageOf(candidate, nullptr)));
    }

    const HermesStatusProvider& provider_;
    const HermesProviderConfig& config_;
    const Date now_;
    const std::vector<HermesSessionCandidate>& candidates_;
    const std::set<std::string>& liveKeys_;
    const std::vector<HermesChildProcess>& children_;
    HermesProcessTable& processes_;

    HermesStatusProvider::CandidatesByID candidatesByID_;
    std::unordered_map<std::string, const HermesRuntimeSignal*> signalsByID_;
    HermesStatusProvider::WorkersByKey workersByKey_;
    std::unordered_map<std::string, std::vector<const HermesChildProcess*>> childrenByKey_;

    std::vector<AgentSession> sessions_;
    std::unordered_map<std::string, std::size_t> index_;
    int64_t staleCount_ = 0;
};

} // namespace

ProviderSnapshot HermesStatusProvider::scan(Date now) {
    const std::string gatewayPath = gatewayStatePath();
    const std::string childPath = processesPath();
    const std::string logPath = agentLogPath();
    const std::string dbPath = databasePath();

    std::vector<AgentSession> official = officialSessions(now, dbPath);
    if (!fileExists(gatewayPath) && !fileExists(childPath) && !fileExists(dbPath)) {
        std::vector<AgentSession> sessions;
        std::unordered_map<std::string, std::size_t> index;
        for (auto& session : official) upsertSession(std::move(session), index, sessions);
        return ProviderSnapshot::make(name(), std::nullopt, std::nullopt, std::move(sessions), 0, now, {});
    }

    // Both files change rarely: their parsed contents are kept while they are
    // unchanged; whether their processes still run is asked on every scan.
    const auto gateway = gatewayStateCache_.value(gatewayPath, [&] { return loadGatewayState(gatewayPath); });
    const auto children =
        liveChildProcesses(childProcessCache_.value(childPath, [&] { return loadChildProcessEntries(childPath); }));
    const auto signals = runtimeSignals(logPath);
    const ProcessSampleList samples = processSnapshotReader_();
    std::vector<std::string> commandLines;
    if (processCommandReader_) commandLines = processCommandReader_();

    std::vector<HermesLiveWorker> liveWorkers = hermesLiveWorkersFromSamples(samples);
    for (auto& worker : hermesLiveWorkersFromCommands(commandLines)) liveWorkers.push_back(std::move(worker));
    std::set<std::string> liveKeys;
    for (const auto& worker : liveWorkers) liveKeys.insert(worker.sessionKey);
    std::string cacheKey;
    for (const auto& key : liveKeys) {
        if (!cacheKey.empty()) cacheKey += ',';
        cacheKey += key;
    }

    std::vector<HermesSessionCandidate> candidates;
    try {
        candidates = sessionCandidateCache_.read(dbPath, cacheKey, [&] { return sessionCandidateQuery(dbPath, liveKeys); });
    } catch (const std::exception& error) {
        return ProviderSnapshot::make(name(), std::nullopt, std::nullopt, {}, 0, now, {error.what()});
    }

    std::lock_guard processTableGuard(processTableLock_);
    ScanState state(*this, now, candidates, signals, liveWorkers, liveKeys, children,
                    indexedProcesses(std::move(samples)));
    for (auto& session : official) state.upsert(std::move(session));
    const int64_t gatewayCount = hermesGatewayRunningCount(gateway);
    if (gatewayCount >= 1) state.applyGatewayRule(gatewayCount, gateway);
    for (const auto& candidate : candidates) state.decide(candidate);
    state.addUnmatchedChildren();

    std::vector<AgentSession>& sessions = state.sessions();
    sortByLastActivityDescending(sessions);
    return ProviderSnapshot::make(name(), std::nullopt, std::nullopt, std::move(sessions), state.staleCount(), now, {});
}

HermesProcessTable& HermesStatusProvider::indexedProcesses(std::vector<ProcessResourceSample> samples) {
    if (!indexedProcesses_ || indexedProcesses_->samples != samples)
        indexedProcesses_ = std::make_unique<IndexedProcesses>(std::move(samples), config_.hermesHome);
    return indexedProcesses_->table;
}

} // namespace brindleaf
