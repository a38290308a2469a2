#pragma once

#include "core/AgentSession.hpp"
#include "core/AgentStatusProvider.hpp"
#include "core/DatabaseQueryCache.hpp"
#include "core/FileSnapshotCache.hpp"
#include "core/ProcessResourceSample.hpp"
#include "core/ProcessSampleList.hpp"
#include "core/ProcessTree.hpp"
#include "core/ProviderSnapshot.hpp"
#include "core/RunEvidence.hpp"
#include "core/SQLiteReader.hpp"
#include "core/SessionResourceUsage.hpp"
#include "core/WatchedFileStat.hpp"
#include "providers/codex/CodexCandidate.hpp"
#include "providers/codex/CodexFrontEndProcesses.hpp"
#include "providers/codex/CodexManagedProcess.hpp"
#include "providers/codex/CodexOfficialStatusProbe.hpp"
#include "providers/codex/CodexProviderConfig.hpp"
#include "providers/codex/RolloutTailAnalyzer.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brindleaf {

// The agent provider for Codex: threads from the app-server status endpoint,
// the state and log databases, rollout tails, the session index and the
// managed chat processes, decided one by one into sessions. Only reads.
class CodexStatusProvider final : public AgentStatusProvider {
public:
    static constexpr std::string_view providerName = "Codex";

    // One thread with recent runtime-log activity.
    struct RuntimeThread {
        std::string threadID;
        double lastRuntimeSeconds = 0;
        bool operator==(const RuntimeThread&) const = default;
    };

    struct SpawnEdgeResult {
        int64_t closedLowerBound = 0;
        std::vector<CodexCandidate> candidates;
    };

    struct RuntimeLogResult {
        int64_t lowerBound = 0;
        std::vector<RuntimeThread> threads;
    };

    // The verdict on one candidate.
    struct CandidateDecision {
        enum class Kind { active, inactive, stale };
        Kind kind = Kind::inactive;
        std::optional<AgentSession> session;   // active only
        std::optional<RunEvidence> completion; // inactive only, when the run is known to have ended

        static CandidateDecision active(AgentSession session) { return {Kind::active, std::move(session), {}}; }
        static CandidateDecision inactive(std::optional<RunEvidence> evidence = std::nullopt) {
            return {Kind::inactive, {}, std::move(evidence)};
        }
        static CandidateDecision stale() { return {Kind::stale, {}, {}}; }
    };

    using ManagedProcessesByConversation = std::unordered_map<std::string, std::vector<CodexManagedProcess>>;
    using SessionIndex = std::unordered_map<std::string, std::string>;
    using RuntimeProfiles = std::unordered_map<std::string, SessionRuntimeProfile>;

    // One scan's process table and managed processes, indexed once for all the
    // decisions of the scan. Refers to both; lives no longer than they do.
    class ProcessView {
    public:
        ProcessView(const std::vector<ProcessResourceSample>& samples, const ManagedProcessesByConversation& managed);
        const std::vector<ProcessResourceSample>& samples() const { return samples_; }
        const ManagedProcessesByConversation& managed() const { return managed_; }
        bool isLive(int64_t pid) const { return live_.count(pid) > 0; }
        const ProcessTree& tree() const { return tree_; }
        // The samples whose command line belongs to the Codex app.
        const std::vector<const ProcessResourceSample*>& appProcesses() const { return appProcesses_; }
        // The summed usage of all Codex app processes.
        const std::optional<SessionResourceUsage>& appUsage() const { return appUsage_; }
        // Whether a Codex that can show a prompt runs (codex::isCodexFrontEndProcess).
        bool codexFrontEndRunning() const { return codexFrontEndRunning_; }
        // The Codex processes in terminals and the threads they run; read on
        // the first call (their start times), then kept for this view.
        const CodexFrontEndProcesses& frontEnds() const {
            std::call_once(frontEndsOnce_, [this] { frontEnds_ = CodexFrontEndProcesses::fromSamples(samples_); });
            return frontEnds_;
        }
        // A candidate's usage, computed by `compute` once per candidate id and
        // rollout path for as long as this view lives (its inputs are fixed).
        template <typename Compute>
        std::optional<SessionResourceUsage> usageOnce(const CodexCandidate& candidate, Compute&& compute) const {
            const std::string length = std::to_string(candidate.id.size());
            std::string key;
            key.reserve(length.size() + 1 + candidate.id.size() +
                        (candidate.rolloutPath ? candidate.rolloutPath->size() : 0));
            key += length;
            key += ':';
            key += candidate.id;
            if (candidate.rolloutPath) key += *candidate.rolloutPath;
            {
                std::lock_guard<std::mutex> guard(usageLock_);
                if (auto found = usage_.find(key); found != usage_.end()) return found->second;
            }
            std::optional<SessionResourceUsage> usage = compute();
            std::lock_guard<std::mutex> guard(usageLock_);
            if (usage_.size() >= usageMemoCapacity) usage_.clear();
            usage_.insert_or_assign(std::move(key), usage);
            return usage;
        }

    private:
        static constexpr std::size_t usageMemoCapacity = 4096;
        const std::vector<ProcessResourceSample>& samples_;
        const ManagedProcessesByConversation& managed_;
        std::unordered_set<int64_t> live_;
        ProcessTree tree_;
        std::vector<const ProcessResourceSample*> appProcesses_;
        std::optional<SessionResourceUsage> appUsage_;
        bool codexFrontEndRunning_ = false;
        mutable std::once_flag frontEndsOnce_;
        mutable CodexFrontEndProcesses frontEnds_;
        mutable std::mutex usageLock_;
        mutable std::unordered_map<std::string, std::optional<SessionResourceUsage>> usage_;
    };

    static constexpr std::ptrdiff_t sessionIndexCacheCapacity = 8;
    static constexpr std::ptrdiff_t managedProcessCacheCapacity = 8;
    // The largest session index and process list read (both are small files).
    static constexpr std::size_t sessionIndexByteLimit = 16u << 20;
    static constexpr std::size_t managedProcessByteLimit = 4u << 20;

    // An empty reader samples all processes afresh on every call; a null probe
    // means the app-server probe the environment names, else none.
    explicit CodexStatusProvider(CodexProviderConfig config, ProcessSnapshotReader reader = {},
                                 std::shared_ptr<CodexOfficialStatusProbe> probe = nullptr);

    std::string name() const override { return std::string(providerName); }
    // The scan; should anything in it still throw, a snapshot with that error.
    ProviderSnapshot snapshot(Date at) override;

    const CodexProviderConfig& config() const { return config_; }
    const std::shared_ptr<CodexOfficialStatusProbe>& officialStatusProbe() const { return officialStatusProbe_; }
    RolloutTailAnalyzer& rolloutAnalyzer() { return rolloutAnalyzer_; }

    // The whole scan; never throws.
    ProviderSnapshot scan(Date now);

    // --- App-server statuses ---
    // The probe's statuses with a non-empty id; any error gives none.
    std::vector<CodexOfficialThreadStatus> fetchOfficialStatuses(Date now);
    static std::optional<CodexCandidate> officialCandidate(const CodexOfficialThreadStatus& status, Date now);
    static std::vector<CodexCandidate> officialCandidates(const std::vector<CodexOfficialThreadStatus>& statuses,
                                                          Date now);

    // --- Database location ---
    std::vector<std::string> stateDatabaseCandidates(const std::string& fileName) const;

    // What the state database's schema offers: asked when a query first needs
    // it and remembered for the rest of one scan. A failed question is asked
    // again by the next query, which then reports the failure itself.
    class StateSchema {
    public:
        explicit StateSchema(const SQLiteReader& reader) : reader_(reader) {}
        const SQLiteReader& reader() const { return reader_; }
        bool hasThreadsTable();
        const std::set<std::string>& threadColumns();
        // The spawn-edge table with its parent, child and status columns.
        bool hasSpawnEdgeTable();

    private:
        const SQLiteReader& reader_;
        std::optional<bool> threadsTable_;
        std::optional<std::set<std::string>> threadColumns_;
        std::optional<bool> spawnEdgeTable_;
    };

    // --- Database queries (each may throw SQLiteReaderError) ---
    std::vector<RuntimeThread> recentRuntimeThreads(const std::string& logPath, int64_t lowerBound) const;
    std::vector<CodexCandidate> querySpawnEdges(StateSchema& state, int64_t closedLowerBound) const;
    std::vector<CodexCandidate> queryRecentThreads(StateSchema& state) const;
    // Whether a spawn-edge candidate counts at this lower bound of closed edges:
    // an open edge always, a closed one only when updated at or after the bound.
    static bool keepsSpawnEdge(const CodexCandidate& candidate, int64_t closedLowerBound);

    // The statements, as sent. `threadColumns` are the columns of `threads`.
    static std::string tableExistsStatement(std::string_view table);
    static std::string recentThreadsStatement(const std::set<std::string>& threadColumns, bool parentJoin,
                                              int64_t limit);
    static std::string spawnEdgesStatement(const std::set<std::string>& threadColumns, int64_t closedLowerBound);
    static std::string runtimeThreadsStatement(const std::set<std::string>& threadColumns, bool parentJoin,
                                               const std::vector<std::string>& threadIDs);
    static std::string runtimeLogStatement(bool hasTimestampIndex, int64_t lowerBound, int64_t rowLimit);

    // Row decoding and titles.
    static std::optional<CodexCandidate> candidateFromRow(const SQLiteReader::Row& row);
    static std::optional<std::string> subagentTitle(std::optional<std::string_view> text,
                                                    std::optional<std::string_view> nickname,
                                                    std::optional<std::string_view> role,
                                                    std::optional<std::string_view> threadSource);
    static std::optional<std::string> identifierTitle(std::string_view text);

    // --- Session index and managed processes ---
    static SessionIndex parseSessionIndex(const std::string& path);
    static std::vector<CodexManagedProcess> loadManagedProcesses(const std::string& path);
    static ManagedProcessesByConversation groupManagedProcesses(const std::vector<CodexManagedProcess>& processes);
    // Through the provider's caches, as a scan reads them (taking in file
    // changes first); empty when the file does not exist.
    std::shared_ptr<const SessionIndex> sessionIndex();
    std::vector<CodexManagedProcess> managedProcesses();

    static std::set<int64_t> sessionRootPIDs(const CodexCandidate& candidate,
                                             const std::vector<ProcessResourceSample>& samples,
                                             const ManagedProcessesByConversation& managed);
    static std::optional<SessionResourceUsage> codexAppResourceUsage(const std::vector<ProcessResourceSample>& samples);
    static std::optional<SessionResourceUsage> sessionResourceUsage(const CodexCandidate& candidate,
                                                                    const std::vector<ProcessResourceSample>& samples,
                                                                    const ManagedProcessesByConversation& managed);
    static std::set<int64_t> sessionRootPIDs(const CodexCandidate& candidate, const ProcessView& processes);
    static std::optional<SessionResourceUsage> sessionResourceUsage(const CodexCandidate& candidate,
                                                                    const ProcessView& processes);

    // --- Decision ---
    // The scan's decision on one candidate, after taking in file changes as a
    // scan does at its start.
    CandidateDecision decide(const CodexCandidate& candidate, Date now,
                             const std::vector<ProcessResourceSample>& samples,
                             const ManagedProcessesByConversation& managed);
    CandidateDecision decide(const CodexCandidate& candidate, Date now, const ProcessView& processes);

    // --- Merging, titles, parents, order and run evidence ---
    // One thread after merging: the one candidate a source gave, or the merge of
    // several owned here; with the session index's name for it, if any.
    struct MergedCandidate {
        const CodexCandidate* single = nullptr;
        std::optional<CodexCandidate> owned;
        std::optional<std::string> indexTitle;

        const CodexCandidate& get() const { return owned ? *owned : *single; }
    };
    // One entry per id in first-seen order, later candidates folded into the
    // first; the candidates stay where their sources keep them.
    static std::vector<MergedCandidate> mergeCandidates(const std::vector<const CodexCandidate*>& candidates);
    // The title a session-index name gives a thread: its cleaned first line
    // when presentable, else none (the thread keeps its own title).
    static std::optional<std::string> sessionIndexTitle(std::string_view name);
    // The runtime profiles of the given thread ids: a thread's own profile
    // first, else the first profile a child gives for it as its parent.
    static RuntimeProfiles runtimeProfilesByThread(const std::vector<MergedCandidate>& candidates,
                                                   const std::unordered_set<std::string_view>& threadIDs);
    std::vector<AgentSession> applyParentChildState(const std::vector<AgentSession>& sessions,
                                                    const RuntimeProfiles& profiles, Date now) const;
    RunEvidence sessionRunEvidence(const AgentSession& session, Date now) const;
    std::vector<RunEvidence> runEvidence(const std::vector<AgentSession>& sessions,
                                         const std::vector<std::string>& healthTexts, Date now) const;

private:
    using ManagedProcessList = std::shared_ptr<const std::vector<CodexManagedProcess>>;
    using RecentThreadList = std::shared_ptr<const std::vector<CodexCandidate>>;
    // The presentable session-index names asked for so far, per index object.
    using IndexNames = std::unordered_map<std::string, std::optional<std::string>>;

    // A database file and its write-ahead log, as one stat of each found them.
    struct DatabaseFiles {
        std::string path;
        std::optional<FileStat::Info> database;
        std::optional<FileStat::Info> wal;
    };
    // Through the scan's watched stats.
    DatabaseFiles watchedDatabaseFiles(const std::string& path);
    // The newest existing file of the paths (the first of equally new ones).
    std::optional<std::string> newestExistingFile(const std::vector<std::string>& paths);

    std::vector<CodexCandidate> runtimeLogCandidates(StateSchema& state, const DatabaseFiles& stateFiles,
                                                     const DatabaseFiles& logFiles, Date now);
    int64_t closedEdgeLowerBound(Date now) const;
    std::shared_ptr<const SpawnEdgeResult> spawnEdgeResult(const DatabaseFiles& stateFiles, StateSchema& state,
                                                           int64_t bound);
    RecentThreadList recentThreadList(const DatabaseFiles& stateFiles, StateSchema& state);

    // The files' states come from the scan's watched stats. `title`, when
    // given, replaces the candidate's title (a session-index name).
    // `live`, when given, is the Codex daemon's active or idle status of the
    // thread, in place of the candidate's own.
    CandidateDecision decideCandidate(const CodexCandidate& candidate, Date now, const ProcessView& processes,
                                      const std::string* title = nullptr,
                                      const CodexOfficialThreadStatus* live = nullptr);
    using StatusList = std::shared_ptr<const std::vector<CodexOfficialThreadStatus>>;
    // Where a status list's daemon statuses (active or idle) stand, by thread
    // id; the other statuses become candidates of their own.
    struct LiveIndex {
        std::unordered_map<std::string_view, std::size_t> live;
        std::vector<std::size_t> others;
    };
    // The probe's statuses with a non-empty id, as one shared list.
    StatusList officialStatusList(Date now);
    // Built once per status list (the daemon's list is the same object while unchanged).
    std::shared_ptr<const LiveIndex> liveIndex(const StatusList& statuses);
    // The presentable, cleaned name the index gives a thread, remembered per index object.
    std::optional<std::string> indexName(const std::shared_ptr<const SessionIndex>& index, const std::string& id);
    // A process table with the managed processes of its scan and their view:
    // kept while the table and the process list are unchanged, so that the
    // scans between two samplings index the table only once.
    struct ProcessIndex {
        ProcessSampleList samples;
        ManagedProcessList managedList;
        ManagedProcessesByConversation managed;
        std::optional<ProcessView> view; // refers to the two members above
    };

    std::shared_ptr<const ProcessIndex> processIndex(ProcessSampleList samples);
    std::shared_ptr<const SessionIndex> sessionIndex(std::optional<FileStat::Info> info);
    // Through the provider's cache: the same list object while the file is unchanged.
    ManagedProcessList managedProcessList(std::optional<FileStat::Info> info);
    std::string sessionIndexPath() const { return config_.codexHome + "/session_index.jsonl"; }
    std::string managedProcessPath() const { return config_.codexHome + "/process_manager/chat_processes.json"; }
    static std::optional<SessionResourceUsage> computeSessionResourceUsage(const CodexCandidate& candidate,
                                                                           const ProcessView& processes);

    CodexProviderConfig config_;
    RolloutTailAnalyzer rolloutAnalyzer_;
    // Shared results, so that a scan copies only the candidates it keeps.
    DatabaseQueryCache<std::shared_ptr<const std::vector<CodexCandidate>>> recentThreadCache_;
    DatabaseQueryCache<std::shared_ptr<const SpawnEdgeResult>> spawnEdgeCache_;
    DatabaseQueryCache<std::shared_ptr<const RuntimeLogResult>> runtimeLogCache_;
    // The state-database rows of the runtime-log threads, keyed by their ids:
    // while both databases are unchanged a scan sends no statement at all.
    DatabaseQueryCache<std::vector<CodexCandidate>> runtimeThreadRowCache_;
    FileSnapshotCache<std::shared_ptr<const SessionIndex>> sessionIndexCache_;
    FileSnapshotCache<ManagedProcessList> managedProcessCache_;
    std::mutex processIndexLock_;
    std::shared_ptr<const ProcessIndex> processIndex_;
    ProcessSnapshotReader processSnapshotReader_;
    std::shared_ptr<CodexOfficialStatusProbe> officialStatusProbe_;
    std::mutex liveIndexLock_;
    StatusList liveIndexSource_;
    std::shared_ptr<const LiveIndex> liveIndex_;
    // The stats of a scan: refreshed at its start, asked instead of the file system.
    WatchedFileStat fileStat_;
    std::mutex indexNamesLock_;
    std::shared_ptr<const SessionIndex> indexNamesSource_;
    IndexNames indexNames_;
};

namespace codex {

// Whether a command line belongs to a process of the Codex app.
bool isCodexAppProcess(std::string_view command);
// Whether a command line is a Codex that can show the user a prompt: the
// codex program (or node running its launcher), but not its app-server
// daemon nor the daemon's updater.
bool isCodexFrontEndProcess(std::string_view command);

// The evidence of a thread the Codex daemon reports waiting for the user.
inline constexpr std::string_view waitsForApproval = "Codex waits for your approval";
inline constexpr std::string_view waitsForAnswer = "Codex waits for your answer";

// Presentable thread-store text: non-empty, at most 160 user-perceived
// characters, not a system prompt or an agent-history dump.
bool isPresentableTitle(std::string_view text);

} // namespace codex

} // namespace brindleaf
