#pragma once

#include "core/AgentSession.hpp"
#include "core/AgentStatusProvider.hpp"
#include "core/DatabaseQueryCache.hpp"
#include "core/Date.hpp"
#include "core/FileSnapshotCache.hpp"
#include "core/ProcessResourceSample.hpp"
#include "core/ProcessSampleList.hpp"
#include "core/ProviderSnapshot.hpp"
#include "core/SessionResourceUsage.hpp"
#include "core/WatchedFileStat.hpp"
#include "providers/hermes/HermesChildProcess.hpp"
#include "providers/hermes/HermesGatewayState.hpp"
#include "providers/hermes/HermesLiveWorker.hpp"
#include "providers/hermes/HermesOfficialStatusProbe.hpp"
#include "providers/hermes/HermesProcessTable.hpp"
#include "providers/hermes/HermesProviderConfig.hpp"
#include "providers/hermes/HermesRuntimeSignal.hpp"
#include "providers/hermes/HermesSessionCandidate.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brindleaf {

// Extra process-listing lines ("PID COMMAND...") searched for terminal workers.
using ProcessCommandReader = std::function<std::vector<std::string>()>;

// Tells whether Hermes sessions are running, waiting for the user or idle,
// from Hermes's session database, gateway state, child-process list, terminal
// worker processes and agent log. Reads only; never writes to the Hermes home.
class HermesStatusProvider final : public AgentStatusProvider {
public:
    static constexpr std::string_view providerName = "Hermes";
    static constexpr std::size_t logTailBytes = 524288;
    static constexpr std::size_t logLineLimit = 1000;

    // An empty reader samples the whole process table afresh on every scan.
    explicit HermesStatusProvider(HermesProviderConfig config, ProcessSnapshotReader reader = {});
    HermesStatusProvider(HermesProviderConfig config, ProcessSnapshotReader reader, ProcessCommandReader commandReader,
                         std::shared_ptr<HermesOfficialStatusProbe> officialProbe = nullptr,
                         double officialProbeFailureBackoff = 30);

    std::string name() const override { return std::string(providerName); }
    ProviderSnapshot snapshot(Date at) override { return scan(at); }

    // One full scan at `now`; never throws.
    ProviderSnapshot scan(Date now);

    const HermesProviderConfig& config() const { return config_; }

    // --- Data sources ---------------------------------------------------------

    // "gateway_state.json"; absent when missing, unreadable or not a JSON object.
    static std::optional<HermesGatewayState> loadGatewayState(const std::string& path);

    // The live entries of "processes.json", in file order.
    static std::vector<HermesChildProcess> loadChildProcesses(const std::string& path);
    // The entries of "processes.json" whether or not their processes run, in file order.
    static std::vector<HermesChildProcess> loadChildProcessEntries(const std::string& path);
    // The entries whose processes still run.
    static std::vector<HermesChildProcess> liveChildProcesses(std::vector<HermesChildProcess> entries);

    // The newest signal per session of the agent log, cached while the log is unchanged.
    std::vector<HermesRuntimeSignal> runtimeSignals(const std::string& path);

    // Classifies the last 1,000 lines of the log's last 524,288 bytes; one signal per session.
    static std::vector<HermesRuntimeSignal> loadRuntimeSignals(const std::string& path);
    static std::vector<HermesRuntimeSignal> runtimeSignalsFromLogTail(std::string_view tail);

    // What one log line says, if anything. Its time stamp is local time.
    static std::optional<HermesRuntimeSignal> classifyLogLine(std::string_view line);

    // The recent sessions of "state.db" plus those of live workers, in query
    // order; empty when the database is missing. Throws SQLiteReaderError.
    std::vector<HermesSessionCandidate> sessionCandidateQuery(const std::string& path,
                                                              const std::set<std::string>& liveKeys) const;

    // The session query's text.
    static std::string sessionCandidateQueryText(int64_t recentSessionLimit, bool hasModelColumn,
                                                 bool hasModelConfigColumn, const std::set<std::string>& liveKeys);

    // The first terminal command among a message's tool calls.
    static std::optional<std::string> terminalCommand(std::string_view lastTerminalToolCalls);

    // The sessions the official probe reports, unless a failed probe put it to rest.
    std::vector<AgentSession> officialSessions(Date now, const std::string& rolloutPath);
    bool isOfficialProbeSuppressed(Date now);

    // --- Session records -----------------------------------------------------

    // Appends `session`, or merges it into the session of the same id.
    static void upsertSession(AgentSession session, std::unordered_map<std::string, std::size_t>& indexByID,
                              std::vector<AgentSession>& sessions);
    static AgentSession mergeSessions(const AgentSession& existing, const AgentSession& incoming);
    // The same merge, made in `existing`.
    static void mergeInto(AgentSession& existing, AgentSession&& incoming);

    using WorkersByKey = std::unordered_map<std::string, std::vector<HermesLiveWorker>>;
    using CandidatesByID = std::unordered_map<std::string, const HermesSessionCandidate*>;

    std::string gatewayStatePath() const { return gatewayStatePath_; }
    std::string processesPath() const { return processesPath_; }
    std::string agentLogPath() const { return agentLogPath_; }
    std::string databasePath() const { return databasePath_; }

    // What a scan works from; each part is shared while its sources are unchanged.
    struct CandidateSet;
    struct SignalIndex;
    struct WorkerIndex;
    struct UsageMemo;

    // The session's record from its candidate set (titles already cut to length).
    AgentSession sessionRecord(const CandidateSet& set, const HermesSessionCandidate& candidate, std::string evidence,
                               bool needsUser, std::optional<SessionResourceUsage> usage) const;
    // The usage of a candidate's processes (the candidate is a row of `set`): the given child's,
    // its own workers', and those running the terminal command of it or an ancestor; else that
    // of all Hermes processes other than the terminal workers.
    std::optional<SessionResourceUsage> sessionResourceUsage(const CandidateSet& set,
                                                             const HermesSessionCandidate& candidate,
                                                             const HermesChildProcess* child,
                                                             const WorkersByKey& workersByKey,
                                                             HermesProcessTable& processes) const;

private:
    // The newest signal per session of the log in this state, cached while it is unchanged.
    std::shared_ptr<const SignalIndex> sharedRuntimeSignals(const std::string& path, const FileStat::Info& info);
    // The workers of this process list and these listing lines; the last answer while both are
    // unchanged. Call with processTableLock_ held.
    std::shared_ptr<const WorkerIndex> liveWorkers(const ProcessSampleList& samples,
                                                   std::vector<std::string> commandLines);

    HermesProviderConfig config_;
    const std::string gatewayStatePath_;
    const std::string processesPath_;
    const std::string agentLogPath_;
    const std::string databasePath_;
    const std::string walPath_;
    ProcessCommandReader processCommandReader_;
    ProcessSnapshotReader processSnapshotReader_;
    std::shared_ptr<HermesOfficialStatusProbe> officialStatusProbe_;
    double officialProbeFailureBackoff_;
    std::mutex officialProbeLock_;
    std::optional<Date> officialProbeSuppressedUntil_;
    // A scan's process list with its index. The process list is usually the
    // same cached sampling for several scans in a row; its index (command
    // searches, Hermes usage, process trees) is then reused as it stands.
    struct IndexedProcesses {
        IndexedProcesses(ProcessSampleList list, std::string hermesHome)
            : samples(std::move(list)), table(samples.all(), std::move(hermesHome)) {}
        IndexedProcesses(const IndexedProcesses&) = delete;
        IndexedProcesses& operator=(const IndexedProcesses&) = delete;
        const ProcessSampleList samples;
        HermesProcessTable table; // refers to `samples`
    };
    // The index of `samples`, the last one when the list is unchanged; call
    // with processTableLock_ held.
    HermesProcessTable& indexedProcesses(const ProcessSampleList& samples);

    // Every stat of a scan goes through here (state.db and its -wal, the log, the JSON files).
    WatchedFileStat fileStat_;
    std::mutex processTableLock_;
    std::unique_ptr<IndexedProcesses> indexedProcesses_;
    uint64_t processTableGeneration_ = 0; // counts the process lists indexed
    std::shared_ptr<UsageMemo> usageMemo_;
    ProcessSampleList workerSamples_;
    std::vector<std::string> workerCommandLines_;
    std::shared_ptr<const WorkerIndex> workerIndex_;
    FileSnapshotCache<std::shared_ptr<const SignalIndex>> runtimeSignalCache_{8};
    FileSnapshotCache<std::optional<HermesGatewayState>> gatewayStateCache_{2};
    FileSnapshotCache<std::shared_ptr<const std::vector<HermesChildProcess>>> childProcessCache_{2};
    DatabaseQueryCache<std::shared_ptr<const CandidateSet>> sessionCandidateCache_;
};

} // namespace brindleaf
