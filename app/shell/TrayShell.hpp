#pragma once

#include "app/HotkeyRoute.hpp"

#include "app/LaunchPlan.hpp"
#include "app/PopoverToggle.hpp"
#include "app/StatusBarController.hpp"
#include "app/TrayActivationAnchor.hpp"
#include "app/shell/PopoverWindow.hpp"
#include "app/shell/TrayStatusItem.hpp"
#include "platform/SessionJumper.hpp"
#include "platform/UserDefaults.hpp"
#include "platform/WorkerPool.hpp"
#include "presentation/QtMainQueue.hpp"
#include "presentation/SettingsPane.hpp"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace brindleaf {

class CloudSyncChangeFanOut;
class FloatingStatusWindowController;
class FolderAccessController;
class FolderAccessControllerQueries;
class GlobalHotkeyMonitor;
class KeyGrabber;
class LaunchAtLoginController;
class ProviderSettingsStore;
class SessionNotifier;
class SettingsWindowController;
class SoftwareUpdater;
class StatusCloudSyncController;
class StatusDashboardModel;
class StatusDashboardView;
class WelcomeWindowController;

// The running tray application put together: the settings, folder grants,
// login item, cloud sync, dashboard model, tray icon, hot keys and file
// watchers around the status bar controller, and the windows they open — the
// dashboard popup (a click on the icon or hot key 1), the floating window
// (hot key 2), settings and the first-run welcome.
//
// Main thread only.
class TrayShell final : public QObject {
    Q_OBJECT
public:
    struct Options {
        std::shared_ptr<QtMainQueue> mainQueue;
        // The standard settings suite.
        std::shared_ptr<UserDefaults> defaults;
        std::map<std::string, std::string> environment;
        // The user's real home folder (the agents' folders are below it).
        std::string home;
        // Whether the global hot keys can be grabbed (the application runs on X).
        bool keyGrabs = false;
        // How the hot keys reach the program: through the desktop portal (a
        // Wayland session, whether or not `keyGrabs`), else X11 grabs when `keyGrabs`.
        HotkeyRoute hotkeyRoute = HotkeyRoute::x11Grabs;
        // Whether the tray icon follows the desktop's tray hosts (a
        // StatusNotifierItem host on the session bus, an XEmbed tray on X when
        // `keyGrabs`); without, it is Qt's tray icon only.
        bool watchTrayHosts = false;
        // Whether sessions that need the user or finish a long run are told
        // with desktop notifications (on the session bus).
        bool notifications = false;
        // The updater whose pending version the dashboard offers; may be null.
        std::shared_ptr<SoftwareUpdater> updater;
    };

    explicit TrayShell(Options options, QObject* parent = nullptr);
    ~TrayShell() override;

    StatusBarController& controller() { return *controller_; }
    TrayStatusItem& statusItem() { return statusItem_; }
    StatusDashboardModel& dashboardModel() { return *model_; }
    ProviderSettingsStore& settings() { return *settings_; }
    StatusCloudSyncController& cloudSync() { return *cloudSync_; }

    // The tray icon's click or hot key 1: closes the open popup, else opens it.
    void togglePopover(bool byIconClick);
    void showPopover();
    void closePopover();
    bool isPopoverShown() const { return popover_ && popover_->isVisible(); }

    // Hot key 2: hides the shown floating window, else shows it.
    void toggleFloatingWindow();
    // Shows the floating window; one already shown stays as it is.
    void showFloatingWindow();
    bool isFloatingWindowShown() const;

    void showSettings(std::optional<SettingsPane> pane);
    void showWelcome();
    // The welcome on a plain launch: before it was once shown, or while a
    // needed folder grant is missing.
    void showWelcomeIfNeeded();

    // Runs the launch flag's action (the delay is the caller's).
    void runLaunchAction(const LaunchPlan::LaunchAction& action);

    // The popup, floating window and settings controllers once made (tests, gallery).
    PopoverWindow* popover() const { return popover_; }
    FloatingStatusWindowController* floatingWindow() const { return floating_.get(); }
    SettingsWindowController* settingsWindow() const { return settingsWindow_.get(); }
    WelcomeWindowController* welcomeWindow() const { return welcome_.get(); }

private:
    void wireDashboardActions();
    void makePopover();
    void placePopover();
    std::optional<QRect> trayIconAnchor() const;
    // Closes the popup, then runs the action `delay` seconds later.
    void afterClosingPopover(double delay, std::function<void()> action);
    void requestAccess(const std::string& providerID);
    // The popup opens without a click on the icon: anchored where the icon was
    // last clicked, or at the pointer before any click.
    void anchorWithoutActivation();
    void shortcutsChanged();
    void makeJumper();
    void makeNotifier();

    Options options_;
    std::shared_ptr<ProviderSettingsStore> settings_;
    std::shared_ptr<FolderAccessController> folderAccess_;
    std::shared_ptr<FolderAccessControllerQueries> folderQueries_;
    std::shared_ptr<LaunchAtLoginController> launchAtLogin_;
    std::shared_ptr<StatusCloudSyncController> cloudSync_;
    std::shared_ptr<CloudSyncChangeFanOut> cloudSyncChanges_;
    std::shared_ptr<StatusDashboardModel> model_;
    // Goes to sessions' terminals on threads of its own: the checks and jumps block up to a few seconds.
    std::shared_ptr<SessionJumper> jumper_;
    std::unique_ptr<WorkerPool> jumpWorkers_;
    TrayStatusItem statusItem_;
    std::shared_ptr<KeyGrabber> keyGrabber_;
    std::shared_ptr<GlobalHotkeyMonitor> popoverHotkey_;
    std::shared_ptr<GlobalHotkeyMonitor> windowHotkey_;
    std::shared_ptr<StatusBarController> controller_;
    QPointer<SessionNotifier> notifier_;

    PopoverToggle popoverToggle_;
    TrayActivationAnchor anchor_;
    // Where the popup is anchored when the tray does not say where the icon is.
    QPoint lastClick_;
    QPointer<PopoverWindow> popover_;
    QPointer<StatusDashboardView> dashboardView_;
    std::unique_ptr<FloatingStatusWindowController> floating_;
    std::unique_ptr<SettingsWindowController> settingsWindow_;
    std::unique_ptr<WelcomeWindowController> welcome_;
    std::uint64_t updaterObserver_ = 0;
    std::uint64_t folderObserver_ = 0;
};

} // namespace brindleaf
