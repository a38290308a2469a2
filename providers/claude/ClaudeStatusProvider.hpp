#pragma once

#include "core/AgentStatusProvider.hpp"
#include "core/Date.hpp"
#include "core/FileSnapshotCache.hpp"
#include "core/ProcessResourceSample.hpp"
#include "core/ProcessSampleList.hpp"
#include "core/ProviderSnapshot.hpp"
#include "core/WatchedFileStat.hpp"
#include "providers/claude/ClaudeEngineKey.hpp"
#include "providers/claude/ClaudeEngineLivenessIndex.hpp"
#include "providers/claude/ClaudeProviderConfig.hpp"
#include "providers/claude/ClaudeSessionRegistryEntry.hpp"
#include "providers/claude/ClaudeTranscriptAnalyzer.hpp"
#include "providers/claude/ClaudeTranscriptFile.hpp"
#include "providers/claude/ClaudeTranscriptState.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brindleaf {

// The Claude Code provider: finds sessions from the transcripts under the
// Claude home, ties them to running engine processes and decides whether each
// is working, waiting for the user, sleeping until a wakeup, running
// background work, stale or done. Lives as long as the process; every cache
// it keeps is in memory only.
class ClaudeStatusProvider final : public AgentStatusProvider {
public:
    static constexpr std::string_view providerName = "Claude Code";

    using EngineKey = ClaudeEngineKey;
    using EngineLivenessIndex = ClaudeEngineLivenessIndex;
    // session id -> task id -> launch date
    using BackgroundLaunches = std::map<std::string, std::map<std::string, Date>>;

    struct AnalyzedTranscript {
        ClaudeTranscriptFile transcript;
        ClaudeTranscriptState state;
        Date lastActivity = 0;
        EngineKey engineKey;
    };

    struct DesktopTitleEntry {
        std::string cliSessionID;
        std::string title; // never empty
        bool operator==(const DesktopTitleEntry&) const = default;
    };

    // An empty reader samples every process afresh on each scan.
    explicit ClaudeStatusProvider(ClaudeProviderConfig config, ProcessSnapshotReader reader = {});

    std::string name() const override { return std::string(providerName); }
    ProviderSnapshot snapshot(Date at) override { return scan(at); }

    const ClaudeProviderConfig& config() const { return config_; }
    ClaudeTranscriptAnalyzer& analyzer() { return analyzer_; }

    ProviderSnapshot scan(Date now);

    // The evidence sentence of a shown session.
    static std::string activityDetail(const ClaudeTranscriptState& state, bool wakeup, bool background);
    // The evidence sentence of a session whose engine says it waits for the
    // user, by what it waits for.
    static std::string waitingDetail(const std::optional<std::string>& waitingFor);

    // Listing and analysis.
    std::vector<ClaudeTranscriptFile> listTranscripts(const std::string& projectsPath);
    static std::vector<ClaudeTranscriptFile> findTranscriptFiles(const std::string& root);
    AnalyzedTranscript analyzeTranscript(const ClaudeTranscriptFile& transcript);
    static std::optional<std::string> projectDirectoryName(const std::string& transcriptPath);
    static std::set<std::string> engineClaimedTranscripts(const std::vector<AnalyzedTranscript>& transcripts,
                                                          const EngineLivenessIndex& index);

    // The listing of one folder met by the walk: its subfolders and
    // transcript files in listing order, with the folder's state when listed.
    struct FolderListing {
        struct Entry {
            std::string name;
            bool isFolder = false;
        };
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t modifiedSeconds = 0;
        int64_t modifiedNanoseconds = 0;
        int64_t changedSeconds = 0;
        int64_t changedNanoseconds = 0;
        std::vector<Entry> entries;
    };
    using FolderListings = std::unordered_map<std::string, FolderListing>;
    // The walk of findTranscriptFiles; with `previous` and `next`, folders
    // unchanged since they were stored in `previous` are not read again, and
    // every folder listing that may be reused is stored in `next`.
    std::vector<ClaudeTranscriptFile> walkWithFolderListings(const std::string& root);
    static std::vector<ClaudeTranscriptFile> walkTranscriptFiles(const std::string& root, FolderListings* previous,
                                                                 FolderListings* next);

    // The engines' session registry: process id -> session id, without the
    // files whose pid another process has taken since.
    std::map<int64_t, std::string> readSessionPIDs(const std::string& folder);

    // Background tasks.
    void coldStartDeepScan(const std::vector<AnalyzedTranscript>& transcripts, Date now);
    BackgroundLaunches runningBackgroundTasks(const std::vector<AnalyzedTranscript>& transcripts,
                                              const EngineLivenessIndex& index, Date now);
    std::optional<Date> latestTaskActivity(const std::string& transcriptPath, const std::string& sessionID,
                                           const std::string& taskID);

    // Desktop app titles and sub-agent meta files.
    std::map<std::string, std::string> desktopTitles();
    static std::optional<DesktopTitleEntry> parseDesktopTitle(const std::optional<std::string>& contents);
    static std::optional<std::string> parseSubagentToolUseID(const std::optional<std::string>& contents);

    // The session id of a transcript: its recorded one, else its file name without extension.
    static std::string sessionIDOf(const AnalyzedTranscript& transcript);
    // Whether the transcript lies in a "subagents" folder below the projects folder.
    bool isSubagentTranscript(const std::string& transcriptPath) const;
    // Ids that may be used as a path component.
    static bool isSafePathComponent(std::string_view id);

private:
    using Registry = std::map<int64_t, std::string>;
    using TranscriptList = std::vector<ClaudeTranscriptFile>;
    using Titles = std::map<std::string, std::string>;

    // One listed transcript with what is derived from it, unchanged while the
    // file's path, size and modification time are.
    struct ScanItem {
        AnalyzedTranscript analyzed;
        std::string sessionID;
        bool isSubagent = false;
        std::string metaPath; // sub-agent transcripts only
    };
    using ScanItems = std::vector<std::shared_ptr<const ScanItem>>;

    struct CachedEngineIndex {
        ProcessSampleList samples;
        std::shared_ptr<const Registry> registry;
        std::shared_ptr<const EngineLivenessIndex> index;
    };
    struct CachedDesktopTitles {
        double builtAt = 0; // monotonic seconds
        std::shared_ptr<const Titles> titles;
    };
    // The projects folder's modification time, its entries and the
    // modification time of each (absent when it cannot be examined).
    struct ProjectFoldersState {
        std::optional<Date> projectsModifiedAt;
        std::shared_ptr<const std::vector<WatchedFileStat::Entry>> entries;
        std::vector<std::optional<Date>> modifiedAt; // per entry not starting with "."
        bool operator==(const ProjectFoldersState& other) const;
    };
    struct CachedTranscriptList {
        std::string projectsPath;
        double scannedAt = 0; // monotonic seconds
        ProjectFoldersState folders;
        std::shared_ptr<const TranscriptList> files;
    };
    static constexpr double folderListingSettleTime = 2; // seconds
    // The registry files that parse, in listing order.
    using RegistryEntries = std::vector<ClaudeSessionRegistryEntry>;
    // The registry read last: its folder's entries, the state of each ".json"
    // entry in listing order and the result.
    struct CachedRegistry {
        std::string folder;
        std::shared_ptr<const std::vector<WatchedFileStat::Entry>> entries;
        std::vector<std::optional<FileStat::Info>> files;
        std::shared_ptr<const RegistryEntries> registry;
    };
    // The registry as it holds now, against the running processes.
    struct CheckedRegistry {
        std::shared_ptr<const Registry> pids; // pid -> session id, files of reused pids left out
        // Session id -> the file of its running engine that says what it does
        // (the latest changed when there are several).
        std::map<std::string, ClaudeSessionRegistryEntry> live;
    };

    // True, false, or absent when there is no telling now: the launch or the
    // task's last output is dated ahead of the clock (it was set back since).
    std::optional<bool> isBackgroundTaskStillRunning(const std::string& taskID, Date launchedAt, Date now,
                                                     const std::set<std::string>& localTaskIDs,
                                                     const EngineLivenessIndex& index,
                                                     const AnalyzedTranscript& transcript, const std::string& sessionID,
                                                     std::optional<std::vector<std::string>>& tempRootEntries);

    // The steps of a scan; `watched_` has been refreshed by the caller.
    // The scan from the listing on, once the projects folder is known to be readable.
    ProviderSnapshot scanProjects(const std::string& projectsPath, Date now);
    ProviderSnapshot scanWithoutProjects(Date now);
    void appendRegistryRows(const CheckedRegistry& registry, const std::set<std::string>& sessionsWithMainTranscript,
                            const EngineLivenessIndex& index, std::vector<AgentSession>& rows);
    ProjectFoldersState projectFoldersState(const std::string& projectsPath);
    std::shared_ptr<const TranscriptList> listedTranscripts(const std::string& projectsPath);
    std::shared_ptr<const RegistryEntries> registryEntries(const std::string& folder);
    std::optional<ClaudeSessionRegistryEntry> readRegistryFile(const std::string& path);
    CheckedRegistry checkedRegistry(const RegistryEntries& entries);
    std::shared_ptr<const EngineLivenessIndex> engineIndexFor(const ProcessSampleList& samples,
                                                              const std::shared_ptr<const Registry>& registry);
    std::shared_ptr<const ScanItems> analyzedItems(const std::shared_ptr<const TranscriptList>& files);
    std::shared_ptr<const ScanItem> makeScanItem(const ClaudeTranscriptFile& file);
    void coldStartDeepScanOf(const ScanItems& items, Date now);
    BackgroundLaunches runningTasks(const ScanItems& items, const EngineLivenessIndex& index, Date now);
    static std::vector<char> claimedItems(const ScanItems& items, const EngineLivenessIndex& index);
    std::shared_ptr<const std::vector<size_t>> mainTranscripts(const std::shared_ptr<const ScanItems>& items);
    std::shared_ptr<const std::vector<char>> claims(const std::shared_ptr<const ScanItems>& items,
                                                    const std::shared_ptr<const EngineLivenessIndex>& index);
    std::shared_ptr<const Titles> sharedDesktopTitles();
    std::vector<std::string> tempFolders();
    std::optional<Date> latestActivity(const std::string& transcriptPath, const std::string& sessionID,
                                       const std::string& taskID, const std::vector<std::string>& tempFolders);
    ScanItems itemsOf(const std::vector<AnalyzedTranscript>& transcripts) const;

    const ClaudeProviderConfig config_;
    ClaudeTranscriptAnalyzer analyzer_;
    std::mutex transcriptListLock_;
    std::mutex desktopTitlesLock_;
    std::mutex engineIndexLock_;
    std::optional<CachedEngineIndex> cachedEngineIndex_;
    std::optional<CachedDesktopTitles> cachedDesktopTitles_;
    std::optional<CachedTranscriptList> cachedTranscriptList_;
    std::mutex folderListingsLock_;
    FolderListings folderListings_;
    FileSnapshotCache<std::optional<DesktopTitleEntry>> desktopTitleCache_{2048};
    FileSnapshotCache<std::optional<std::string>> subagentMetaCache_{512};
    FileSnapshotCache<std::optional<ClaudeSessionRegistryEntry>> registryCache_{256};
    std::mutex registryLock_;
    std::optional<CachedRegistry> cachedRegistry_;
    std::shared_ptr<const Registry> lastEnginePIDs_; // under registryLock_
    // Per registry file still listed, its last text that parsed.
    std::mutex lastGoodRegistryLock_;
    std::unordered_map<std::string, ClaudeSessionRegistryEntry> lastGoodRegistryEntries_;
    const ProcessSnapshotReader processSnapshotReader_;
    BackgroundLaunches carriedBackgroundLaunches_;
    std::map<std::string, std::set<std::string>> carriedLocalTaskIDs_;
    std::mutex carryoverLock_;
    bool didColdStartDeepScan_ = false;
    std::optional<Date> latestCarryoverScanAt_; // the latest scan time the carried launches were judged at
    const std::string projectsPrefix_;          // "<claude home>/projects/"
    WatchedFileStat watched_;
    std::shared_ptr<const TranscriptList> lastListed_; // under transcriptListLock_
    // The analysed items of the transcripts listed last, by path.
    std::mutex analysisLock_;
    std::shared_ptr<const TranscriptList> analyzedFiles_;
    std::shared_ptr<const ScanItems> analyzedItems_;
    std::unordered_map<std::string, std::shared_ptr<const ScanItem>> itemsByPath_;
    // The claims of the last scan, standing while its items and index do.
    struct CachedClaims {
        std::shared_ptr<const ScanItems> items;
        std::shared_ptr<const EngineLivenessIndex> index;
        std::shared_ptr<const std::vector<char>> claimed;
    };
    std::optional<CachedClaims> cachedClaims_; // under analysisLock_
    // Per item of the last scan, the main transcript of its session (an index, or npos).
    struct CachedMainTranscripts {
        std::shared_ptr<const ScanItems> items;
        std::shared_ptr<const std::vector<size_t>> mainOf;
    };
    std::optional<CachedMainTranscripts> cachedMainTranscripts_; // under analysisLock_
    // The "claude-" folders of the tasks temp root, standing while its listing does.
    std::mutex tempFoldersLock_;
    std::shared_ptr<const std::vector<WatchedFileStat::Entry>> tempRootEntries_;
    std::vector<std::string> tempFolderNames_;
};

} // namespace brindleaf
