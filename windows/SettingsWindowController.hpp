#pragma once

#include "presentation/SettingsPane.hpp"

#include <QObject>

#include <memory>
#include <optional>

class QActionGroup;
class QWidget;

namespace brindleaf {

class AboutUpdater;
class CloudSyncChangeFanOut;
class FolderAccessController;
class LaunchAtLoginController;
class ProviderSettingsStore;
class StatusCloudSyncController;
class StatusDashboardModel;

// The one preferences window: a tool bar of five exclusive tabs (General,
// Agents, Sync, Diagnostics, About) over the selected pane, each pane 520
// wide, the window as tall as the selected pane and titled after its tab,
// with no minimize button.
// Built on the first show and kept when closed (closing only hides it, and
// never quits the application); Ctrl+W closes it as its close button does;
// no control is focused after a show or a change of tab.
//
// Object names, for tests: the window "settingsWindow", its tab bar
// "settingsTabs", each pane its raw value ("general", "agents", "iCloud",
// "diagnostics", "about").
//
// Main thread only.
class SettingsWindowController final : public QObject {
    Q_OBJECT

public:
    struct Collaborators {
        std::shared_ptr<ProviderSettingsStore> settings;
        std::shared_ptr<StatusDashboardModel> dashboardModel;
        std::shared_ptr<FolderAccessController> folderAccess;
        std::shared_ptr<LaunchAtLoginController> launchAtLogin;
        std::shared_ptr<StatusCloudSyncController> cloudSync;
        // Fans the sync controller's change callback out; the pane listens to it.
        std::shared_ptr<CloudSyncChangeFanOut> cloudSyncChanges;
        // The About pane's update controls; when absent, those of the process's
        // SoftwareUpdater::shared(); without either, they are not shown.
        std::shared_ptr<AboutUpdater> updater;
    };

    explicit SettingsWindowController(Collaborators collaborators, QObject* parent = nullptr);
    ~SettingsWindowController() override;

    // Shows the window (built on first use) on the given pane, or on the tab
    // last selected; reads the login-item state again; restores it when it is
    // minimized, raises and activates it.
    void show(std::optional<SettingsPane> pane = std::nullopt);

    // Absent until the first show.
    QWidget* window() const { return window_.get(); }
    SettingsPane selectedPane() const { return selected_; }

private:
    void makeWindow();
    QWidget* makePane(SettingsPane pane);
    void select(SettingsPane pane);

    Collaborators collaborators_;
    std::unique_ptr<QWidget> window_;
    QActionGroup* tabs_ = nullptr;
    SettingsPane selected_ = SettingsPane::general;
};

} // namespace brindleaf
