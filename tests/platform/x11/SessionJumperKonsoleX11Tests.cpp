// Going to an agent's tab in a real konsole on the rig's X server, with its
// D-Bus interface on a bus of the test's own: one konsole process with two
// windows, the first with two tabs.
#include "platform/SessionBus.hpp"
#include "platform/SessionJumper.hpp"
#include "platform/X11WindowActivator.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/Eventually.hpp"
#include "tests/support/IsolatedUserFolders.hpp"
#include "tests/support/PrivateSessionBus.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <poll.h>

using namespace brindleaf;
using brindleaf::testing::ChildProcess;
using brindleaf::testing::eventually;
using brindleaf::testing::IsolatedUserFolders;
using brindleaf::testing::PrivateSessionBus;

namespace {

const std::string konsoleService = "org.kde.konsole";
const std::string windowInterface = "org.kde.konsole.Window";

std::optional<int64_t> pidIn(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!std::getline(in, line) || line.empty()) return std::nullopt;
    try {
        return std::stoll(line);
    } catch (...) {
        return std::nullopt;
    }
}

class SessionJumperKonsoleX11Tests : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("TMUX");
        unsetenv("TMUX_PANE");
        ASSERT_TRUE(privateBus.isReady()) << "the test's bus daemon did not start";
        if (const char* bus = getenv("DBUS_SESSION_BUS_ADDRESS")) savedBus = bus;
        privateBus.makeSessionBus();
        // Every window in one process, as konsole's "Run all Konsole windows in a single process".
        std::filesystem::create_directories(folders.root() / "config");
        std::ofstream(folders.root() / "config" / "konsolerc") << "[KonsoleWindow]\nUseSingleInstance=true\n";
        // An agent-like process in a tab's shell: it writes its pid, then waits as that pid.
        agentScript = (folders.root() / "brindleaf-agent.sh").string();
        std::ofstream(agentScript) << "echo $$ > \"$1.part\" && mv \"$1.part\" \"$1\"\nexec sleep 1000\n";
    }

    void TearDown() override {
        for (const int64_t agent : agents) ::kill(static_cast<pid_t>(agent), SIGKILL);
        if (savedBus)
            setenv("DBUS_SESSION_BUS_ADDRESS", savedBus->c_str(), 1);
        else
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    // Starts `konsole` with a tab whose shell runs an agent; the pid of that agent.
    int64_t startKonsole(const std::string& name, std::unique_ptr<ChildProcess>& process,
                         const std::vector<std::string>& options = {}) {
        const std::string pidFile = (folders.root() / name).string();
        std::vector<std::string> arguments{"sh", "-c", "exec konsole \"$@\" 2>/dev/null", "konsole"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.insert(arguments.end(), {"-e", "sh", "-c", "sh \"$0\" \"$1\"; true", agentScript, pidFile});
        process = std::make_unique<ChildProcess>("/bin/sh", arguments);
        std::optional<int64_t> pid;
        EXPECT_TRUE(eventually([&] { return (pid = pidIn(pidFile)).has_value(); }))
            << "the agent in konsole's tab (" << name << ") did not start";
        if (pid) agents.push_back(*pid);
        return pid.value_or(0);
    }

    // The X windows of konsole's main windows.
    static std::vector<uint32_t> konsoleWindows(SessionBus& bus, const std::string& service = konsoleService) {
        std::vector<uint32_t> windows;
        for (const std::string& node : bus.childNodes(service, "/konsole").value_or(std::vector<std::string>{}))
            if (node.rfind("MainWindow_", 0) == 0)
                if (const auto id = SessionBus::first<int64_t>(
                        bus.call(service, "/konsole/" + node, "org.kde.KMainWindow", "winId")))
                    windows.push_back(static_cast<uint32_t>(*id));
        return windows;
    }

    static std::optional<int64_t> currentSession(SessionBus& bus, const std::string& window,
                                                 const std::string& service = konsoleService) {
        return SessionBus::first<int64_t>(bus.call(service, window, windowInterface, "currentSession"));
    }

    static void activate(uint32_t window) {
        X11WindowActivator().activate(window);
        ASSERT_TRUE(eventually([&] { return X11WindowActivator().activeWindow() == window; }))
            << "openbox did not activate window " << window;
    }

    IsolatedUserFolders folders;
    PrivateSessionBus privateBus;
    std::string agentScript;
    std::vector<int64_t> agents;
    std::optional<std::string> savedBus;
};

TEST_F(SessionJumperKonsoleX11Tests, ChoosesTheAgentsTabAndRaisesTheWindowHoldingIt) {
    std::unique_ptr<ChildProcess> konsole, secondLaunch;
    const int64_t firstAgent = startKonsole("first.pid", konsole);
    ASSERT_NE(firstAgent, 0);
    SessionBus bus;
    ASSERT_TRUE(bus.isConnected());
    std::vector<uint32_t> windows;
    ASSERT_TRUE(eventually([&] { return (windows = konsoleWindows(bus)).size() == 1; }))
        << "konsole's main window is not on the bus";
    const uint32_t firstWindow = windows.front();

    // A second tab in the first window, made current.
    activate(firstWindow);
    std::optional<int64_t> agentsTab;
    ASSERT_TRUE(eventually([&] { return (agentsTab = currentSession(bus, "/Windows/1")).value_or(-1) > 0; }))
        << "konsole's first window has no current tab";
    const auto otherTab =
        SessionBus::first<int64_t>(bus.call(konsoleService, "/Windows/1", windowInterface, "newSession"));
    ASSERT_TRUE(otherTab && *otherTab != *agentsTab);
    bus.call(konsoleService, "/Windows/1", windowInterface, "setCurrentSession", {static_cast<int32_t>(*otherTab)});
    ASSERT_TRUE(eventually([&] { return currentSession(bus, "/Windows/1") == otherTab; }))
        << "konsole did not switch to its new tab";

    // A second window of the same process, with an agent of its own; it is active.
    const int64_t secondAgent = startKonsole("second.pid", secondLaunch);
    ASSERT_NE(secondAgent, 0);
    ASSERT_TRUE(eventually([&] { return (windows = konsoleWindows(bus)).size() == 2; }))
        << "konsole did not open its second window in the same process";
    const uint32_t secondWindow = windows.front() == firstWindow ? windows.back() : windows.front();
    activate(secondWindow);

    SessionJumper jumper;
    EXPECT_EQ(jumper.check(firstAgent), (SessionJumpCheck{true, ""}));
    EXPECT_FALSE(jumper.isInView(firstAgent));
    ASSERT_TRUE(jumper.goTo(firstAgent));
    EXPECT_TRUE(eventually([&] { return X11WindowActivator().activeWindow() == firstWindow; }));
    EXPECT_TRUE(eventually([&] { return currentSession(bus, "/Windows/1") == agentsTab; }))
        << "the agent's tab is not the current one";
    EXPECT_TRUE(jumper.isInView(firstAgent));
    EXPECT_FALSE(jumper.isInView(secondAgent));

    // Its window is active, but shows the other tab.
    bus.call(konsoleService, "/Windows/1", windowInterface, "setCurrentSession", {static_cast<int32_t>(*otherTab)});
    ASSERT_TRUE(eventually([&] { return currentSession(bus, "/Windows/1") == otherTab; }));
    EXPECT_FALSE(jumper.isInView(firstAgent));

    ASSERT_TRUE(jumper.goTo(secondAgent));
    EXPECT_TRUE(eventually([&] { return X11WindowActivator().activeWindow() == secondWindow; }));
    EXPECT_TRUE(jumper.isInView(secondAgent));
    EXPECT_FALSE(jumper.isInView(firstAgent));

    // Without konsole's answers (no bus), its most recently used window is raised, as for any terminal.
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (folders.root() / "no-bus").string()).c_str(), 1);
    ASSERT_TRUE(jumper.goTo(firstAgent));
    EXPECT_EQ(X11WindowActivator().activeWindow(), secondWindow);
    privateBus.makeSessionBus();
    EXPECT_EQ(currentSession(bus, "/Windows/1"), otherTab);

    // The agent's tab moved to a window of its own: that window is found all the same.
    activate(firstWindow);
    bus.call(konsoleService, "/Windows/1", windowInterface, "setCurrentSession", {static_cast<int32_t>(*agentsTab)});
    ASSERT_TRUE(eventually([&] { return currentSession(bus, "/Windows/1") == agentsTab; }));
    bus.call(konsoleService, "/konsole/MainWindow_1", "org.kde.KMainWindow", "activateAction",
             {std::string("detach-tab")});
    ASSERT_TRUE(eventually([&] { return (windows = konsoleWindows(bus)).size() == 3; }))
        << "konsole did not detach the agent's tab";
    const uint32_t detached = *std::find_if(windows.begin(), windows.end(),
                                            [&](uint32_t w) { return w != firstWindow && w != secondWindow; });
    activate(secondWindow);
    ASSERT_TRUE(jumper.goTo(firstAgent));
    EXPECT_TRUE(eventually([&] { return X11WindowActivator().activeWindow() == detached; }));
    EXPECT_TRUE(jumper.isInView(firstAgent));

    // A konsole in a process of its own, as konsole runs by default: on the
    // bus as org.kde.konsole-PID, while org.kde.konsole is the other one's.
    std::unique_ptr<ChildProcess> separate;
    const int64_t ownAgent = startKonsole("own.pid", separate, {"--separate"});
    ASSERT_NE(ownAgent, 0);
    const std::string ownService = "org.kde.konsole-" + std::to_string(separate->pid());
    ASSERT_TRUE(eventually([&] { return (windows = konsoleWindows(bus, ownService)).size() == 1; }))
        << "the separate konsole is not on the bus as " << ownService;
    const uint32_t ownWindow = windows.front();
    activate(ownWindow);
    std::optional<int64_t> ownTab;
    ASSERT_TRUE(eventually([&] { return (ownTab = currentSession(bus, "/Windows/1", ownService)).value_or(-1) > 0; }));
    const auto ownOther = SessionBus::first<int64_t>(bus.call(ownService, "/Windows/1", windowInterface, "newSession"));
    ASSERT_TRUE(ownOther && *ownOther != *ownTab);
    bus.call(ownService, "/Windows/1", windowInterface, "setCurrentSession", {static_cast<int32_t>(*ownOther)});
    ASSERT_TRUE(eventually([&] { return currentSession(bus, "/Windows/1", ownService) == ownOther; }));
    activate(secondWindow);
    ASSERT_TRUE(jumper.goTo(ownAgent));
    EXPECT_TRUE(eventually([&] { return X11WindowActivator().activeWindow() == ownWindow; }));
    EXPECT_TRUE(eventually([&] { return currentSession(bus, "/Windows/1", ownService) == ownTab; }));
    EXPECT_TRUE(jumper.isInView(ownAgent));
}

} // namespace
