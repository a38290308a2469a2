#include "app/shell/TrayApplication.hpp"

#include "app/CodexRuntimeWatchConfiguration.hpp"
#include "app/CompositionRoot.hpp"
#include "app/LaunchPlan.hpp"
#include "app/shell/DesktopSessionMonitor.hpp"
#include "app/shell/SingleInstance.hpp"
#include "app/shell/TrayShell.hpp"
#include "core/Date.hpp"
#include "core/UserHomeDirectory.hpp"
#include "platform/Logger.hpp"
#include "platform/UserDefaults.hpp"
#include "presentation/QtMainQueue.hpp"
#include "services/BuildInfo.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "services/SoftwareUpdater.hpp"
#include "windows/UpdateAlert.hpp"
#include "windows/UpdateUserDriver.hpp"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include <xcb/xcb.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace brindleaf::TrayApplication {

namespace {

// Loads a snapshot every 1.5 s off the main thread and hands it to the icon.
class SnapshotPoller {
public:
    explicit SnapshotPoller(TrayShell* item) : item_(item) {
        thread_ = std::thread([this] { loop(); });
    }
    ~SnapshotPoller() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void loop() {
        CodexRuntimeWatchConfiguration configuration(CompositionRoot::processEnvironment(), UserHomeDirectory::path());
        auto service = CompositionRoot::makeStatusService(configuration.codexHome, configuration.sqliteHome, false,
                                                          CompositionRoot::providerTimeout);
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            lock.unlock();
            auto snapshot = service->snapshot(currentDate(), CompositionRoot::enabledStatusProviders());
            QMetaObject::invokeMethod(
                item_, [item = item_, snapshot = std::move(snapshot)] { item->render(snapshot); },
                Qt::QueuedConnection);
            lock.lock();
            wake_.wait_for(lock, std::chrono::milliseconds(1500), [this] { return stopping_; });
        }
    }

    TrayShell* item_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

// Whether an X display named by the environment answers.
bool xDisplayAnswers() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool ok = connection && xcb_connection_has_error(connection) == 0;
    if (connection) xcb_disconnect(connection);
    return ok;
}

} // namespace

int run(int argc, char** argv) {
    const auto environment = CompositionRoot::processEnvironment();
    const auto display = LaunchPlan::chooseDisplay(environment);
    if (display.forcedPlatform) ::setenv("QT_QPA_PLATFORM", display.forcedPlatform->c_str(), 1);
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    const bool onX = platform == QLatin1String("xcb") ||
                     (platform.isEmpty() && environment.count("DISPLAY") && !environment.count("WAYLAND_DISPLAY"));
    if (!display.hasDisplay || (onX && !xDisplayAnswers())) {
        std::fputs("brindleaf: no display found; the tray application needs a graphical session "
                   "(brindleaf --dump-status prints the status without one)\n",
                   stderr);
        return 1;
    }

    SingleInstance instance;
    if (!instance.isFirst()) {
        std::fputs("brindleaf: already running for this user\n", stderr);
        return 0;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("brindleaf"));
    QApplication::setApplicationDisplayName(QStringLiteral("Brindleaf"));
    QApplication::setDesktopFileName(QStringLiteral("com.quorvale.Brindleaf"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/brindleaf.svg")));
    // A tray application: closing its windows does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    Logger("App").info("app.launch platform=" + QApplication::platformName().toStdString());

    auto mainQueue = std::make_shared<QtMainQueue>();
    ProviderSettingsStore settings(UserDefaults::standard());
    TrayShell shell(*mainQueue, settings);
    auto& statusItem = shell.statusItem();
    shell.render(AgentStatusSnapshot{});
    SnapshotPoller poller(&shell);
    // A changed animation state shows at the next render.
    DesktopSessionMonitor sessionMonitor({
        [&statusItem](bool suspended) { statusItem.setAnimationSuspended(suspended); },
        [&statusItem](bool reduce) { statusItem.setReduceMotion(reduce); },
    });

    SoftwareUpdater::Options updaterOptions;
    updaterOptions.mainQueue = mainQueue;
    updaterOptions.userDriver = std::make_shared<UpdateUserDriver>(std::string(BuildInfo::version()));
    updaterOptions.alert = std::make_shared<UpdateAlert>();
    auto updater = SoftwareUpdater::make(std::move(updaterOptions));
    SoftwareUpdater::setShared(updater);
    updater->start();

    const std::vector<std::string> arguments(argv, argv + argc);
    // Before any window opens; the delayed action below still runs.
    if (LaunchPlan::wantsSampleData(arguments)) settings.setShowingSampleData(true);
    const auto action = LaunchPlan::chooseAction(arguments);
    mainQueue->postAfter(action.delaySeconds, [action, weakUpdater = std::weak_ptr(updater), &shell] {
        using Kind = LaunchPlan::LaunchAction::Kind;
        switch (action.kind) {
        case Kind::checkForUpdates:
            if (auto updater = weakUpdater.lock()) updater->checkForUpdates();
            break;
        case Kind::showPopover:
            shell.showPopover();
            break;
        case Kind::showSettings:
        case Kind::showGlance:
        case Kind::showWelcome:
        case Kind::showWelcomeIfNeeded:
            break;
        }
    });

    const int exitCode = QApplication::exec();
    SoftwareUpdater::setShared(nullptr);
    return exitCode;
}

} // namespace brindleaf::TrayApplication
