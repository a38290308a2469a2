#pragma once

#include "core/ProviderCatalog.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/UserDefaults.hpp"
#include "presentation/FolderAccessQuery.hpp"
#include "presentation/StatusDashboardModel.hpp"
#include "services/FolderAccessController.hpp"
#include "services/LaunchAtLoginController.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "sync/StatusCloudSyncController.hpp"
#include "tests/support/TempDir.hpp"
#include "windows/CloudSyncChangeFanOut.hpp"
#include "windows/SettingsWindowController.hpp"

#include <QApplication>

#include <memory>

namespace brindleaf::testing {

// The process's QApplication (off screen unless the environment chose otherwise).
QApplication& windowsApplication();
// Runs the event loop until nothing is left to do at once.
void settle();

// A settings store over an in-memory suite, and a login-item controller over a temporary folder.
struct SettingsFixture {
    TempDir dir;
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory("settings-tests");
    std::shared_ptr<ProviderSettingsStore> settings = std::make_shared<ProviderSettingsStore>(defaults);
    std::shared_ptr<LaunchAtLoginController> launchAtLogin = std::make_shared<LaunchAtLoginController>(
        LaunchAtLoginController::Locations{dir / "autostart", {}, "/usr/bin/brindleaf"});
};

// A login-item controller that cannot write its entry: its autostart folder
// would have to be made below a plain file.
inline std::shared_ptr<LaunchAtLoginController> refusingLaunchAtLogin(const TempDir& dir) {
    writeFile(dir / "blocked", "");
    return std::make_shared<LaunchAtLoginController>(
        LaunchAtLoginController::Locations{dir / "blocked/autostart", {}, "/usr/bin/brindleaf"});
}

// Answers per provider id as the test sets it.
class FakeFolderAccessQuery final : public FolderAccessQuery {
public:
    std::set<std::string> withoutAccess;
    bool hasMissingFolders(const std::string&) const override { return false; }
    bool hasAccess(const std::string& id) const override { return withoutAccess.count(id) == 0; }
};

// A sync controller whose store calls run at once; without a store when none is given (no entitlement here).
inline std::shared_ptr<StatusCloudSyncController> makeSyncController(std::shared_ptr<MainQueue> queue,
                                                                     std::shared_ptr<StatusCloudSyncStore> store) {
    StatusCloudSyncController::Options options;
    options.mainQueue = std::move(queue);
    options.store = std::move(store);
    options.background = [](std::function<void()> work) { work(); };
    return StatusCloudSyncController::make(std::move(options));
}

// Every collaborator of the settings window: unconfined folder access, a
// dashboard model on a manual queue, and a sync controller without a store.
struct PaneFixture : SettingsFixture {
    std::shared_ptr<ManualMainQueue> queue = std::make_shared<ManualMainQueue>();
    std::shared_ptr<FakeFolderAccessQuery> folderQuery = std::make_shared<FakeFolderAccessQuery>();
    std::shared_ptr<StatusDashboardModel> model = std::make_shared<StatusDashboardModel>(
        *queue, AgentStatusSnapshot{}, settings, folderQuery, ClearedStaleBaselines{}, ProviderCatalog::all());
    std::shared_ptr<FolderAccessController> folderAccess =
        std::make_shared<FolderAccessController>(defaults, false, nullptr, nullptr, (dir / "home").string());
    std::shared_ptr<StatusCloudSyncController> cloudSync = makeSyncController(queue, nullptr);
    std::shared_ptr<CloudSyncChangeFanOut> cloudSyncChanges = CloudSyncChangeFanOut::attach(*cloudSync);

    SettingsWindowController::Collaborators collaborators() const {
        return {settings, model, folderAccess, launchAtLogin, cloudSync, cloudSyncChanges, nullptr};
    }
    // Runs the model's and the controller's queued work, then Qt's.
    void drain() {
        while (queue->runOne()) {
        }
        settle();
    }
};

} // namespace brindleaf::testing
