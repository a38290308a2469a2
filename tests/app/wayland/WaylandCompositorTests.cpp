// The built tray application on a real Wayland compositor (headless weston
// with XWayland), started as a desktop starts it: with both displays it runs
// on XWayland; with QT_QPA_PLATFORM=wayland it runs on the compositor itself.
#include "tests/app/wayland/HeadlessWeston.hpp"
#include "tests/app/wayland/WaylandProtocolLog.hpp"
#include "tests/app/x11/TrayRig.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/ProgramRun.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>

extern char** environ;

using namespace brindleaf::testing;

namespace {

// A desktop session on the compositor: the rig's home and runtime folder
// (weston's socket beside the program's instance folder), a session bus of
// its own, WAYLAND_DISPLAY and DISPLAY both set.
struct WaylandSession {
    TrayRig rig;
    PrivateSessionBus bus;
    HeadlessWeston weston{rig.root() / "run", rig.root() / "weston"};
    std::vector<std::unique_ptr<ChildProcess>> apps;

    WaylandSession() {
        bus.makeSessionBus();
        ::setenv("WAYLAND_DISPLAY", HeadlessWeston::socketName, 1);
        ::setenv("DISPLAY", weston.xDisplay().c_str(), 1);
    }
    ~WaylandSession() { ::unsetenv("WAYLAND_DISPLAY"); }

    bool ready() const { return bus.isReady() && weston.problem().empty(); }
    std::string why() const { return bus.isReady() ? weston.problem() : "the session bus did not start"; }

    // Starts the program with more variables ("NAME=value"), its standard
    // error going to `errors`.
    ChildProcess& startApp(const std::vector<std::string>& arguments, const std::vector<std::string>& variables,
                           const std::filesystem::path& errors) {
        std::vector<std::string> argv{"sh", "-c", "f=$1; shift; exec env \"$@\" 2>\"$f\"", "sh", errors.string()};
        argv.insert(argv.end(), variables.begin(), variables.end());
        argv.push_back(TrayRig::program().string());
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        // The user database of the isolated home applies to the program only.
        ::setenv("LD_PRELOAD", "libnss_wrapper.so", 1);
        apps.push_back(std::make_unique<ChildProcess>("/bin/sh", argv));
        ::unsetenv("LD_PRELOAD");
        return *apps.back();
    }

    // A second start, in the session's environment, run to its end.
    ProgramRun runApp(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv{TrayRig::program().string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<std::string> environment{"LD_PRELOAD=libnss_wrapper.so"};
        for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
        return runProgram(TrayRig::program(), argv, environment);
    }
};

std::string readIfThere(const std::filesystem::path& file) {
    return std::filesystem::exists(file) ? readFile(file) : std::string();
}

// The 2 s bound of the end and a second of slack.
constexpr int endBoundMs = 3000;

} // namespace

// WAYLAND_DISPLAY and DISPLAY set, no platform chosen: the program runs on
// XWayland (its windows are X windows of its own), every launch flag opens
// its window, a second start hands over, and SIGTERM ends it in time.
TEST(WaylandCompositorTests, DesktopStartRunsOnXWaylandAndHandsOver) {
    WaylandSession session;
    ASSERT_TRUE(session.ready()) << session.why();
    const auto errors = session.rig.root() / "app.err";
    auto& app = session.startApp({"--show-settings=about"}, {}, errors);
    const std::string owner = std::to_string(app.pid()) + "\n";
    ASSERT_TRUE(waitUntil([&] { return session.rig.isWindowShown("About"); }))
        << "no settings window on XWayland (" << session.weston.xDisplay()
        << "); the program said: " << readIfThere(errors);
    EXPECT_EQ(TrayRig::windowOwners("About"), owner);

    const struct {
        const char* flag;
        const char* title;
    } handed[] = {{"--show-glance", "Brindleaf"}, {"--show-popover", "Brindleaf Dashboard"}};
    for (const auto& c : handed) {
        SCOPED_TRACE(c.flag);
        const auto second = session.runApp({c.flag});
        EXPECT_EQ(second.exitStatus, 0);
        EXPECT_EQ(second.standardError, "");
        ASSERT_TRUE(waitUntil([&] { return session.rig.isWindowShown(c.title); }))
            << "the running copy opened no window \"" << c.title << "\"";
        EXPECT_EQ(TrayRig::windowOwners(c.title), owner);
    }
    EXPECT_EQ(readIfThere(errors), "");

    ASSERT_EQ(::kill(app.pid(), SIGTERM), 0);
    EXPECT_TRUE(app.waitForExit(endBoundMs)) << "SIGTERM did not end the program within its 2 s bound";
}

// QT_QPA_PLATFORM=wayland (the user's choice): the program runs on the
// compositor itself. Its windows are the compositor's toplevels (none on
// XWayland); the flags handed over open them, the program keeps answering,
// and what Wayland does not let it do (place the dashboard at the icon, grab
// X keys, fade a window) is left out without a word on standard error.
TEST(WaylandCompositorTests, WaylandPlatformRunsNativelyAndLeavesOutQuietly) {
    WaylandSession session;
    ASSERT_TRUE(session.ready()) << session.why();
    const auto errors = session.rig.root() / "app.err";
    auto& app =
        session.startApp({"--show-settings=about"}, {"QT_QPA_PLATFORM=wayland", "WAYLAND_DEBUG=client"}, errors);
    const auto shown = [&](const std::string& title) {
        return WaylandProtocolLog::shownToplevels(readIfThere(errors)).count(title) > 0;
    };
    // Qt adds the application's name to the titles it gives the compositor.
    ASSERT_TRUE(waitUntil([&] { return shown("About — Brindleaf"); }))
        << "no settings window on the compositor; what the program said beside the protocol: "
        << WaylandProtocolLog::otherLines(readIfThere(errors));

    const struct {
        const char* flag;
        const char* title;
    } handed[] = {{"--show-glance", "Brindleaf"},
                  {"--show-popover", "Brindleaf Dashboard — Brindleaf"},
                  {"--show-settings=general", "General — Brindleaf"}};
    for (const auto& c : handed) {
        SCOPED_TRACE(c.flag);
        const auto second = session.runApp({c.flag});
        EXPECT_EQ(second.exitStatus, 0) << "the running copy did not answer: " << second.standardError;
        EXPECT_EQ(second.standardError, "");
        EXPECT_TRUE(waitUntil([&] { return shown(c.title); }))
            << "the running copy opened no window \"" << c.title << "\"";
    }
    EXPECT_FALSE(session.rig.isWindowShown("About")) << "a window of the program went to XWayland";
    EXPECT_EQ(WaylandProtocolLog::otherLines(readIfThere(errors)), "");

    ASSERT_EQ(::kill(app.pid(), SIGTERM), 0);
    EXPECT_TRUE(app.waitForExit(endBoundMs)) << "SIGTERM did not end the program within its 2 s bound";
}
