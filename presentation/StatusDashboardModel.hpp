#pragma once

#include "core/AgentStatusSnapshot.hpp"
#include "core/ProviderDescriptor.hpp"
#include "platform/MainQueue.hpp"
#include "platform/SessionJumper.hpp"
#include "presentation/FolderAccessQuery.hpp"
#include "presentation/SettingsPane.hpp"
#include "presentation/StatusWording.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "services/StaleSessionBaselines.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// The one state behind every window that shows the agents: the dashboard, the
// floating window and the Diagnostics pane. It holds the last committed
// snapshot, the manual-refresh spinner and the cleared stale baselines, and
// the actions the views ask the shell to run. Its derived operations are the
// single source of what those surfaces show.
//
// Observers hear of a change on the next turn of the main queue, when the new
// value is in place: a change of the model's own properties, and a change of
// the settings that decide what is displayed (sample data, enabled agents).
// The settings store announces before it stores, so redrawing on the next turn
// is what lets a redraw read the new value.
//
// Main thread only.
class StatusDashboardModel {
public:
    enum class Property {
        snapshot,
        isRefreshing,
        clearedStaleBaselines,
        displayedSettings, // sample data or the enabled agents changed
    };
    using Observer = std::function<void(Property)>;
    using ObserverID = std::uint64_t;

    struct Actions {
        std::function<void()> onRefresh;
        std::function<void(std::optional<SettingsPane>)> onSettings;
        std::function<void()> onQuit;
        std::function<void()> onSignalHealthClear;
        std::function<void()> onOpenGlanceWindow;
        std::function<void(const std::string& providerID)> onRequestAccess;
        // Goes to the terminal of the session whose process this is (off the UI thread).
        std::function<void(int64_t pid)> onGoToSession;
        // Checks off the UI thread whether it can; the answer comes on the UI thread.
        std::function<void(int64_t pid, std::function<void(SessionJumpCheck)> answer)> onCheckGoToSession;
    };

    // The spinner stays on this long after the refresh that owns it ends.
    static constexpr double spinnerLinger = 0.4;

    StatusDashboardModel(MainQueue& mainQueue, AgentStatusSnapshot snapshot,
                         std::shared_ptr<ProviderSettingsStore> settings,
                         std::shared_ptr<FolderAccessQuery> folderAccess, ClearedStaleBaselines clearedStaleBaselines,
                         std::vector<ProviderDescriptor> providers);
    ~StatusDashboardModel();
    StatusDashboardModel(const StatusDashboardModel&) = delete;
    StatusDashboardModel& operator=(const StatusDashboardModel&) = delete;

    // Published state.
    const AgentStatusSnapshot& snapshot() const { return snapshot_; }
    void setSnapshot(AgentStatusSnapshot snapshot);
    bool isRefreshing() const { return isRefreshing_; }
    const ClearedStaleBaselines& clearedStaleBaselines() const { return clearedStaleBaselines_; }
    std::int64_t refreshGeneration() const { return refreshGeneration_; }

    const std::vector<ProviderDescriptor>& providers() const { return providers_; }
    ProviderSettingsStore& settings() const { return *settings_; }
    const std::shared_ptr<ProviderSettingsStore>& sharedSettings() const { return settings_; }
    FolderAccessQuery& folderAccess() const { return *folderAccess_; }

    Actions actions;

    // The snapshot every surface shows: the stored one, or while sample data is
    // on, the sample anchored at the stored snapshot's check time.
    const AgentStatusSnapshot& displaySnapshot() const;
    // working (a running session), else waiting (a waiting session), else
    // unavailable (no agent could be read: the snapshot's state is unknown),
    // else idle.
    StatusWording::Mood activityState() const;
    // The enabled providers, in catalog order.
    std::vector<ProviderDescriptor> visibleProviders() const;
    // The displayed provider snapshot whose name matches ignoring letter case.
    std::optional<ProviderSnapshot> providerSnapshot(const ProviderDescriptor& provider) const;
    std::int64_t activeSessionCount(const ProviderDescriptor& provider) const;
    // Never while sample data shows; else when folders are missing and access is not granted.
    bool needsAccess(const ProviderDescriptor& provider) const;
    // Stale sessions beyond each provider's baseline, summed (saturating).
    std::int64_t hiddenStaleCount() const;

    // "Reset Count": every provider of the stored (real) snapshot with stale
    // sessions takes its count as baseline; written to the settings' defaults
    // suite; then onSignalHealthClear.
    void clearStaleBaselines();

    // A manual refresh starts: a new generation owns the spinner. Returns it.
    std::int64_t beginManualRefresh();
    // The refresh of that generation was applied or timed out: the spinner
    // ends spinnerLinger seconds later, unless a newer manual refresh began.
    void finishRefresh(std::int64_t generation);

    ObserverID addObserver(Observer observer);
    void removeObserver(ObserverID id);

private:
    void publish(Property property);

    MainQueue& mainQueue_;
    AgentStatusSnapshot snapshot_;
    bool isRefreshing_ = false;
    ClearedStaleBaselines clearedStaleBaselines_;
    std::vector<ProviderDescriptor> providers_;
    std::shared_ptr<ProviderSettingsStore> settings_;
    std::shared_ptr<FolderAccessQuery> folderAccess_;
    std::int64_t refreshGeneration_ = 0;
    ProviderSettingsStore::ObserverID settingsObserver_ = 0;

    mutable std::optional<AgentStatusSnapshot> sample_; // the sample of sampleAnchor_
    mutable Date sampleAnchor_ = 0;

    std::map<ObserverID, Observer> observers_;
    ObserverID nextObserverID_ = 1;
    // Delayed steps hold this weakly, so they do nothing once the model is gone.
    std::shared_ptr<StatusDashboardModel*> self_;
};

} // namespace brindleaf
