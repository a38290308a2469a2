#include "platform/SessionJumper.hpp"
#include "platform/SwayIpc.hpp"
#include "tests/support/Eventually.hpp"
#include "tests/support/SpawnedProgram.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/WindowlessTerminalProcess.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <optional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace brindleaf;
using brindleaf::testing::eventually;
using brindleaf::testing::startProgram;
using brindleaf::testing::stopProgram;
using brindleaf::testing::TempDir;
using brindleaf::testing::WindowlessTerminalProcess;

namespace {

// sway refuses to run as root: it, its clients and the jumper run as this
// plain user, with their own HOME and XDG_RUNTIME_DIR in the test's folder.
constexpr uid_t user = 4242;

bool becomeUser() {
    return ::setgroups(0, nullptr) == 0 && ::setresgid(user, user, user) == 0 && ::setresuid(user, user, user) == 0;
}

// Runs `work` as the plain user in a child process and returns what it wrote.
std::string asUser(const std::function<std::string()>& work) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        const std::string answer = becomeUser() ? work() : "cannot become the plain user";
        (void)!::write(out[1], answer.data(), answer.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string answer;
    char bytes[4096];
    for (ssize_t got; (got = ::read(out[0], bytes, sizeof(bytes))) > 0;) answer.append(bytes, static_cast<size_t>(got));
    ::close(out[0]);
    ::waitpid(child, nullptr, 0);
    return answer;
}

// Starts a program as the plain user with `environment`.
pid_t start(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            const std::filesystem::path& log) {
    return startProgram(arguments, environment, log, becomeUser);
}

std::string spaced(int64_t pid) {
    std::string text(1, ' ');
    text += std::to_string(pid);
    text += ' ';
    return text;
}

std::optional<int64_t> firstChild(pid_t pid) {
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    int64_t child = 0;
    if (children >> child) return child;
    return std::nullopt;
}

class SessionJumperOnSway : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::getuid() != 0 || ::access("/usr/bin/sway", X_OK) != 0 || ::access("/usr/bin/weston-terminal", X_OK) != 0)
            return;
        folder_ = new TempDir;
        const auto& root = folder_->path();
        std::filesystem::permissions(root, std::filesystem::perms(0755));
        for (const char* name : {"home", "run"}) {
            std::filesystem::create_directory(root / name);
            ::chown((root / name).c_str(), user, user);
            std::filesystem::permissions(root / name, std::filesystem::perms(0700));
        }
        folder_->write("sway.config", "xwayland disable\n");
        base_ = {"PATH=/usr/bin:/bin", "HOME=" + (root / "home").string(),
                 "XDG_RUNTIME_DIR=" + (root / "run").string()};
        auto swayEnvironment = base_;
        for (const char* setting : {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"})
            swayEnvironment.emplace_back(setting);
        sway_ = start({"/usr/bin/sway", "-c", (root / "sway.config").string()}, swayEnvironment, root / "sway.log");
        const auto found = [&](std::string_view prefix) {
            for (const auto& entry : std::filesystem::directory_iterator(root / "run")) {
                const std::string name = entry.path().filename();
                if (name.starts_with(prefix) && !name.ends_with(".lock") && entry.is_socket()) return name;
            }
            return std::string();
        };
        std::string socket, display;
        if (!eventually(
                [&] { return !(socket = found("sway-ipc.")).empty() && !(display = found("wayland-")).empty(); }))
            return;
        swaySocket_ = (root / "run" / socket).string();
        display_ = display;
        auto clientEnvironment = base_;
        clientEnvironment.push_back("WAYLAND_DISPLAY=" + display);
        clientEnvironment.emplace_back("SHELL=/bin/sh");
        for (pid_t* terminal : {&terminalA_, &terminalB_})
            *terminal = start({"/usr/bin/weston-terminal"}, clientEnvironment, root / "terminal.log");
        const auto shown = [] {
            const auto tree = asUser([] {
                std::string pids;
                for (const auto& w : SwayIpc(swaySocket_).windows().value_or(std::vector<SwayIpc::Window>{}))
                    pids += spaced(w.pid);
                return pids;
            });
            return tree.find(spaced(terminalA_)) != std::string::npos &&
                   tree.find(spaced(terminalB_)) != std::string::npos;
        };
        if (!eventually([&] {
                return shown() && (shellA_ = firstChild(terminalA_).value_or(0)) &&
                       (shellB_ = firstChild(terminalB_).value_or(0));
            }))
            return;
        ready_ = true;
    }

    static void TearDownTestSuite() {
        for (pid_t pid : {terminalA_, terminalB_, sway_}) stopProgram(pid);
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override {
        if (::getuid() != 0) GTEST_SKIP() << "needs root to run sway as a plain user";
        if (!folder_) GTEST_SKIP() << "needs sway and weston-terminal";
        ASSERT_TRUE(ready_) << "sway or its two weston-terminals with shells did not come up; sway's log is in "
                            << (folder_->path() / "sway.log");
    }

    // `work` with a jumper as sway's user, in sway's session.
    static std::string withJumper(const std::function<std::string(const SessionJumper&)>& work) {
        return asUser([&work] {
            ::setenv("SWAYSOCK", swaySocket_.c_str(), 1);
            ::unsetenv("DISPLAY");
            ::setenv("WAYLAND_DISPLAY", display_.c_str(), 1);
            const SessionJumper jumper;
            return work(jumper);
        });
    }

    static std::string focusedPids() {
        return asUser([] {
            std::string pids;
            for (const auto& w : SwayIpc(swaySocket_).windows().value_or(std::vector<SwayIpc::Window>{}))
                if (w.focused) pids += std::to_string(w.pid);
            return pids;
        });
    }

    static inline TempDir* folder_ = nullptr;
    static inline std::vector<std::string> base_;
    static inline std::string swaySocket_, display_;
    static inline pid_t sway_ = 0, terminalA_ = 0, terminalB_ = 0;
    static inline int64_t shellA_ = 0, shellB_ = 0;
    static inline bool ready_ = false;
};

std::string verdict(const SessionJumpCheck& check) { return check.canGo ? "can go" : check.reason; }

} // namespace

TEST_F(SessionJumperOnSway, FocusesTheNativeTerminalOfTheSessionAndKnowsWhenItIsInView) {
    for (const auto& [shell, other, terminal] :
         {std::tuple{shellA_, shellB_, terminalA_}, std::tuple{shellB_, shellA_, terminalB_}}) {
        EXPECT_EQ(withJumper([shell](const SessionJumper& j) { return verdict(j.check(shell)); }), "can go");
        EXPECT_EQ(withJumper([shell](const SessionJumper& j) { return j.goTo(shell) ? "went" : "did not go"; }),
                  "went");
        EXPECT_EQ(focusedPids(), std::to_string(terminal));
        EXPECT_EQ(withJumper([shell, other](const SessionJumper& j) {
                      std::string seen = j.isInView(shell) ? "1" : "0";
                      seen += j.isInView(other) ? '1' : '0';
                      return seen;
                  }),
                  "10");
    }
}

TEST_F(SessionJumperOnSway, RefusesASessionWithoutAWindowOnSway) {
    // A shell of the plain user on a terminal of its own that no sway window shows.
    const std::string result = withJumper([](const SessionJumper& j) -> std::string {
        const WindowlessTerminalProcess windowless;
        if (!windowless.hasTerminal()) return std::string("the windowless process never got its terminal");
        const pid_t session = windowless.pid();
        std::string verdicts = verdict(j.check(session));
        verdicts += j.goTo(session) ? "|went" : "|did not go";
        verdicts += j.isInView(session) ? "|1" : "|0";
        return verdicts;
    });
    EXPECT_EQ(result, std::string(SessionJumper::noWindow) + "|did not go|0");
}
