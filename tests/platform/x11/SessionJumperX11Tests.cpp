// Going to an agent's terminal on a real X server (the rig's Xvfb with
// openbox), with real xterms and a real tmux server on a socket of the test's
// own folder.
#include "platform/BoundedCommand.hpp"
#include "platform/SessionJumper.hpp"
#include "platform/X11WindowActivator.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/Eventually.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <poll.h>

using namespace brindleaf;
using brindleaf::testing::ChildProcess;
using brindleaf::testing::eventually;
using brindleaf::testing::TempDir;

namespace {

// The pid an agent script wrote to its file once it runs.
std::optional<int64_t> pidIn(const std::filesystem::path& file) {
    std::ifstream in(file);
    int64_t pid = 0;
    std::string line;
    if (!std::getline(in, line) || line.empty()) return std::nullopt;
    try {
        pid = std::stoll(line);
    } catch (...) {
        return std::nullopt;
    }
    return pid;
}

class SessionJumperX11Tests : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The test's own processes are in no tmux of the developer's.
        unsetenv("TMUX");
        unsetenv("TMUX_PANE");
        folder = new TempDir;
        socket = (folder->path() / "tmux.sock").string();
        detachedSocket = (folder->path() / "detached.sock").string();
        // An agent-like process: it writes its pid, then waits as that pid.
        agentScript = folder
                          ->write("brindleaf-agent.sh", "echo $$ > \"$1.part\" && mv \"$1.part\" \"$1\"\n"
                                                        "exec sleep 1000\n")
                          .string();
        plainXterm = new ChildProcess("/usr/bin/xterm", {"xterm", "-T", "plain-agent", "-e", "sh", agentScript,
                                                         (folder->path() / "plain.pid").string()});
        // The agent's pane is in session "agents", in a window behind another;
        // the terminal shows session "other".
        ASSERT_TRUE(tmux(socket, {"-f", "/dev/null", "new-session", "-d", "-s", "agents", "-x", "80", "-y", "24", "sh",
                                  agentScript, (folder->path() / "pane.pid").string()}));
        ASSERT_TRUE(tmux(socket, {"new-window", "-t", "agents"}));
        ASSERT_TRUE(tmux(socket, {"new-session", "-d", "-s", "other"}));
        tmuxXterm = new ChildProcess(
            "/usr/bin/xterm", {"xterm", "-T", "tmux-client", "-e", "tmux", "-S", socket, "attach", "-t", "other"});
        ASSERT_TRUE(tmux(detachedSocket, {"-f", "/dev/null", "new-session", "-d", "-s", "alone", "sh", agentScript,
                                          (folder->path() / "detached.pid").string()}));
    }

    static void TearDownTestSuite() {
        tmux(socket, {"kill-server"});
        tmux(detachedSocket, {"kill-server"});
        delete plainXterm;
        delete tmuxXterm;
        delete folder;
    }

    static std::optional<std::string> tmux(const std::string& server, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"tmux", "-S", server});
        return BoundedCommand::run(arguments, 10);
    }

    // The agent's pid once its script runs.
    static int64_t agent(const std::string& name) {
        std::optional<int64_t> pid;
        EXPECT_TRUE(eventually([&] { return (pid = pidIn(folder->path() / name)).has_value(); }))
            << "the agent script in " << name << " did not start";
        return pid.value_or(0);
    }

    // The window of an xterm once the window manager lists it.
    static uint32_t windowOf(const ChildProcess& xterm) {
        std::optional<X11WindowActivator::OwnedWindow> found;
        EXPECT_TRUE(eventually([&] { return (found = X11WindowActivator().windowOf({xterm.pid()})).has_value(); }))
            << "the xterm's window did not appear in _NET_CLIENT_LIST";
        return found ? found->window : 0;
    }

    // The active pane of the terminal's client.
    static std::string clientPane() {
        auto pane = tmux(socket, {"display-message", "-p", "-c", clientName(), "#{pane_id}"}).value_or("");
        while (!pane.empty() && pane.back() == '\n') pane.pop_back();
        return pane;
    }
    static std::string clientName() {
        auto name = tmux(socket, {"list-clients", "-F", "#{client_name}"}).value_or("");
        while (!name.empty() && name.back() == '\n') name.pop_back();
        return name;
    }
    static std::string agentPane() {
        auto pane = tmux(socket, {"list-panes", "-t", "agents:0", "-F", "#{pane_id}"}).value_or("");
        while (!pane.empty() && pane.back() == '\n') pane.pop_back();
        return pane;
    }

    // Activates another window, so a jump has something to change.
    static void focusAway(uint32_t window) {
        X11WindowActivator().activate(window);
        ASSERT_TRUE(eventually([&] { return X11WindowActivator().activeWindow() == window; }))
            << "openbox did not activate the other window";
    }

    static inline TempDir* folder = nullptr;
    static inline ChildProcess* plainXterm = nullptr;
    static inline ChildProcess* tmuxXterm = nullptr;
    static inline std::string socket, detachedSocket, agentScript;
};

TEST_F(SessionJumperX11Tests, GoesToTheXtermOfAnAgentAndKnowsWhenItIsInView) {
    const int64_t pid = agent("plain.pid");
    const uint32_t plain = windowOf(*plainXterm);
    const uint32_t client = windowOf(*tmuxXterm);
    ASSERT_TRUE(eventually([] { return !clientName().empty(); })) << "the tmux client did not attach";
    focusAway(client);

    SessionJumper jumper;
    EXPECT_EQ(jumper.check(pid), (SessionJumpCheck{true, ""}));
    EXPECT_FALSE(jumper.isInView(pid));
    ASSERT_TRUE(jumper.goTo(pid));
    EXPECT_TRUE(eventually([&] { return X11WindowActivator().activeWindow() == plain; }));
    EXPECT_TRUE(jumper.isInView(pid));
}

TEST_F(SessionJumperX11Tests, GoesToTheAgentsTmuxPaneAndItsTerminal) {
    const int64_t pid = agent("pane.pid");
    const uint32_t plain = windowOf(*plainXterm);
    const uint32_t client = windowOf(*tmuxXterm);
    ASSERT_TRUE(eventually([] { return !clientName().empty(); })) << "the tmux client did not attach";
    const std::string pane = agentPane();
    ASSERT_FALSE(pane.empty());
    focusAway(plain);
    ASSERT_NE(clientPane(), pane);

    SessionJumper jumper;
    EXPECT_EQ(jumper.check(pid), (SessionJumpCheck{true, ""}));
    EXPECT_FALSE(jumper.isInView(pid));
    ASSERT_TRUE(jumper.goTo(pid));
    EXPECT_TRUE(eventually([&] { return X11WindowActivator().activeWindow() == client; }));
    EXPECT_EQ(clientPane(), pane);
    EXPECT_TRUE(jumper.isInView(pid));

    // The terminal is active but shows another pane: not in view.
    ASSERT_TRUE(tmux(socket, {"switch-client", "-c", clientName(), "-t", "other"}));
    EXPECT_FALSE(jumper.isInView(pid));
}

TEST_F(SessionJumperX11Tests, RefusesWhatHasNoTerminalToShow) {
    SessionJumper jumper;
    EXPECT_EQ(jumper.check(agent("detached.pid")), (SessionJumpCheck{false, SessionJumper::tmuxDetached}));

    ChildProcess ended("/bin/true", {"true"});
    const int64_t endedPID = ended.pid();
    ASSERT_TRUE(ended.waitForExit(10000));
    EXPECT_EQ(jumper.check(endedPID), (SessionJumpCheck{false, SessionJumper::processEnded}));

    // Started in a session of its own: no controlling terminal, as `claude -p` from cron.
    ChildProcess script("/usr/bin/setsid", {"setsid", "sh", agentScript, (folder->path() / "script.pid").string()});
    const int64_t scripted = agent("script.pid");
    EXPECT_EQ(jumper.check(scripted), (SessionJumpCheck{false, SessionJumper::noTerminal}));
    EXPECT_FALSE(jumper.goTo(scripted));
    EXPECT_FALSE(jumper.isInView(scripted));
    // In a session of its own, it is not in the child's process group.
    kill(static_cast<pid_t>(scripted), SIGKILL);

    // A terminal without a window (a pseudo-terminal of `script`, as over ssh):
    // none found, or under Wayland none that can be reached.
    ChildProcess windowless(
        "/usr/bin/setsid",
        {"setsid", "script", "-qec", "sh " + agentScript + " " + (folder->path() / "pty.pid").string(), "/dev/null"});
    const int64_t inPty = agent("pty.pid");
    EXPECT_EQ(jumper.check(inPty), (SessionJumpCheck{false, SessionJumper::noWindow}));
    setenv("WAYLAND_DISPLAY", "brindleaf-test-wayland", 1);
    unsetenv("SWAYSOCK"); // a compositor other than sway
    EXPECT_EQ(SessionJumper().check(inPty), (SessionJumpCheck{false, SessionJumper::noWindowAccess}));
    unsetenv("WAYLAND_DISPLAY");
    kill(static_cast<pid_t>(inPty), SIGKILL); // `script` ends with it

    // The process runs, but the display is not there.
    EXPECT_EQ(SessionJumper(":99999").check(agent("plain.pid")),
              (SessionJumpCheck{false, SessionJumper::noWindowAccess}));
}

} // namespace
