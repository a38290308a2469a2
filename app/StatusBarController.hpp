#pragma once

#include "app/CoalescedBackgroundRefreshController.hpp"
#include "app/CodexRuntimeWatchConfiguration.hpp"
#include "app/FolderAccessQueries.hpp"
#include "app/HotkeyRegistrar.hpp"
#include "app/StatusDashboardSink.hpp"
#include "app/StatusItemSurface.hpp"
#include "core/AgentStatusService.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/Date.hpp"
#include "platform/DelayedAction.hpp"
#include "platform/Logger.hpp"
#include "platform/MainQueue.hpp"
#include "services/FileChangeWatcher.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "sync/StatusCloudSyncController.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace brindleaf {

class WorkerPool;

// The tray application's central object: it runs the refresh cycle. Something
// asks for a refresh (the poll timer, a file event, a settings change, the
// user), the controller hands the status service's snapshot to the refresh
// coalescer, and when a snapshot comes back it stores it, prunes acknowledged
// errors, logs a state change, renders the icon and the dashboard, re-targets
// the session file watches and submits the snapshot to cloud sync. It also
// watches the agents' files and turns their changes into debounced refreshes.
//
// Confined to the main queue: make(), every public operation, the timers and
// the handlers run there. Only the status loads and the directory listings of
// a watch rebuild run on the background runner. Timers, callbacks and
// observers hold the controller weakly.
class StatusBarController : public std::enable_shared_from_this<StatusBarController> {
public:
    using Runner = std::function<void(std::function<void()>)>;

    // Poll timer: a tick every 1.5 s; a refresh when 1.2 s (sessions shown)
    // or 3.7 s (none) passed since the last request of any kind.
    static constexpr double pollInterval = 1.5;
    static constexpr double activePollSpacing = 1.2;
    static constexpr double idlePollSpacing = 3.7;
    static constexpr double refreshTimeout = 30.0;
    // Debounces of the file events.
    static constexpr double fileChangeDelay = 0.35;
    static constexpr double sessionActivityDelay = 0.2;
    // A thread status the Codex daemon reported: the first change of a burst
    // refreshes this soon after it, the rest of the burst joins it.
    static constexpr double liveStatusDelay = 0.1;
    static constexpr double watcherRebuildDelay = 1.0;
    static constexpr double minimumRuntimeLogDelay = 0.35;
    static constexpr double minimumRuntimeLogRefreshInterval = 0.75;

    // The status-line mode (`--watch`) runs the same cycle without the tray's
    // extras: folderAccess, cloudSync, dashboard and the two hot keys may be
    // null there (no folder grant consulted, nothing synced, no dashboard, no
    // hot key).
    struct Dependencies {
        std::shared_ptr<MainQueue> mainQueue;
        std::shared_ptr<AgentStatusService> service;
        CodexRuntimeWatchConfiguration codexWatchConfiguration{{}, ""};
        std::string home; // the user's real home folder
        std::shared_ptr<ProviderSettingsStore> settings;
        std::shared_ptr<FolderAccessQueries> folderAccess;
        std::shared_ptr<StatusCloudSyncController> cloudSync;
        std::shared_ptr<StatusItemSurface> statusItem;
        std::shared_ptr<StatusDashboardSink> dashboard;
        std::shared_ptr<HotkeyRegistrar> popoverHotkey;                // id 1
        std::shared_ptr<HotkeyRegistrar> windowHotkey;                 // id 2
        std::shared_ptr<FileChangeWatcher> fileWatcher;                // agent folders and state files
        std::shared_ptr<FileChangeWatcher> runtimeLogFileWatcher;      // the Codex log database
        std::shared_ptr<FileChangeWatcher> sessionActivityFileWatcher; // the shown sessions' files
        // Runs the status loads and the listings off the main queue. Empty: a
        // pool of at least two threads owned by the controller.
        Runner background;
        // The wall clock handed to the service and used for transcript ages.
        // Empty: currentDate(). Spacing and delays use the main queue's
        // monotonic clock instead.
        std::function<Date()> wallClock;
        // Hears each committed snapshot (the real one, never sample data)
        // once the surfaces have it; the first is the one of the start.
        std::function<void(const AgentStatusSnapshot&)> committed;
    };

    // Builds the controller and starts it: cloud sync switched as the settings
    // say, icons loaded, settings observed, polling, file watches, hot keys,
    // then a first refresh ("unspecified").
    static std::shared_ptr<StatusBarController> make(Dependencies dependencies);
    ~StatusBarController();
    StatusBarController(const StatusBarController&) = delete;
    StatusBarController& operator=(const StatusBarController&) = delete;

    // The single entry for every refresh. Reasons: "unspecified", "poll",
    // "settings", "folder-access", "manual", "menu", "welcome-finished",
    // "file-change:<path>", "runtime-log:<path>", "session-activity:<path>",
    // "codex-daemon".
    void requestRefresh(const std::string& reason, bool manual = false);
    // The dashboard's refresh button: reason "manual", with the spinner.
    void requestManualRefresh();
    // The stale baselines were cleared: render again and resubmit to cloud sync.
    void clearSignalHealth();
    // The welcome window finished: rebuild the watches, then refresh.
    void welcomeFinished();
    // The provider's stale count less the baseline the user cleared, never below 0.
    std::int64_t unclearedStaleCount(const ProviderSnapshot& providerSnapshot) const;

    // Recomputes the agent-folder and runtime-log watch lists (listing off the
    // main queue) and re-arms both watchers.
    void rebuildFileWatchers();
    // Re-targets the session-activity watcher at the snapshot's rollout paths.
    void updateSessionActivityWatchers(const AgentStatusSnapshot& snapshot);
    // Renders the icon and publishes the snapshot to the dashboard.
    void render();

    // Whether the refresh that committed the snapshot read no agent at all:
    // it asked at least one, and every one it asked failed as a whole (its
    // scan timed out, was still busy or read nothing; no session shown, an
    // error given). An agent that read its sessions, or that none run, with
    // an error on one source counts as read. The apply step then keeps the
    // snapshot and its agents as "unknown", each with its error as evidence,
    // rather than "complete".
    static bool noAgentCouldBeRead(const AgentStatusSnapshot& snapshot);

    // The evidence a "state.changed" line gives for the snapshot: its own
    // status evidence; else that of the first provider in the snapshot's
    // state, when it has one; else the first active session's; else empty.
    static std::string stateChangeEvidence(const AgentStatusSnapshot& snapshot);

    // The display names of the catalog providers that are enabled and readable.
    std::set<std::string> enabledProviderNames() const;
    const AgentStatusSnapshot& snapshot() const { return snapshot_; }
    const std::vector<std::string>& watchedSessionActivityPaths() const { return watchedSessionActivityPaths_; }

private:
    explicit StatusBarController(Dependencies dependencies);

    void start();
    void observeSettings();
    void settingChanged(ProviderSettingsStore::Property property);
    void schedulePollTick();
    void pollTick();
    void apply(const AgentStatusSnapshot& snapshot);
    void timedOut(const std::string& reason);
    void finishManualRefresh();
    StaleSessionSource staleCounter() const;
    void submitToCloudSync();

    void fileChanged(const std::string& path);
    void runtimeLogChanged(const std::string& path);
    void sessionActivityChanged(const std::string& path);
    // Hears the Codex provider's official statuses change on their own (the
    // daemon's notifications) and stops hearing them.
    void followLiveStatus(bool follow);
    void liveStatusChanged();
    void scheduleWatcherRebuild();
    void scheduleDebouncedRefresh(const std::string& reason);
    // Wraps a handler so the watcher's thread hands each path to the main queue.
    FileChangeWatcher::Callback onMainQueue(void (StatusBarController::*handler)(const std::string&));

    Logger logger_{"Status"};
    Dependencies deps_;
    std::unique_ptr<WorkerPool> pool_;
    Runner background_;
    std::shared_ptr<CoalescedBackgroundRefreshController<AgentStatusSnapshot>> refreshController_;
    AgentStatusSnapshot snapshot_;
    std::optional<ProviderSettingsStore::ObserverID> settingsObserver_;

    DelayedAction pollTimer_;
    std::optional<double> lastRefreshRequestedAt_; // monotonic
    std::optional<std::int64_t> pendingManualRefreshGeneration_;

    DelayedAction debounceWorkItem_;
    DelayedAction runtimeLogRefreshWorkItem_;
    DelayedAction sessionActivityRefreshWorkItem_;
    DelayedAction liveStatusRefreshWorkItem_;
    DelayedAction watcherRebuildWorkItem_;
    std::optional<double> lastRuntimeLogRefreshAt_; // monotonic
    std::vector<std::string> watchedSessionActivityPaths_;
    std::uint64_t rebuildGeneration_ = 0;
};

} // namespace brindleaf
