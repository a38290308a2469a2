// The settings window on every pane and in each pane's states, and the
// welcome window confined and not, with fixtures in a throw-away folder.
#include "tools/gallery/GalleryRegistry.hpp"

#include "core/ProviderCatalog.hpp"
#include "platform/FakeKeyGrabber.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/UserDefaults.hpp"
#include "presentation/FolderAccessQuery.hpp"
#include "presentation/StatusDashboardModel.hpp"
#include "services/FakeFolderPicker.hpp"
#include "services/FolderAccessController.hpp"
#include "services/GlobalHotkeyMonitor.hpp"
#include "services/LaunchAtLoginController.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "sync/StatusCloudSyncController.hpp"
#include "sync/StatusCloudSyncStore.hpp"
#include "windows/AboutUpdater.hpp"
#include "windows/CloudSyncChangeFanOut.hpp"
#include "windows/CloudSyncSettingsPane.hpp"
#include "windows/SettingsWindowController.hpp"
#include "windows/WelcomeWindowController.hpp"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTemporaryDir>
#include <QWidget>

#include <filesystem>
#include <stdexcept>

namespace brindleaf::gallery {

namespace {

class NoAccessQuery final : public FolderAccessQuery {
public:
    bool hasMissingFolders(const std::string&) const override { return false; }
    bool hasAccess(const std::string&) const override { return true; }
};

class FailingStore final : public StatusCloudSyncStore {
public:
    void save(const StatusPayload&) override { throw std::runtime_error("offline"); }
    void ensureSubscription() override {}
    void deleteStatus() override {}
};

class StillUpdater final : public AboutUpdater {
public:
    void checkForUpdates() override {}
    bool automaticallyChecksForUpdates() override { return true; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    ObserverID addObserver(std::function<void()>) override { return 1; }
    void removeObserver(ObserverID) override {}
};

// Everything a settings window needs, over a fresh home folder with Codex and Claude Code installed.
struct Fixture {
    explicit Fixture(bool sandboxed, std::shared_ptr<StatusCloudSyncStore> store = nullptr) {
        home = std::filesystem::path(dir.path().toStdString()) / "home";
        std::filesystem::create_directories(home / ".codex");
        std::filesystem::create_directories(home / ".claude");
        defaults = UserDefaults::inMemory("gallery-settings");
        settings = std::make_shared<ProviderSettingsStore>(defaults);
        for (const ProviderDescriptor& provider : ProviderCatalog::all()) settings->setProvider(true, provider);
        launchAtLogin = std::make_shared<LaunchAtLoginController>(LaunchAtLoginController::Locations{
            std::filesystem::path(dir.path().toStdString()) / "autostart", {}, "/usr/bin/brindleaf"});
        folderAccess = std::make_shared<FolderAccessController>(
            defaults, sandboxed, std::make_shared<FakeFolderPicker>(), nullptr, home.string());
        model = std::make_shared<StatusDashboardModel>(*queue, AgentStatusSnapshot{}, settings,
                                                       std::make_shared<NoAccessQuery>(), ClearedStaleBaselines{},
                                                       ProviderCatalog::all());
        StatusCloudSyncController::Options options;
        options.mainQueue = queue;
        options.store = std::move(store);
        options.background = [](std::function<void()> work) { work(); };
        options.clock = [] { return GalleryOutput::fixedNow; };
        cloudSync = StatusCloudSyncController::make(std::move(options));
        changes = CloudSyncChangeFanOut::attach(*cloudSync);
    }

    SettingsWindowController::Collaborators collaborators() const {
        return {settings, model, folderAccess, launchAtLogin, cloudSync, changes, std::make_shared<StillUpdater>()};
    }
    void settle() {
        for (int i = 0; i < 3; ++i) {
            while (queue->runOne()) {
            }
            QApplication::processEvents();
        }
    }

    QTemporaryDir dir;
    std::filesystem::path home;
    std::shared_ptr<ManualMainQueue> queue = std::make_shared<ManualMainQueue>(GalleryOutput::fixedNow);
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<ProviderSettingsStore> settings;
    std::shared_ptr<LaunchAtLoginController> launchAtLogin;
    std::shared_ptr<FolderAccessController> folderAccess;
    std::shared_ptr<StatusDashboardModel> model;
    std::shared_ptr<StatusCloudSyncController> cloudSync;
    std::shared_ptr<CloudSyncChangeFanOut> changes;
};

void saveWindow(GalleryOutput& out, const QString& name, QWidget* window, Fixture& fixture) {
    fixture.settle();
    window->adjustSize();
    fixture.settle();
    out.savePNG("settings/" + name, window->grab().toImage());
}

void shoot(GalleryOutput& out, Fixture& fixture, SettingsPane pane, const QString& name,
           const std::function<void()>& before = {}) {
    SettingsWindowController controller(fixture.collaborators());
    if (before) before();
    controller.show(pane);
    saveWindow(out, name, controller.window(), fixture);
}

AgentStatusSnapshot snapshotWithErrors() {
    return AgentStatusSnapshot::make(
        {ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, 2, GalleryOutput::fixedNow,
                                {"state_5.sqlite is locked", "Rollout file could not be read"}),
         ProviderSnapshot::make("Claude Code", std::nullopt, std::nullopt, {}, 0, GalleryOutput::fixedNow, {})},
        GalleryOutput::fixedNow);
}

void renderSettings(GalleryOutput& out) {
    // A US keyboard, so the shortcuts read as letters.
    auto keyboard = std::make_shared<FakeKeyGrabber>();
    for (auto [name, text] : {std::pair{"AC01", "a"}, {"AC02", "s"}}) keyboard->setKeyText(name, text);
    GlobalHotkeyMonitor::setKeyGrabber(keyboard);
    {
        Fixture fixture(false);
        for (auto [style, name] :
             {std::pair{StatusIconStyle::pulse, "general-pulse"}, std::pair{StatusIconStyle::cloud, "general-cloud"}}) {
            for (auto [mode, modeName] : {std::pair{StatusIconRenderingMode::monochrome, "-monochrome"},
                                          std::pair{StatusIconRenderingMode::color, "-color"}}) {
                fixture.settings->setIconStyle(style);
                fixture.settings->setIconRenderingMode(mode);
                shoot(out, fixture, SettingsPane::general, QString(name) + modeName);
            }
        }
        fixture.settings->setIconSizeOption(StatusIconSizeOption::large);
        fixture.launchAtLogin->setEnabled(true);
        shoot(out, fixture, SettingsPane::general, "general-large-open-at-login");
        shoot(out, fixture, SettingsPane::agents, "agents-unconfined");
        shoot(out, fixture, SettingsPane::about, "about");
    }
    {
        Fixture fixture(true);
        shoot(out, fixture, SettingsPane::agents, "agents-confined-before-grant");
        fixture.folderAccess->grant((fixture.home / ".codex").string(), FolderAccessController::Folder::codex);
        fixture.settings->setProvider(false, ProviderCatalog::all()[1]);
        fixture.settings->setProvider(false, ProviderCatalog::all()[2]);
        shoot(out, fixture, SettingsPane::agents, "agents-confined-after-grant-one-agent");
    }
    {
        Fixture fixture(false);
        shoot(out, fixture, SettingsPane::diagnostics, "diagnostics-no-errors");
        fixture.model->setSnapshot(snapshotWithErrors());
        fixture.settings->acknowledgeErrors("Codex", {"Rollout file could not be read"});
        shoot(out, fixture, SettingsPane::diagnostics, "diagnostics-new-error");
        fixture.settings->setShowingSampleData(true);
        shoot(out, fixture, SettingsPane::diagnostics, "diagnostics-sample-data");
    }
    {
        Fixture fixture(false);
        shoot(out, fixture, SettingsPane::iCloud, "sync-without-store");
    }
    {
        Fixture fixture(false, std::make_shared<FailingStore>());
        fixture.settings->setCloudSyncEnabled(false);
        shoot(out, fixture, SettingsPane::iCloud, "sync-off");
        fixture.settings->setCloudSyncEnabled(true);
        shoot(out, fixture, SettingsPane::iCloud, "sync-on-not-yet");
        fixture.cloudSync->submit(snapshotWithErrors(), rawStaleSessionSource());
        shoot(out, fixture, SettingsPane::iCloud, "sync-on-failure");
    }
    GlobalHotkeyMonitor::setKeyGrabber(nullptr);
}

void renderWelcome(GalleryOutput& out) {
    for (bool sandboxed : {false, true}) {
        Fixture fixture(sandboxed);
        WelcomeWindowController welcome(fixture.folderAccess, fixture.launchAtLogin, fixture.settings, [] {});
        welcome.show();
        fixture.settle();
        out.savePNG(sandboxed ? "welcome/confined" : "welcome/unconfined", welcome.window()->grab().toImage());
        welcome.window()->hide();
    }
}

const bool registeredSettings = registerGalleryPage({"settings", renderSettings});
const bool registeredWelcome = registerGalleryPage({"welcome", renderWelcome});

} // namespace

} // namespace brindleaf::gallery
