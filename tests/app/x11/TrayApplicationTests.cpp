// The built tray application on the X server of the rig.
#include "tests/app/x11/TrayRig.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
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

TEST(TrayApplicationTests, SecondCopyExitsWithOneLine) {
    TrayRig rig;
    auto& first = rig.startApp();
    // The first copy holds the lock once its window exists.
    ASSERT_TRUE(waitUntil(
        [&] { return TrayRig::run("xdotool search --name '^Qt Selection Owner for brindleaf$'").size() > 0; }));
    auto second = rig.runApp({});
    EXPECT_EQ(second.exitStatus, 0);
    EXPECT_EQ(second.standardError, "brindleaf: already running for this user\n");
    EXPECT_TRUE(TrayRig::isRunning(first.pid()));
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

// The rig with the tray host and the application's icon in it.
struct RunningApp {
    TrayRig rig;
    QRect icon;
    explicit RunningApp(const std::vector<std::string>& arguments = {}) {
        rig.startTrayHost();
        rig.startApp(arguments);
        if (waitUntil([&] { return rig.trayIconGeometry().has_value(); })) icon = *rig.trayIconGeometry();
    }
    bool popoverShown() const { return rig.isWindowShown(popoverTitle); }
};

} // namespace

TEST(TrayApplicationTests, LeftClickOpensThePopoverAndASecondClosesIt) {
    RunningApp app;
    ASSERT_FALSE(app.icon.isEmpty());
    TrayRig::click(app.icon, 1);
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    TrayRig::click(app.icon, 1);
    EXPECT_TRUE(waitUntil([&] { return !app.popoverShown(); }));
}

TEST(TrayApplicationTests, RightClickTogglesThePopover) {
    RunningApp app;
    ASSERT_FALSE(app.icon.isEmpty());
    TrayRig::click(app.icon, 3);
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    // Two right clicks within the double-click time are one double click, which
    // Qt's XEmbed tray reports for the left button only: click as a user would.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    TrayRig::click(app.icon, 3);
    EXPECT_TRUE(waitUntil([&] { return !app.popoverShown(); }));
}

TEST(TrayApplicationTests, HotKeyOneClosesAnOpenPopover) {
    RunningApp app({"--show-popover"});
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    TrayRig::key("ctrl+alt+super+s");
    EXPECT_TRUE(waitUntil([&] { return !app.popoverShown(); }));
    TrayRig::key("ctrl+alt+super+s");
    EXPECT_TRUE(waitUntil([&] { return app.popoverShown(); }));
}

TEST(TrayApplicationTests, ClosingTheLastWindowDoesNotQuit) {
    RunningApp app({"--show-popover"});
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    TrayRig::key("Escape");
    ASSERT_TRUE(waitUntil([&] { return !app.popoverShown(); }));
    // Still there: the hot key opens the popup again.
    TrayRig::key("ctrl+alt+super+s");
    EXPECT_TRUE(waitUntil([&] { return app.popoverShown(); }));
}
