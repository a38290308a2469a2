#include "app/shell/TrayApplication.hpp"

#include "app/CompositionRoot.hpp"
#include "app/LaunchPlan.hpp"
#include "app/shell/DesktopSessionMonitor.hpp"
#include "app/shell/SessionEndSignals.hpp"
#include "app/shell/SingleInstance.hpp"
#include "app/shell/TrayShell.hpp"
#include "core/UserHomeDirectory.hpp"
#include "platform/Logger.hpp"
#include "platform/UserDefaults.hpp"
#include "presentation/QtMainQueue.hpp"
#include "services/BuildInfo.hpp"
#include "services/SoftwareUpdater.hpp"
#include "windows/UpdateAlert.hpp"
#include "windows/UpdateUserDriver.hpp"

#include <QApplication>
#include <QIcon>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace brindleaf::TrayApplication {

namespace {

// Whether an X display named by the environment answers.
bool xDisplayAnswers() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool ok = connection && xcb_connection_has_error(connection) == 0;
    if (connection) xcb_disconnect(connection);
    return ok;
}

// How long a second start waits for the running copy to take its flags.
constexpr std::chrono::milliseconds handoffBound{5000};

} // namespace

int run(int argc, char** argv) {
    const auto environment = CompositionRoot::processEnvironment();
    const auto display = LaunchPlan::chooseDisplay(environment, xDisplayAnswers);
    if (display.forcedPlatform) ::setenv("QT_QPA_PLATFORM", display.forcedPlatform->c_str(), 1);
    if (!display.hasDisplay) {
        std::fputs("brindleaf: no display found; the tray application needs a graphical session "
                   "(brindleaf --dump-status prints the status without one)\n",
                   stderr);
        return 1;
    }

    const std::vector<std::string> arguments(argv, argv + argc);
    SingleInstance instance;
    switch (instance.start(LaunchPlan::handoffMessage(LaunchPlan::launchFlags(arguments)), handoffBound)) {
    case SingleInstance::Role::first:
        break;
    case SingleInstance::Role::handedOver:
        return 0;
    case SingleInstance::Role::noAnswer:
        std::fputs("brindleaf: already running for this user, but the running copy did not answer within 5 seconds\n",
                   stderr);
        return 1;
    case SingleInstance::Role::noFolder:
        std::fputs("brindleaf: not started, as no folder of this user's own could hold the instance lock\n", stderr);
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("brindleaf"));
    // Qt adds the display name to the window titles (the task bar shows
    // "General — Brindleaf"); the tray's own windows keep their titles as set.
    QApplication::setApplicationDisplayName(QStringLiteral("Brindleaf"));
    QApplication::setDesktopFileName(QStringLiteral("com.quorvale.Brindleaf"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/brindleaf.svg")));
    // A tray application: closing its windows does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    // On a Wayland compositor the compositor places every window (the
    // dashboard opens where it puts it, not at the icon) and there are no X
    // key grabs: said once here, never as a failure.
    std::string launched = "app.launch platform=" + QApplication::platformName().toStdString();
    if (QApplication::platformName().startsWith(QLatin1String("wayland")))
        launched += " windowPlacement=compositor x11HotKeys=off";
    Logger("App").info(launched);

    auto mainQueue = std::make_shared<QtMainQueue>();
    SoftwareUpdater::Options updaterOptions;
    updaterOptions.mainQueue = mainQueue;
    updaterOptions.userDriver = std::make_shared<UpdateUserDriver>(std::string(BuildInfo::version()));
    updaterOptions.alert = std::make_shared<UpdateAlert>();
    auto updater = SoftwareUpdater::make(std::move(updaterOptions));
    SoftwareUpdater::setShared(updater);

    TrayShell::Options options;
    options.mainQueue = mainQueue;
    options.defaults = UserDefaults::standard();
    options.environment = environment;
    options.home = UserHomeDirectory::path();
    options.keyGrabs = QGuiApplication::platformName() == QLatin1String("xcb");
    const auto variable = [&environment](const char* name) -> std::optional<std::string_view> {
        auto it = environment.find(name);
        if (it == environment.end()) return std::nullopt;
        return it->second;
    };
    options.hotkeyRoute = chooseHotkeyRoute(variable("XDG_SESSION_TYPE"), variable("WAYLAND_DISPLAY"));
    options.watchTrayHosts = true;
    options.notifications = true;
    options.updater = updater;
    // SIGTERM and SIGHUP end the event loop as Quit does; kept past the Quit write below.
    SessionEndSignals endSignals;
    std::optional<TrayShell> tray(std::in_place, std::move(options));
    TrayShell& shell = *tray;
    auto& statusItem = shell.statusItem();
    // A changed animation state shows at the next render.
    std::optional<DesktopSessionMonitor> sessionMonitor(
        std::in_place,
        DesktopSessionMonitor::Handlers{
            [&statusItem](bool suspended) { statusItem.setAnimationSuspended(suspended); },
            [&statusItem](bool reduce) { statusItem.setReduceMotion(reduce); },
            [&statusItem](std::optional<Appearance> scheme) { statusItem.setDesktopColourScheme(scheme); },
        });
    updater->start();

    // Before any window opens; the delayed action below still runs.
    if (LaunchPlan::wantsSampleData(arguments)) shell.settings().setShowingSampleData(true);
    const auto action = LaunchPlan::chooseAction(arguments);
    mainQueue->postAfter(action.delaySeconds, [action, &shell] { shell.runLaunchAction(action); });
    // Later starts hand their flags over; they are acted on at once.
    instance.listen([&shell, mainQueue](std::vector<std::string> flags) {
        std::string named;
        for (const auto& flag : flags) named += (named.empty() ? "" : ",") + flag;
        Logger("App").info("app.launch.handed flags=" + named);
        if (LaunchPlan::wantsSampleData(flags)) shell.settings().setShowingSampleData(true);
        const auto handed = LaunchPlan::chooseHandedAction(flags);
        mainQueue->post([handed, &shell] { shell.runLaunchAction(handed); });
    });

    const int exitCode = QApplication::exec();
    // Quit (or SIGTERM, SIGHUP): the icon and the windows go at once; then a
    // setting still unsaved (the lock held elsewhere, a full disk) is written
    // or named in the journal as dropped, waiting at most 2 s. Nothing else
    // writes it: the standard suite is never destroyed.
    sessionMonitor.reset();
    tray.reset();
    UserDefaults::standard()->saveUnsavedChangesBeforeExit();
    SoftwareUpdater::setShared(nullptr);
    return exitCode;
}

} // namespace brindleaf::TrayApplication
