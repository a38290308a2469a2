// The built tray application on the X server of the rig.
#include "platform/DefaultsJSON.hpp"
#include "tests/app/x11/TrayRig.hpp"
#include "tests/support/LockHolder.hpp"
#include "tests/support/WindowManagerProbe.hpp"

#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

using namespace brindleaf::testing;
using ::testing::HasSubstr;

TEST(TrayApplicationTests, TrayIconAppearsInTheTrayHost) {
    TrayRig rig;
    rig.startTrayHost();
    auto& app = rig.startApp();
    ASSERT_TRUE(waitUntil([&] { return rig.trayIconGeometry().has_value(); }));
    EXPECT_GT(rig.trayIconGeometry()->width(), 0);
    EXPECT_TRUE(TrayRig::isRunning(app.pid()));
}

TEST(TrayApplicationTests, WithoutTrayHostKeepsRunningAndEmbedsWhenOneAppears) {
    TrayRig rig;
    auto& app = rig.startApp();
    ASSERT_TRUE(waitUntil(
        [&] { return TrayRig::run("xdotool search --name '^Qt Selection Owner for brindleaf$'").size() > 0; }));
    EXPECT_TRUE(TrayRig::isRunning(app.pid()));
    rig.startTrayHost();
    EXPECT_TRUE(waitUntil([&] { return rig.trayIconGeometry().has_value(); }));
    EXPECT_TRUE(TrayRig::isRunning(app.pid()));
}

TEST(TrayApplicationTests, WithoutDisplaySaysSoAndFails) {
    const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    ::unsetenv("DISPLAY");
    TrayRig rig;
    auto run = rig.runApp({});
    ::setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.standardError, HasSubstr("no display"));
}

namespace {

const std::string popoverTitle = "Brindleaf Dashboard";
const std::string floatingTitle = "Brindleaf";
const std::string welcomeTitle = "Welcome to Brindleaf";
const std::string popoverHotKey = "ctrl+alt+super+s";
// The floating window's default shortcut: control, option and command with A.
const std::string windowHotKey = "ctrl+alt+super+a";

// The rig with the tray host and the application's icon in it.
struct RunningApp {
    TrayRig rig;
    QRect icon;
    pid_t pid = -1;
    explicit RunningApp(const std::vector<std::string>& arguments = {},
                        TrayRig::Welcome welcome = TrayRig::Welcome::alreadyShown)
        : rig(welcome) {
        rig.startTrayHost();
        pid = rig.startApp(arguments).pid();
        icon = rig.settledTrayIconGeometry().value_or(QRect());
    }
    bool popoverShown() const { return rig.isWindowShown(popoverTitle); }
};

} // namespace

TEST(TrayApplicationTests, LeftClickOpensThePopoverAndASecondClosesIt) {
    RunningApp app;
    ASSERT_FALSE(app.icon.isEmpty());
    TrayRig::click(app.icon, 1);
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    // Under the icon (in the tray host at the screen's top right), on the screen.
    const auto popover = app.rig.windowGeometry(popoverTitle);
    ASSERT_TRUE(popover.has_value());
    EXPECT_GT(popover->top(), app.icon.bottom());
    EXPECT_LE(popover->left(), app.icon.center().x());
    EXPECT_GE(popover->right(), app.icon.center().x());
    EXPECT_TRUE(TrayRig::screenGeometry().contains(*popover)) << popover->x() << "," << popover->y();
    TrayRig::click(app.icon, 1);
    EXPECT_TRUE(waitUntil([&] { return !app.popoverShown(); }));
}

TEST(TrayApplicationTests, RightClickTogglesThePopover) {
    RunningApp app;
    ASSERT_FALSE(app.icon.isEmpty());
    TrayRig::click(app.icon, 3);
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    // Two right clicks within the double-click time would be one double click,
    // which Qt's XEmbed tray reports for the left button only.
    TrayRig::clickAgain(app.icon, 3);
    EXPECT_TRUE(waitUntil([&] { return !app.popoverShown(); }));
}

TEST(TrayApplicationTests, HotKeyOneClosesAnOpenPopover) {
    RunningApp app({"--show-popover"});
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    TrayRig::key(popoverHotKey);
    EXPECT_TRUE(waitUntil([&] { return !app.popoverShown(); }));
    TrayRig::key(popoverHotKey);
    EXPECT_TRUE(waitUntil([&] { return app.popoverShown(); }));
}

// Opened by the hot key, the dashboard has the keyboard: Shift+Tab goes
// round to its last control, Quit, and Return presses it.
TEST(TrayApplicationTests, HotKeyOpensTheDashboardWithTheKeyboardInIt) {
    RunningApp app;
    ASSERT_FALSE(app.icon.isEmpty());
    TrayRig::key(popoverHotKey);
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    ASSERT_TRUE(waitUntil([&] {
        return TrayRig::run("xdotool getactivewindow getwindowname 2>/dev/null").starts_with(popoverTitle);
    })) << "the window manager never made the dashboard the active window: "
        << app.rig.describeWindow(popoverTitle);
    TrayRig::key("shift+Tab");
    TrayRig::key("Return");
    EXPECT_TRUE(waitUntil([&] { return !TrayRig::isRunning(app.pid); })) << "Return on Quit did not quit";
}

TEST(TrayApplicationTests, ClosingTheLastWindowDoesNotQuit) {
    RunningApp app({"--show-popover"});
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    TrayRig::key("Escape");
    ASSERT_TRUE(waitUntil([&] { return !app.popoverShown(); }));
    // Still there: the hot key opens the popup again.
    TrayRig::key(popoverHotKey);
    EXPECT_TRUE(waitUntil([&] { return app.popoverShown(); }));
}

TEST(TrayApplicationTests, HotKeyTwoTogglesTheFloatingWindow) {
    RunningApp app;
    ASSERT_FALSE(app.icon.isEmpty());
    TrayRig::key(windowHotKey);
    ASSERT_TRUE(waitUntil([&] { return app.rig.isWindowShown(floatingTitle); }));
    TrayRig::key(windowHotKey);
    EXPECT_TRUE(waitUntil([&] { return !app.rig.isWindowShown(floatingTitle); }));
}

TEST(TrayApplicationTests, SettingsFlagOpensItsTabAndClosingSettingsDoesNotQuit) {
    RunningApp app({"--show-settings=agents"});
    ASSERT_TRUE(waitUntil([&] { return app.rig.isWindowShown("Agents"); }));
    ASSERT_TRUE(app.rig.closeWindow("Agents"));
    ASSERT_TRUE(waitUntil([&] { return !app.rig.isWindowShown("Agents"); }))
        << "still shown after the close: " << app.rig.describeWindow("Agents");
    EXPECT_TRUE(TrayRig::isRunning(app.pid));
    TrayRig::key(popoverHotKey);
    EXPECT_TRUE(waitUntil([&] { return app.popoverShown(); }));
}

TEST(TrayApplicationTests, PopoverAndGlanceFlagsTogetherOpenOnlyThePopover) {
    RunningApp app({"--show-popover", "--show-glance"});
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    EXPECT_FALSE(app.rig.isWindowShown(floatingTitle));
}

TEST(TrayApplicationTests, WelcomeOpensOnTheFirstRunOnly) {
    RunningApp app({}, TrayRig::Welcome::due);
    ASSERT_TRUE(waitUntil([&] { return app.rig.isWindowShown(welcomeTitle); }));
    EXPECT_EQ(app.rig.storedBool("welcomeShown.v1"), std::nullopt);
    ASSERT_TRUE(app.rig.closeWindow(welcomeTitle));
    ASSERT_TRUE(waitUntil([&] { return app.rig.storedBool("welcomeShown.v1") == true; }))
        << "not stored after the close: " << app.rig.describeWindow(welcomeTitle);

    app.rig.stopApps();
    ASSERT_TRUE(waitUntil([&] { return !app.rig.trayIconGeometry(); }));
    app.rig.startApp();
    ASSERT_TRUE(waitUntil([&] { return app.rig.trayIconGeometry().has_value(); }));
    const auto iconSeen = std::chrono::steady_clock::now();
    // The welcome's half-second timer starts before the main loop runs, and
    // the icon shows only once it does: half a second after the icon was
    // seen (on the clock all processes share) the timer is due. The two hot
    // key presses are handled after that, so a due welcome is shown before
    // the popup has opened and closed again.
    std::this_thread::sleep_until(iconSeen + std::chrono::milliseconds(500));
    TrayRig::key(popoverHotKey);
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    TrayRig::key(popoverHotKey);
    ASSERT_TRUE(waitUntil([&] { return !app.popoverShown(); }));
    EXPECT_FALSE(app.rig.isWindowShown(welcomeTitle));
}

// Quit, and the end of a desktop session (SIGTERM, SIGHUP): the icon goes at
// once, then the program waits for the settings lock another process holds
// (it still runs after the icon is gone) and writes the setting kept unsaved
// once the holder lets go; held past the 2 s bound, it ends within it and the
// setting is dropped. Nothing but that end writes it: without it the program
// is gone before the holder lets go.
TEST(TrayApplicationTests, QuitAndTheSessionsEndWriteASettingTheLockHeldUp) {
    struct Case {
        const char* name;
        int signal; // 0: Return on the dashboard's Quit
        bool letGo;
    } cases[] = {{"Quit", 0, true}, {"SIGTERM", SIGTERM, true}, {"SIGHUP held past the bound", SIGHUP, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TrayRig rig;
        const auto storedKeys = [&rig] {
            std::ifstream file(rig.settingsFile());
            const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            std::vector<std::string> keys;
            if (const auto document = brindleaf::DefaultsJSON::read(text))
                for (const auto& [key, value] : document->values) keys.push_back(key);
            return keys;
        };
        ASSERT_EQ(storedKeys(), std::vector<std::string>{"welcomeShown.v1"}) << "the rig's home holds other settings";
        LockHolder holder(rig.settingsFile().parent_path() / ".defaults.lock");
        ASSERT_TRUE(holder.waitUntilHeld()) << "the other process never took the lock";
        rig.startTrayHost();
        const pid_t pid = rig.startApp().pid();
        ASSERT_TRUE(rig.settledTrayIconGeometry()) << "the icon never showed while the settings lock was held";
        if (c.signal == 0) {
            TrayRig::key(popoverHotKey);
            ASSERT_TRUE(waitUntil([&] {
                return TrayRig::run("xdotool getactivewindow getwindowname 2>/dev/null").starts_with(popoverTitle);
            })) << "the window manager never made the dashboard the active window: "
                << rig.describeWindow(popoverTitle);
        }
        ASSERT_TRUE(holder.holds()) << "the holder gave up by itself";
        EXPECT_EQ(storedKeys(), std::vector<std::string>{"welcomeShown.v1"})
            << "written while another process held the lock";

        if (c.signal == 0) {
            TrayRig::key("shift+Tab");
            TrayRig::key("Return");
        } else {
            ASSERT_EQ(::kill(pid, c.signal), 0);
        }
        const auto asked = std::chrono::steady_clock::now();
        ASSERT_TRUE(waitUntil([&] { return !rig.trayIconGeometry().has_value(); })) << "the icon stayed";
        if (c.letGo) {
            ASSERT_TRUE(TrayRig::isRunning(pid)) << "the program ended without waiting for the settings lock";
            ASSERT_TRUE(holder.release()) << "the other process did not let go";
            ASSERT_TRUE(waitUntil([&] { return !TrayRig::isRunning(pid); })) << "the program did not end";
            EXPECT_THAT(storedKeys(), ::testing::Contains("enabledProviderIDs"))
                << "the setting kept unsaved was lost at the end";
        } else {
            // A condition with a deadline: the 2 s bound and a second of slack.
            const auto deadline = asked + std::chrono::seconds(3);
            while (TrayRig::isRunning(pid) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_FALSE(TrayRig::isRunning(pid)) << "the end did not keep to its 2 s bound";
            ASSERT_TRUE(holder.holds()) << "the holder gave up by itself";
            EXPECT_EQ(storedKeys(), std::vector<std::string>{"welcomeShown.v1"});
            ASSERT_TRUE(holder.release()) << "the other process did not let go";
        }
    }
}

namespace {

// Puts the window manager's work area back as it was when made.
struct WorkAreaRestorer {
    std::optional<QRect> saved = TrayRig::workArea();
    ~WorkAreaRestorer() {
        if (saved) TrayRig::setWorkArea(*saved);
    }
};

} // namespace

// The popup opens under the icon every time: across restarts of the tray
// host, and while the window manager publishes a work area that cannot hold
// it (none at all, as two panels that each reserve half the screen leave, or
// one smaller than the popup).
TEST(TrayApplicationTests, PopupOpensUnderTheIconEveryTime) {
    WorkAreaRestorer restorer;
    RunningApp app;
    ASSERT_FALSE(app.icon.isEmpty());
    const QRect screen = TrayRig::screenGeometry();
    const std::optional<QRect> workAreas[] = {std::nullopt, QRect(0, screen.height() / 2, screen.width(), 0),
                                              QRect(0, 0, 200, 100)};
    std::optional<QRect> first;
    int opening = 0;
    for (const auto& workArea : workAreas) {
        if (opening > 0) {
            app.rig.restartTrayHost();
            // The icon is embedded again, where the host lays it out.
            ASSERT_TRUE(waitUntil([&] { return app.rig.trayIconGeometry() == app.icon; }));
        }
        if (workArea) TrayRig::setWorkArea(*workArea);
        for (int i = 0; i < 8; ++i, ++opening) {
            TrayRig::click(app.icon, 1);
            ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); })) << opening;
            const auto popover = app.rig.windowGeometry(popoverTitle);
            ASSERT_TRUE(popover.has_value()) << opening;
            EXPECT_GT(popover->top(), app.icon.bottom()) << opening << ": " << popover->x() << "," << popover->y();
            EXPECT_LE(popover->left(), app.icon.center().x()) << opening;
            EXPECT_GE(popover->right(), app.icon.center().x()) << opening;
            EXPECT_TRUE(screen.contains(*popover)) << opening;
            // Its place holds (its height follows the available area).
            if (!first) first = popover;
            EXPECT_EQ(popover->topLeft(), first->topLeft()) << opening << ": " << popover->x() << "," << popover->y();
            // The hot key closes it without a click that could count as closing it.
            TrayRig::key(popoverHotKey);
            ASSERT_TRUE(waitUntil([&] { return !app.popoverShown(); })) << opening;
        }
    }
}

namespace {

// A shown window of the application as the window manager has it once it
// manages it: its type and states read back from the X server.
struct ManagedWindow {
    std::uint32_t id = 0;
    std::vector<std::string> types;
    std::vector<std::string> states;
    std::string name; // _NET_WM_NAME
    bool hasState(const std::string& state) const {
        return std::find(states.begin(), states.end(), state) != states.end();
    }
};

// Waits until the window with this title is shown and managed and, when
// `untilState` is given, holds that state (the window manager writes the
// states it applies back to the window).
::testing::AssertionResult managedWindow(const TrayRig& rig, const std::string& title, ManagedWindow& window,
                                         const std::string& untilState = {}) {
    WindowManagerProbe probe;
    const bool settled = waitUntil([&] {
        const auto id = rig.shownWindow(title);
        if (!id || !probe.manages(*id)) return false;
        window = {*id, probe.atomNames(*id, "_NET_WM_WINDOW_TYPE"), probe.atomNames(*id, "_NET_WM_STATE"),
                  probe.text(*id, "_NET_WM_NAME")};
        return untilState.empty() || window.hasState(untilState);
    });
    if (settled) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << title << "\" not shown and managed"
                                         << (untilState.empty() ? "" : " with " + untilState) << ": "
                                         << rig.describeWindow(title);
}

} // namespace

// The dashboard and the floating window belong to the tray: the window
// manager keeps them out of the task list and the pager, and above other
// windows, each time they open (it clears a window's states when it is
// hidden). Their titles name the product once.
TEST(TrayApplicationTests, DashboardAndFloatingWindowStayOutOfTheTaskList) {
    RunningApp app({"--show-popover"});
    for (int opening = 0; opening < 2; ++opening) {
        ManagedWindow popover;
        ASSERT_TRUE(managedWindow(app.rig, popoverTitle, popover, "_NET_WM_STATE_SKIP_TASKBAR")) << opening;
        EXPECT_TRUE(popover.hasState("_NET_WM_STATE_SKIP_PAGER")) << opening;
        EXPECT_TRUE(popover.hasState("_NET_WM_STATE_ABOVE")) << opening;
        ASSERT_FALSE(popover.types.empty());
        EXPECT_EQ(popover.types.front(), "_NET_WM_WINDOW_TYPE_UTILITY");
        EXPECT_EQ(popover.name, popoverTitle);
        TrayRig::key(popoverHotKey);
        ASSERT_TRUE(waitUntil([&] { return !app.popoverShown(); })) << opening;
        if (opening == 0) TrayRig::key(popoverHotKey);
    }
    TrayRig::key(windowHotKey);
    ManagedWindow floating;
    ASSERT_TRUE(managedWindow(app.rig, floatingTitle, floating, "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_TRUE(floating.hasState("_NET_WM_STATE_SKIP_PAGER"));
    EXPECT_TRUE(floating.hasState("_NET_WM_STATE_ABOVE"));
    ASSERT_FALSE(floating.types.empty());
    EXPECT_EQ(floating.types.front(), "_NET_WM_WINDOW_TYPE_UTILITY");
    EXPECT_EQ(floating.name, floatingTitle);
}

// The settings and welcome windows are ordinary windows, in the task list
// under their titles with the product's name once.
TEST(TrayApplicationTests, SettingsAndWelcomeAreOrdinaryWindows) {
    {
        RunningApp app({"--show-settings=general"});
        ManagedWindow settings;
        ASSERT_TRUE(managedWindow(app.rig, "General", settings));
        EXPECT_FALSE(settings.hasState("_NET_WM_STATE_SKIP_TASKBAR"));
        EXPECT_FALSE(settings.hasState("_NET_WM_STATE_SKIP_PAGER"));
        EXPECT_TRUE(settings.types.empty() || settings.types.front() == "_NET_WM_WINDOW_TYPE_NORMAL")
            << ::testing::PrintToString(settings.types);
        EXPECT_EQ(settings.name, "General \u2014 Brindleaf");
    }
    RunningApp app({}, TrayRig::Welcome::due);
    ManagedWindow welcome;
    ASSERT_TRUE(managedWindow(app.rig, welcomeTitle, welcome));
    EXPECT_FALSE(welcome.hasState("_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_EQ(welcome.name, welcomeTitle);
}
