#include "app/StatusBarController.hpp"

#include "core/AgentRunState.hpp"
#include "core/ProviderCatalog.hpp"
#include "platform/WorkerPool.hpp"

#include <algorithm>
#include <map>
#include <utility>

namespace brindleaf {

std::shared_ptr<StatusBarController> StatusBarController::make(Dependencies dependencies) {
    std::shared_ptr<StatusBarController> controller(new StatusBarController(std::move(dependencies)));
    controller->start();
    return controller;
}

StatusBarController::StatusBarController(Dependencies dependencies) : deps_(std::move(dependencies)) {
    if (!deps_.wallClock) deps_.wallClock = [] { return currentDate(); };
    background_ = deps_.background;
    if (!background_) {
        pool_ = std::make_unique<WorkerPool>(2, 4);
        background_ = [pool = pool_.get()](std::function<void()> job) { pool->submit(std::move(job)); };
    }
    refreshController_ =
        CoalescedBackgroundRefreshController<AgentStatusSnapshot>::make(deps_.mainQueue, background_, refreshTimeout);
    snapshot_ = AgentStatusSnapshot::make({}, deps_.wallClock());
}

StatusBarController::~StatusBarController() {
    if (settingsObserver_) deps_.settings->removeObserver(*settingsObserver_);
    if (deps_.folderAccess) deps_.folderAccess->setOnGrantedFoldersChange(nullptr);
    for (const auto& watcher : {deps_.fileWatcher, deps_.runtimeLogFileWatcher, deps_.sessionActivityFileWatcher})
        if (watcher) watcher->stop();
    followLiveStatus(false);
}

void StatusBarController::start() {
    if (deps_.cloudSync) deps_.cloudSync->setEnabled(deps_.settings->isCloudSyncEnabled());
    deps_.statusItem->reloadIcons();
    observeSettings();
    schedulePollTick();
    rebuildFileWatchers();
    followLiveStatus(true);
    if (deps_.popoverHotkey) deps_.popoverHotkey->registerShortcut(deps_.settings->toggleShortcut());
    if (deps_.windowHotkey) deps_.windowHotkey->registerShortcut(deps_.settings->windowShortcut());
    requestRefresh("unspecified");
}

// Settings observers hear of a change before it is stored, so each change is
// handled in a job of its own, when the new value can be read.
void StatusBarController::observeSettings() {
    std::weak_ptr<StatusBarController> weak = shared_from_this();
    std::shared_ptr<MainQueue> queue = deps_.mainQueue;
    settingsObserver_ = deps_.settings->addObserver([weak, queue](ProviderSettingsStore::Property property) {
        queue->post([weak, property] {
            if (auto self = weak.lock()) self->settingChanged(property);
        });
    });
    if (!deps_.folderAccess) return;
    deps_.folderAccess->setOnGrantedFoldersChange([weak, queue] {
        queue->post([weak] {
            if (auto self = weak.lock()) {
                self->rebuildFileWatchers();
                self->requestRefresh("folder-access");
            }
        });
    });
}

void StatusBarController::settingChanged(ProviderSettingsStore::Property property) {
    using Property = ProviderSettingsStore::Property;
    switch (property) {
    case Property::iconStyle:
    case Property::iconRenderingMode:
    case Property::iconSizeOption:
        deps_.statusItem->reloadIcons();
        render();
        break;
    case Property::enabledProviderIDs:
        requestRefresh("settings");
        break;
    case Property::toggleShortcut:
        if (deps_.popoverHotkey) deps_.popoverHotkey->registerShortcut(deps_.settings->toggleShortcut());
        break;
    case Property::windowShortcut:
        if (deps_.windowHotkey) deps_.windowHotkey->registerShortcut(deps_.settings->windowShortcut());
        break;
    case Property::isCloudSyncEnabled:
        if (!deps_.cloudSync) break;
        deps_.cloudSync->setEnabled(deps_.settings->isCloudSyncEnabled());
        if (deps_.settings->isCloudSyncEnabled()) submitToCloudSync();
        break;
    case Property::isShowingSampleData:
        if (deps_.dashboard) deps_.dashboard->announceChange();
        break;
    case Property::acknowledgedErrorMessagesByProviderKey:
    case Property::isDebugLoggingEnabled:
    case Property::notifiesWhenWaiting:
    case Property::notifiesWhenFinished:
    case Property::playsNotificationSound:
        break;
    }
}

void StatusBarController::schedulePollTick() {
    std::weak_ptr<StatusBarController> weak = shared_from_this();
    pollTimer_.schedule(*deps_.mainQueue, pollInterval, [weak] {
        if (auto self = weak.lock()) {
            self->schedulePollTick();
            self->pollTick();
        }
    });
}

// The spacing is measured on the monotonic clock, so setting the wall clock
// back does not hold polling up.
void StatusBarController::pollTick() {
    double spacing = snapshot_.activeSessions.empty() ? idlePollSpacing : activePollSpacing;
    if (!lastRefreshRequestedAt_ || deps_.mainQueue->now() - *lastRefreshRequestedAt_ >= spacing)
        requestRefresh("poll");
}

std::set<std::string> StatusBarController::enabledProviderNames() const {
    std::set<std::string> names;
    const auto& enabled = deps_.settings->enabledProviderIDs();
    for (const auto& descriptor : ProviderCatalog::all())
        if (enabled.contains(descriptor.id) && (!deps_.folderAccess || deps_.folderAccess->hasAccess(descriptor.id)))
            names.insert(descriptor.displayName);
    return names;
}

void StatusBarController::requestRefresh(const std::string& reason, bool manual) {
    lastRefreshRequestedAt_ = deps_.mainQueue->now();
    std::set<std::string> enabled = enabledProviderNames();
    std::string joined;
    for (const auto& name : enabled) {
        if (!joined.empty()) joined += ",";
        joined += name;
    }
    logger_.debug("refresh.requested reason=" + reason + " enabled=" + joined);
    if (manual && deps_.dashboard) pendingManualRefreshGeneration_ = deps_.dashboard->beginManualRefresh();

    std::weak_ptr<StatusBarController> weak = shared_from_this();
    std::shared_ptr<AgentStatusService> service = deps_.service;
    refreshController_->request(
        deps_.wallClock(), [service, enabled](Date now) { return service->snapshot(now, enabled); },
        [weak](const AgentStatusSnapshot& snapshot) {
            if (auto self = weak.lock()) self->apply(snapshot);
        },
        [weak, reason] {
            if (auto self = weak.lock()) self->timedOut(reason);
        });
}

void StatusBarController::requestManualRefresh() { requestRefresh("manual", true); }

void StatusBarController::timedOut(const std::string& reason) {
    logger_.error("refresh.timeout reason=" + reason);
    finishManualRefresh();
}

void StatusBarController::finishManualRefresh() {
    if (!pendingManualRefreshGeneration_) return;
    std::int64_t generation = *pendingManualRefreshGeneration_;
    pendingManualRefreshGeneration_.reset();
    deps_.dashboard->finishRefresh(generation);
}

bool StatusBarController::noAgentCouldBeRead(const AgentStatusSnapshot& snapshot) {
    const auto& providers = snapshot.providerSnapshots;
    return !providers.empty() && std::all_of(providers.begin(), providers.end(), [](const ProviderSnapshot& provider) {
        return provider.activeSessions.empty() && provider.readNothing && !provider.errors.empty();
    });
}

std::string StatusBarController::stateChangeEvidence(const AgentStatusSnapshot& snapshot) {
    if (snapshot.statusEvidence) return *snapshot.statusEvidence;
    const auto& providers = snapshot.providerSnapshots;
    const auto sameState = std::find_if(providers.begin(), providers.end(), [&](const ProviderSnapshot& provider) {
        return provider.state == snapshot.state;
    });
    if (sameState != providers.end() && sameState->statusEvidence) return *sameState->statusEvidence;
    if (!snapshot.activeSessions.empty()) return snapshot.activeSessions.front().evidence;
    return {};
}

void StatusBarController::apply(const AgentStatusSnapshot& snapshot) {
    AgentRunState oldState = snapshot_.state;
    snapshot_ = snapshot;
    // Nothing read is not "nothing running": the snapshot and each agent in it
    // are unknown for the icon, the dashboard, the log and cloud sync, with
    // the agent's latest error (a time-out is added last) as evidence. An
    // agent that read its sessions with an error on one source is no reason.
    if (noAgentCouldBeRead(snapshot_)) {
        for (auto& provider : snapshot_.providerSnapshots) {
            provider.state = AgentRunState::unknown;
            provider.statusEvidence = provider.errors.back();
        }
        snapshot_.state = AgentRunState::unknown;
        snapshot_.statusEvidence = snapshot_.providerSnapshots.front().statusEvidence;
    }

    std::map<std::string, std::vector<std::string>> errorsByProvider;
    for (const auto& provider : snapshot_.providerSnapshots)
        if (!provider.errors.empty()) errorsByProvider[provider.providerName] = provider.errors;
    deps_.settings->pruneAcknowledgedErrors({errorsByProvider.begin(), errorsByProvider.end()});

    if (oldState != snapshot_.state)
        logger_.notice("state.changed from=" + std::string(toString(oldState)) +
                       " to=" + std::string(toString(snapshot_.state)) + " active=" +
                       std::to_string(snapshot_.activeSessions.size()) + " evidence=" + stateChangeEvidence(snapshot_));
    render();
    if (deps_.committed) deps_.committed(snapshot_);
    updateSessionActivityWatchers(snapshot_);
    submitToCloudSync();
    finishManualRefresh();
}

void StatusBarController::render() {
    deps_.statusItem->render(snapshot_);
    if (snapshot_.state == AgentRunState::inProgress && snapshot_.activeSessions.empty())
        logger_.error("surface.consistency state=inProgress active=0");
    logger_.debug("render.applied state=" + std::string(toString(snapshot_.state)) +
                  " active=" + std::to_string(snapshot_.activeSessions.size()));
    if (deps_.dashboard) deps_.dashboard->publishSnapshot(snapshot_);
}

void StatusBarController::clearSignalHealth() {
    render();
    submitToCloudSync();
}

void StatusBarController::welcomeFinished() {
    rebuildFileWatchers();
    requestRefresh("welcome-finished");
}

std::int64_t StatusBarController::unclearedStaleCount(const ProviderSnapshot& providerSnapshot) const {
    return hiddenStaleCountForProvider(providerSnapshot.providerName, providerSnapshot.ignoredStaleSessions,
                                       deps_.dashboard ? deps_.dashboard->clearedStaleBaselines()
                                                       : ClearedStaleBaselines{});
}

StaleSessionSource StatusBarController::staleCounter() const {
    std::weak_ptr<const StatusBarController> weak = shared_from_this();
    return [weak](const ProviderSnapshot& providerSnapshot) -> std::int64_t {
        if (auto self = weak.lock()) return self->unclearedStaleCount(providerSnapshot);
        return providerSnapshot.ignoredStaleSessions;
    };
}

void StatusBarController::submitToCloudSync() {
    if (deps_.cloudSync) deps_.cloudSync->submit(snapshot_, staleCounter());
}

} // namespace brindleaf
