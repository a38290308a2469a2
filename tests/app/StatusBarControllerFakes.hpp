#pragma once

#include "app/FolderAccessQueries.hpp"
#include "app/HotkeyRegistrar.hpp"
#include "app/StatusBarController.hpp"
#include "app/StatusDashboardSink.hpp"
#include "app/StatusItemSurface.hpp"
#include "core/AgentStatusProvider.hpp"
#include "core/AgentStatusService.hpp"
#include "platform/Logger.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/MemoryLogSink.hpp"
#include "platform/UserDefaults.hpp"
#include "services/FileChangeWatcher.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "sync/StatusCloudSyncController.hpp"
#include "sync/StatusCloudSyncStore.hpp"

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace brindleaf::testing {

// A provider whose sessions the test sets; each session's activity is the scan time.
class ScriptedProvider final : public AgentStatusProvider {
public:
    explicit ScriptedProvider(std::string name) : name_(std::move(name)) {}
    std::string name() const override { return name_; }
    ProviderSnapshot snapshot(Date at) override {
        std::vector<AgentSession> sessions;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [id, rollout] : sessions_)
                sessions.push_back(AgentSession({.id = id,
                                                 .provider = name_,
                                                 .title = id,
                                                 .cwd = "/work",
                                                 .rolloutPath = rollout,
                                                 .lastActivityAt = at,
                                                 .evidence = "writing code"}));
        }
        return ProviderSnapshot::make(name_, std::nullopt, std::nullopt, sessions, 0, at, {});
    }
    void setSessions(std::vector<std::pair<std::string, std::string>> sessions) {
        std::lock_guard lock(mutex_);
        sessions_ = std::move(sessions);
    }

private:
    std::string name_;
    std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> sessions_; // id, rollout path
};

class RecordingSurface final : public StatusItemSurface {
public:
    void reloadIcons() override { ++reloads; }
    void render(const AgentStatusSnapshot& snapshot) override { rendered.push_back(snapshot); }
    int reloads = 0;
    std::vector<AgentStatusSnapshot> rendered;
};

class RecordingDashboard final : public StatusDashboardSink {
public:
    void publishSnapshot(const AgentStatusSnapshot& snapshot) override { published.push_back(snapshot); }
    std::int64_t beginManualRefresh() override { return ++generation; }
    void finishRefresh(std::int64_t g) override { finished.push_back(g); }
    ClearedStaleBaselines clearedStaleBaselines() const override { return baselines; }
    void announceChange() override { ++announcements; }
    std::vector<AgentStatusSnapshot> published;
    std::int64_t generation = 0;
    std::vector<std::int64_t> finished;
    ClearedStaleBaselines baselines;
    int announcements = 0;
};

class FakeFolderAccess final : public FolderAccessQueries {
public:
    bool hasAccess(const std::string& providerID) const override { return !denied.contains(providerID); }
    void setOnGrantedFoldersChange(std::function<void()> onChange) override { this->onChange = std::move(onChange); }
    std::set<std::string> denied;
    std::function<void()> onChange;
};

class RecordingHotkey final : public HotkeyRegistrar {
public:
    void registerShortcut(const HotkeyShortcut& shortcut) override {
        registered.push_back(shortcut);
        if (onRegister) onRegister();
    }
    std::vector<HotkeyShortcut> registered;
    std::function<void()> onRegister;
};

// Stands in for the watcher's thread: the test reports paths itself.
class FakeFileChangeWatcher final : public FileChangeWatcher {
public:
    void watch(std::vector<std::string> paths, Callback onChange) override {
        std::lock_guard lock(mutex);
        lists.push_back(std::move(paths));
        callback = std::move(onChange);
    }
    void stop() override {
        std::lock_guard lock(mutex);
        callback = nullptr;
    }
    // What the watcher's thread would report.
    void report(const std::string& path) {
        Callback copy;
        {
            std::lock_guard lock(mutex);
            copy = callback;
        }
        if (copy) copy(path);
    }
    std::size_t watchCalls() {
        std::lock_guard lock(mutex);
        return lists.size();
    }
    std::mutex mutex;
    std::vector<std::vector<std::string>> lists;
    Callback callback;
};

class CountingCloudStore final : public StatusCloudSyncStore {
public:
    void save(const StatusPayload&) override { ++saves; }
    void ensureSubscription() override {}
    void deleteStatus() override { ++deletes; }
    std::atomic<int> saves{0};
    std::atomic<int> deletes{0};
};

// Background jobs wait here until the test runs them.
struct HeldRunner {
    std::deque<std::function<void()>> jobs;
    StatusBarController::Runner runner() {
        return [this](std::function<void()> job) { jobs.push_back(std::move(job)); };
    }
    void runAll() {
        while (!jobs.empty()) {
            auto job = std::move(jobs.front());
            jobs.pop_front();
            job();
        }
    }
};

// A controller on the manual queue with fakes around it; background work runs
// at once on the test's thread unless `held` is set.
struct ControllerRig {
    explicit ControllerRig(bool held = false, std::string homeFolder = "/nonexistent-home") {
        Logger::setSink(log);
        Logger::setDebugEnabled(true); // the per-refresh lines these tests read
        codex = std::make_shared<ScriptedProvider>("Codex");
        claude = std::make_shared<ScriptedProvider>("Claude Code");
        hermes = std::make_shared<ScriptedProvider>("Hermes");
        dependencies.mainQueue = queue;
        dependencies.service = std::make_shared<AgentStatusService>(
            std::vector<std::shared_ptr<AgentStatusProvider>>{codex, claude, hermes}, 5.0);
        dependencies.codexWatchConfiguration = CodexRuntimeWatchConfiguration({}, homeFolder);
        dependencies.home = homeFolder;
        dependencies.settings = std::make_shared<ProviderSettingsStore>(UserDefaults::inMemory("controller-tests"));
        dependencies.folderAccess = folderAccess;
        StatusCloudSyncController::Options sync;
        sync.mainQueue = queue;
        sync.background = [](std::function<void()> job) { job(); };
        sync.store = cloudStore;
        dependencies.cloudSync = StatusCloudSyncController::make(std::move(sync));
        dependencies.statusItem = surface;
        dependencies.dashboard = dashboard;
        dependencies.popoverHotkey = popoverHotkey;
        dependencies.windowHotkey = windowHotkey;
        dependencies.fileWatcher = fileWatcher;
        dependencies.runtimeLogFileWatcher = runtimeLogWatcher;
        dependencies.sessionActivityFileWatcher = sessionWatcher;
        if (held)
            dependencies.background = heldRunner.runner();
        else
            dependencies.background = [](std::function<void()> job) { job(); };
        dependencies.wallClock = [this] { return wallClockOffset + queue->now(); };
    }
    ~ControllerRig() {
        controller.reset();
        Logger::setDebugEnabled(false);
        Logger::setSink(nullptr);
    }

    void start() {
        controller = StatusBarController::make(dependencies);
        queue->drain();
    }
    std::vector<std::string> messages(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& m : log->messages())
            if (m.starts_with(prefix)) out.push_back(m);
        return out;
    }
    std::size_t count(const std::string& prefix) const { return messages(prefix).size(); }

    std::shared_ptr<MemoryLogSink> log = std::make_shared<MemoryLogSink>();
    std::shared_ptr<ManualMainQueue> queue = std::make_shared<ManualMainQueue>(1000);
    double wallClockOffset = 1.8e9;
    std::shared_ptr<ScriptedProvider> codex, claude, hermes;
    std::shared_ptr<CountingCloudStore> cloudStore = std::make_shared<CountingCloudStore>();
    std::shared_ptr<FakeFolderAccess> folderAccess = std::make_shared<FakeFolderAccess>();
    std::shared_ptr<RecordingSurface> surface = std::make_shared<RecordingSurface>();
    std::shared_ptr<RecordingDashboard> dashboard = std::make_shared<RecordingDashboard>();
    std::shared_ptr<RecordingHotkey> popoverHotkey = std::make_shared<RecordingHotkey>();
    std::shared_ptr<RecordingHotkey> windowHotkey = std::make_shared<RecordingHotkey>();
    std::shared_ptr<FakeFileChangeWatcher> fileWatcher = std::make_shared<FakeFileChangeWatcher>();
    std::shared_ptr<FakeFileChangeWatcher> runtimeLogWatcher = std::make_shared<FakeFileChangeWatcher>();
    std::shared_ptr<FakeFileChangeWatcher> sessionWatcher = std::make_shared<FakeFileChangeWatcher>();
    HeldRunner heldRunner;
    StatusBarController::Dependencies dependencies;
    std::shared_ptr<StatusBarController> controller;
};

} // namespace brindleaf::testing
