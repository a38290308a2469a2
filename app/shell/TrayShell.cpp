#include "app/shell/TrayShell.hpp"

#include "app/CodexRuntimeWatchConfiguration.hpp"
#include "app/CompositionRoot.hpp"
#include "app/FolderAccessControllerQueries.hpp"
#include "app/GlobalHotkeyMonitorRegistrar.hpp"
#include "app/PopoverPlacement.hpp"
#include "app/StatusDashboardModelSink.hpp"
#include "app/shell/PortalKeyGrabber.hpp"
#include "app/shell/SessionNotifier.hpp"
#include "app/shell/TrayStatusItemSurface.hpp"
#include "core/ProviderCatalog.hpp"
#include "platform/X11KeyGrabber.hpp"
#include "presentation/DashboardPanel.hpp"
#include "presentation/StatusDashboardModel.hpp"
#include "presentation/StatusDashboardView.hpp"
#include "presentation/WindowFocus.hpp"
#include "services/FileChangeWatcher.hpp"
#include "services/FolderAccessController.hpp"
#include "services/GlobalHotkeyMonitor.hpp"
#include "services/LaunchAtLoginController.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "services/SoftwareUpdater.hpp"
#include "services/StaleSessionBaselines.hpp"
#include "sync/StatusCloudSyncController.hpp"
#include "windows/CloudSyncChangeFanOut.hpp"
#include "windows/FloatingStatusWindow.hpp"
#include "windows/FloatingStatusWindowController.hpp"
#include "windows/GeneralPaneContent.hpp"
#include "windows/QtFolderAccessAlertPresenter.hpp"
#include "windows/QtFolderPicker.hpp"
#include "windows/SettingsWindowController.hpp"
#include "windows/WelcomeContent.hpp"
#include "windows/WelcomeWindowController.hpp"
#include "windows/X11Desktop.hpp"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QScreen>

namespace brindleaf {

namespace {

// The follow-ups of the dashboard's buttons wait for the popup to be gone.
constexpr double settingsAfterPopover = 0.15;
constexpr double accessAfterPopover = 0.15;
constexpr double floatingWindowAfterPopover = 0.18;

} // namespace

TrayShell::TrayShell(Options options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      statusItem_(*options_.mainQueue,
                  options_.watchTrayHosts ? std::optional(QDBusConnection::sessionBus()) : std::nullopt,
                  options_.watchTrayHosts && options_.keyGrabs) {
    auto& queue = options_.mainQueue;
    settings_ = std::make_shared<ProviderSettingsStore>(options_.defaults);
    folderAccess_ = std::make_shared<FolderAccessController>(
        options_.defaults, CompositionRoot::isAppSandboxed(), std::make_shared<QtFolderPicker>(),
        std::make_shared<QtFolderAccessAlertPresenter>(), options_.home);
    folderQueries_ = std::make_shared<FolderAccessControllerQueries>(folderAccess_);
    launchAtLogin_ = std::make_shared<LaunchAtLoginController>();
    StatusCloudSyncController::Options syncOptions;
    syncOptions.mainQueue = queue;
    cloudSync_ = StatusCloudSyncController::make(std::move(syncOptions));
    // Right after the sync controller, so no change of it goes unheard.
    cloudSyncChanges_ = CloudSyncChangeFanOut::attach(*cloudSync_);
    model_ =
        std::make_shared<StatusDashboardModel>(*queue, AgentStatusSnapshot{}, settings_, folderQueries_,
                                               loadClearedStaleBaselines(*options_.defaults), ProviderCatalog::all());

    connect(&statusItem_, &TrayStatusItem::clicked, this, [this](QPoint pointer, std::optional<QPoint> host) {
        std::optional<TrayActivationAnchor::Point> hostPosition;
        if (host) hostPosition = TrayActivationAnchor::Point{host->x(), host->y()};
        const auto anchor = anchor_.activated(hostPosition, {pointer.x(), pointer.y()});
        lastClick_ = QPoint(anchor.x, anchor.y);
        togglePopover(true);
    });

    // In a Wayland session the hot keys are the desktop portal's shortcuts,
    // never X grabs; elsewhere X key grabs, only on X. Without a grabber every
    // registration fails and says so.
    if (options_.hotkeyRoute == HotkeyRoute::desktopPortal) {
        keyGrabber_ = std::make_shared<PortalKeyGrabber>(
            QDBusConnection::sessionBus(), std::vector<PortalKeyGrabber::Slot>{
                                               {GlobalHotkeyMonitor::toggleHotkeyID, "toggle-dashboard",
                                                std::string(GeneralPaneContent::panelShortcutTitle)},
                                               {GlobalHotkeyMonitor::windowHotkeyID, "toggle-floating-window",
                                                std::string(GeneralPaneContent::windowShortcutTitle)},
                                           });
        GlobalHotkeyMonitor::setKeyGrabber(keyGrabber_);
    } else if (options_.keyGrabs) {
        keyGrabber_ = std::make_shared<X11KeyGrabber>(*queue);
        GlobalHotkeyMonitor::setKeyGrabber(keyGrabber_);
    }
    QPointer<TrayShell> self(this);
    popoverHotkey_ = std::make_shared<GlobalHotkeyMonitor>(GlobalHotkeyMonitor::toggleHotkeyID, [self] {
        if (!self) return;
        self->anchorWithoutActivation();
        self->togglePopover(false);
    });
    windowHotkey_ = std::make_shared<GlobalHotkeyMonitor>(GlobalHotkeyMonitor::windowHotkeyID, [self] {
        if (self) self->toggleFloatingWindow();
    });

    CodexRuntimeWatchConfiguration codexWatch(options_.environment, options_.home);
    StatusBarController::Dependencies deps;
    deps.mainQueue = queue;
    deps.service = CompositionRoot::makeStatusService(codexWatch.codexHome, codexWatch.sqliteHome, false,
                                                      CompositionRoot::providerTimeout, options_.home);
    deps.codexWatchConfiguration = codexWatch;
    deps.home = options_.home;
    deps.settings = settings_;
    deps.folderAccess = folderQueries_;
    deps.cloudSync = cloudSync_;
    deps.statusItem = std::make_shared<TrayStatusItemSurface>(statusItem_, settings_);
    deps.dashboard = std::make_shared<StatusDashboardModelSink>(model_);
    deps.popoverHotkey = std::make_shared<GlobalHotkeyMonitorRegistrar>(popoverHotkey_);
    deps.windowHotkey = std::make_shared<GlobalHotkeyMonitorRegistrar>(windowHotkey_);
    deps.fileWatcher = std::make_shared<FileChangeWatcher>();
    deps.runtimeLogFileWatcher = std::make_shared<FileChangeWatcher>();
    deps.sessionActivityFileWatcher = std::make_shared<FileChangeWatcher>();
    if (options_.notifications) {
        makeNotifier();
        deps.committed = [self](const AgentStatusSnapshot& snapshot) {
            if (self && self->notifier_) self->notifier_->snapshotCommitted(snapshot);
        };
    }
    controller_ = StatusBarController::make(std::move(deps));
    wireDashboardActions();

    if (options_.updater) {
        updaterObserver_ = options_.updater->addObserver([self] {
            if (self && self->dashboardView_)
                self->dashboardView_->setPendingUpdateVersion(self->options_.updater->pendingUpdateVersion());
        });
    }
    folderObserver_ = folderAccess_->addObserver([self] {
        if (self && self->dashboardView_) self->dashboardView_->scheduleApply();
    });
}

// The session jumper and the workers its calls run on (each blocks up to a
// few seconds on tmux or the X server), shared by the cards and the
// notifications.
void TrayShell::makeJumper() {
    if (jumper_) return;
    jumper_ = std::make_shared<SessionJumper>();
    jumpWorkers_ = std::make_unique<WorkerPool>(1, 2);
}

// The notifications' hooks: whether the user looks at a session asks the
// jumper on the notifier's worker thread; a click on a session's
// notification goes to it off the main thread, and opens the dashboard where
// it cannot (the click is not lost).
void TrayShell::makeNotifier() {
    QPointer<TrayShell> self(this);
    makeJumper();
    auto openDashboard = [self] {
        if (!self) return;
        self->anchorWithoutActivation();
        self->showPopover();
    };
    SessionNotifier::Hooks hooks;
    hooks.isInView = [jumper = jumper_](std::int64_t pid) { return pid > 0 && jumper->isInView(pid); };
    hooks.goToSession = [jumper = jumper_, workers = jumpWorkers_.get(),
                         queue = std::weak_ptr<QtMainQueue>(options_.mainQueue),
                         openDashboard](const AgentSession& session) {
        const int64_t pid = session.resourceUsage ? session.resourceUsage->pid : 0;
        if (pid <= 0) return openDashboard();
        workers->submit([jumper, queue, pid, openDashboard] {
            if (jumper->goTo(pid)) return;
            if (auto strong = queue.lock()) strong->post(openDashboard);
        });
    };
    hooks.openDashboard = openDashboard;
    notifier_ = new SessionNotifier(
        QDBusConnection::sessionBus(), std::move(hooks),
        [settings = settings_] {
            return SessionNotifier::Switches{settings->notifiesWhenWaiting(), settings->notifiesWhenFinished(),
                                             settings->playsNotificationSound()};
        },
        this);
}

TrayShell::~TrayShell() {
    if (options_.updater) options_.updater->removeObserver(updaterObserver_);
    folderAccess_->removeObserver(folderObserver_);
    model_->actions = {};
    controller_.reset();
    delete notifier_;
    popoverHotkey_.reset();
    windowHotkey_.reset();
    if (keyGrabber_) GlobalHotkeyMonitor::setKeyGrabber(nullptr);
    welcome_.reset();
    settingsWindow_.reset();
    floating_.reset();
    delete popover_;
}

// Every action holds the shell weakly: a late click after shutdown does nothing.
void TrayShell::wireDashboardActions() {
    QPointer<TrayShell> self(this);
    std::weak_ptr<StatusBarController> controller = controller_;
    model_->actions.onRefresh = [controller] {
        if (auto strong = controller.lock()) strong->requestManualRefresh();
    };
    model_->actions.onSignalHealthClear = [controller] {
        if (auto strong = controller.lock()) strong->clearSignalHealth();
    };
    model_->actions.onQuit = [] { QApplication::quit(); };
    model_->actions.onSettings = [self](std::optional<SettingsPane> pane) {
        if (!self) return;
        self->afterClosingPopover(settingsAfterPopover, [self, pane] {
            if (self) self->showSettings(pane);
        });
    };
    model_->actions.onRequestAccess = [self](const std::string& providerID) {
        if (!self) return;
        self->afterClosingPopover(accessAfterPopover, [self, providerID] {
            if (self) self->requestAccess(providerID);
        });
    };
    makeJumper();
    std::weak_ptr<QtMainQueue> queue = options_.mainQueue;
    model_->actions.onGoToSession = [jumper = jumper_, workers = jumpWorkers_.get()](int64_t pid) {
        workers->submit([jumper, pid] { jumper->goTo(pid); });
    };
    model_->actions.onCheckGoToSession = [jumper = jumper_, workers = jumpWorkers_.get(),
                                          queue](int64_t pid, std::function<void(SessionJumpCheck)> answer) {
        workers->submit([jumper, queue, pid, answer = std::move(answer)] {
            SessionJumpCheck check = jumper->check(pid);
            if (auto strong = queue.lock()) strong->post([answer, check] { answer(check); });
        });
    };
    model_->actions.onOpenGlanceWindow = [self] {
        if (!self) return;
        self->afterClosingPopover(floatingWindowAfterPopover, [self] {
            if (self) self->showFloatingWindow();
        });
    };
}

void TrayShell::afterClosingPopover(double delay, std::function<void()> action) {
    closePopover();
    options_.mainQueue->postAfter(delay, std::move(action));
}

// Asks for the provider's missing folders in order, stopping at the first refusal.
void TrayShell::requestAccess(const std::string& providerID) {
    for (auto folder : folderAccess_->missingFolders(providerID))
        if (!folderAccess_->requestAccess(folder)) break;
}

void TrayShell::togglePopover(bool byIconClick) {
    switch (popoverToggle_.toggle(isPopoverShown(), options_.mainQueue->now(), byIconClick)) {
    case PopoverToggle::Action::open:
        showPopover();
        break;
    case PopoverToggle::Action::close:
        closePopover();
        break;
    case PopoverToggle::Action::none:
        break;
    }
}

void TrayShell::closePopover() {
    if (isPopoverShown()) popover_->dismiss();
}

void TrayShell::makePopover() {
    popover_ = new PopoverWindow();
    connect(popover_, &PopoverWindow::closedItself, this,
            [this] { popoverToggle_.closedItself(options_.mainQueue->now()); });
    dashboardView_ = new StatusDashboardView(*model_);
    dashboardView_->onCheckForUpdates = [updater = options_.updater] {
        if (updater) updater->checkForUpdates();
    };
    if (options_.updater) dashboardView_->setPendingUpdateVersion(options_.updater->pendingUpdateVersion());
    auto* panel = new DashboardPanel(dashboardView_);
    // Over a compositor the corners show what lies behind; without one they are cut.
    const bool translucent = X11Desktop::isX11() && X11Desktop::hasCompositor();
    if (translucent) popover_->setAttribute(Qt::WA_TranslucentBackground);
    panel->setRoundedMask(!translucent);
    popover_->setContent(panel);
}

void TrayShell::showPopover() {
    if (isPopoverShown()) return;
    if (!popover_) makePopover();
    model_->setSnapshot(controller_->snapshot());
    placePopover();
    clearInitialFocus(popover_);
}

void TrayShell::placePopover() {
    const QRect icon = statusItem_.geometry();
    const QPoint anchorPoint = icon.isEmpty() ? lastClick_ : icon.center();
    QScreen* screen = QGuiApplication::screenAt(anchorPoint);
    if (!screen) screen = QGuiApplication::primaryScreen();
    dashboardView_->setHostScreen(screen);
    dashboardView_->apply();
    popover_->adjustSize();

    std::optional<PopoverPlacement::Rect> iconRect;
    if (!icon.isEmpty()) iconRect = PopoverPlacement::Rect{icon.x(), icon.y(), icon.width(), icon.height()};
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QRect whole = screen ? screen->geometry() : available;
    const auto bounds = PopoverPlacement::bounds({available.x(), available.y(), available.width(), available.height()},
                                                 {whole.x(), whole.y(), whole.width(), whole.height()},
                                                 popover_->width(), popover_->height());
    const auto origin = PopoverPlacement::origin(iconRect, {lastClick_.x(), lastClick_.y()}, popover_->width(),
                                                 popover_->height(), bounds);
    popover_->openAt(QPoint(origin.x, origin.y));
}

std::optional<QRect> TrayShell::trayIconAnchor() const {
    const QRect icon = statusItem_.geometry();
    if (icon.isEmpty()) return std::nullopt;
    return icon;
}

void TrayShell::anchorWithoutActivation() {
    const QPoint pointer = QCursor::pos();
    const auto anchor = anchor_.withoutActivation({pointer.x(), pointer.y()});
    lastClick_ = QPoint(anchor.x, anchor.y);
}

bool TrayShell::isFloatingWindowShown() const { return floating_ && floating_->isShown(); }

void TrayShell::toggleFloatingWindow() {
    if (isFloatingWindowShown()) {
        floating_->hide();
        return;
    }
    showFloatingWindow();
}

void TrayShell::showFloatingWindow() {
    if (isFloatingWindowShown()) return;
    if (!floating_) floating_ = std::make_unique<FloatingStatusWindowController>(*model_, options_.defaults);
    model_->setSnapshot(controller_->snapshot());
    floating_->show(trayIconAnchor());
}

void TrayShell::showSettings(std::optional<SettingsPane> pane) {
    if (!settingsWindow_) {
        SettingsWindowController::Collaborators collaborators;
        collaborators.settings = settings_;
        collaborators.dashboardModel = model_;
        collaborators.folderAccess = folderAccess_;
        collaborators.launchAtLogin = launchAtLogin_;
        collaborators.cloudSync = cloudSync_;
        collaborators.cloudSyncChanges = cloudSyncChanges_;
        settingsWindow_ = std::make_unique<SettingsWindowController>(std::move(collaborators));
    }
    settingsWindow_->show(pane);
}

void TrayShell::showWelcome() {
    if (!welcome_) {
        std::weak_ptr<StatusBarController> controller = controller_;
        welcome_ = std::make_unique<WelcomeWindowController>(folderAccess_, launchAtLogin_, settings_, [controller] {
            if (auto strong = controller.lock()) strong->welcomeFinished();
        });
    }
    welcome_->show();
}

void TrayShell::showWelcomeIfNeeded() {
    const bool shown = settings_->defaults()->boolValue(std::string(WelcomeContent::shownKey)).value_or(false);
    if (LaunchPlan::shouldShowWelcome(shown, folderAccess_->hasMissingFolderAccess())) showWelcome();
}

void TrayShell::runLaunchAction(const LaunchPlan::LaunchAction& action) {
    using Kind = LaunchPlan::LaunchAction::Kind;
    switch (action.kind) {
    case Kind::showSettings:
        showSettings(action.settingsPane ? settingsPaneFromString(*action.settingsPane) : std::nullopt);
        break;
    case Kind::showPopover:
        anchorWithoutActivation();
        showPopover();
        break;
    case Kind::showGlance:
        showFloatingWindow();
        break;
    case Kind::showWelcome:
        showWelcome();
        break;
    case Kind::checkForUpdates:
        if (options_.updater) options_.updater->checkForUpdates();
        break;
    case Kind::showWelcomeIfNeeded:
        showWelcomeIfNeeded();
        break;
    }
}

} // namespace brindleaf
