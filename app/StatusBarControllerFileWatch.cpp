// The file-watch half of the status bar controller: which paths are watched
// and how their events become debounced refreshes.
#include "app/FileWatchTargets.hpp"
#include "app/StatusBarController.hpp"
#include "providers/codex/CodexStatusProvider.hpp"

#include <algorithm>
#include <utility>

namespace brindleaf {

namespace {

std::string projectsFolder(const std::string& home) { return home + "/.claude/projects"; }

} // namespace

FileChangeWatcher::Callback StatusBarController::onMainQueue(void (StatusBarController::*handler)(const std::string&)) {
    std::weak_ptr<StatusBarController> weak = shared_from_this();
    std::shared_ptr<MainQueue> queue = deps_.mainQueue;
    return [weak, queue, handler](const std::string& path) {
        queue->post([weak, handler, path] {
            if (auto self = weak.lock()) ((*self).*handler)(path);
        });
    };
}

// The listings walk the projects folder, so they run on the background runner;
// only the newest rebuild's lists are handed to the watchers.
void StatusBarController::rebuildFileWatchers() {
    std::uint64_t generation = ++rebuildGeneration_;
    std::weak_ptr<StatusBarController> weak = shared_from_this();
    std::shared_ptr<MainQueue> queue = deps_.mainQueue;
    std::string home = deps_.home;
    CodexRuntimeWatchConfiguration configuration = deps_.codexWatchConfiguration;
    Date now = deps_.wallClock();
    background_([weak, queue, home, configuration, now, generation] {
        auto fileChangeList = FileWatchTargets::fileChangePaths(home, configuration, now);
        auto runtimeLogList = FileWatchTargets::codexRuntimeLogPaths(configuration);
        queue->post([weak, generation, fileChangeList = std::move(fileChangeList),
                     runtimeLogList = std::move(runtimeLogList)]() mutable {
            auto self = weak.lock();
            if (!self || generation != self->rebuildGeneration_) return;
            self->deps_.fileWatcher->watch(std::move(fileChangeList),
                                           self->onMainQueue(&StatusBarController::fileChanged));
            self->deps_.runtimeLogFileWatcher->watch(std::move(runtimeLogList),
                                                     self->onMainQueue(&StatusBarController::runtimeLogChanged));
        });
    });
}

void StatusBarController::fileChanged(const std::string& path) {
    scheduleDebouncedRefresh("file-change:" + path);
    if (FileWatchTargets::changeNeedsRebuild(path, projectsFolder(deps_.home))) scheduleWatcherRebuild();
}

void StatusBarController::scheduleWatcherRebuild() {
    if (watcherRebuildWorkItem_.isPending()) return;
    std::weak_ptr<StatusBarController> weak = shared_from_this();
    watcherRebuildWorkItem_.schedule(*deps_.mainQueue, watcherRebuildDelay, [weak] {
        if (auto self = weak.lock()) self->rebuildFileWatchers();
    });
}

// Trailing debounce: every event restarts the wait and the last reason wins.
void StatusBarController::scheduleDebouncedRefresh(const std::string& reason) {
    logger_.debug("refresh.debounce scheduled reason=" + reason + " delayMs=350");
    std::weak_ptr<StatusBarController> weak = shared_from_this();
    debounceWorkItem_.schedule(*deps_.mainQueue, fileChangeDelay, [weak, reason] {
        if (auto self = weak.lock()) self->requestRefresh(reason);
    });
}

// Leading and rate-limited: the first event of a burst fixes the reason and
// the time, at least 0.35 s after it and about 0.75 s after the previous
// runtime-log refresh. The spacing is measured on the monotonic clock and the
// delay never exceeds 0.75 s.
void StatusBarController::runtimeLogChanged(const std::string& path) {
    std::string reason = "runtime-log:" + path;
    if (runtimeLogRefreshWorkItem_.isPending()) {
        logger_.debug("refresh.debounce coalesced reason=" + reason + " kind=runtime-log");
        return;
    }
    double delay = minimumRuntimeLogDelay;
    if (lastRuntimeLogRefreshAt_) {
        double elapsed = std::max(0.0, deps_.mainQueue->now() - *lastRuntimeLogRefreshAt_);
        delay = std::clamp(minimumRuntimeLogRefreshInterval - elapsed, minimumRuntimeLogDelay,
                           minimumRuntimeLogRefreshInterval);
    }
    // A hair added before truncating keeps 0.55 s from printing as 549 ms.
    auto delayMs = static_cast<long long>(delay * 1000 + 1e-6);
    logger_.debug("refresh.debounce scheduled reason=" + reason + " delayMs=" + std::to_string(delayMs));
    std::weak_ptr<StatusBarController> weak = shared_from_this();
    runtimeLogRefreshWorkItem_.schedule(*deps_.mainQueue, delay, [weak, reason] {
        if (auto self = weak.lock()) {
            self->lastRuntimeLogRefreshAt_ = self->deps_.mainQueue->now();
            self->requestRefresh(reason);
        }
    });
}

void StatusBarController::updateSessionActivityWatchers(const AgentStatusSnapshot& snapshot) {
    // A change of a registry file is reported as the file's own path.
    auto paths = FileWatchTargets::sessionActivityPaths(snapshot, deps_.home);
    if (paths == watchedSessionActivityPaths_) return;
    watchedSessionActivityPaths_ = paths;
    deps_.sessionActivityFileWatcher->watch(std::move(paths),
                                            onMainQueue(&StatusBarController::sessionActivityChanged));
}

void StatusBarController::sessionActivityChanged(const std::string& path) {
    std::string reason = "session-activity:" + path;
    logger_.debug("refresh.debounce scheduled reason=" + reason + " delayMs=200");
    std::weak_ptr<StatusBarController> weak = shared_from_this();
    sessionActivityRefreshWorkItem_.schedule(*deps_.mainQueue, sessionActivityDelay, [weak, reason] {
        if (auto self = weak.lock()) self->requestRefresh(reason);
    });
}

void StatusBarController::followLiveStatus(bool follow) {
    if (!deps_.service) return;
    std::function<void()> handler;
    if (follow) {
        std::weak_ptr<StatusBarController> weak = shared_from_this();
        std::shared_ptr<MainQueue> queue = deps_.mainQueue;
        handler = [weak, queue] {
            queue->post([weak] {
                if (auto self = weak.lock()) self->liveStatusChanged();
            });
        };
    }
    for (const auto& provider : deps_.service->providers())
        if (auto codex = std::dynamic_pointer_cast<CodexStatusProvider>(provider))
            codex->officialStatusProbe()->setChangeHandler(handler);
}

void StatusBarController::liveStatusChanged() {
    if (liveStatusRefreshWorkItem_.isPending()) return;
    logger_.debug("refresh.debounce scheduled reason=codex-daemon delayMs=100");
    std::weak_ptr<StatusBarController> weak = shared_from_this();
    liveStatusRefreshWorkItem_.schedule(*deps_.mainQueue, liveStatusDelay, [weak] {
        if (auto self = weak.lock()) self->requestRefresh("codex-daemon");
    });
}

} // namespace brindleaf
