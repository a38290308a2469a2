// Going to a session's native Wayland terminal under a real KWin (Plasma's
// compositor, headless on a virtual output) with real weston-terminals, KWin
// on a session bus of the test's own.
#include "platform/KWinScripting.hpp"
#include "platform/ProcessLineage.hpp"
#include "platform/SessionBus.hpp"
#include "platform/SessionJumper.hpp"
#include "tests/support/Eventually.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/SpawnedProgram.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/WindowlessTerminalProcess.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace brindleaf;
using brindleaf::testing::eventually;
using brindleaf::testing::PrivateSessionBus;
using brindleaf::testing::startProgram;
using brindleaf::testing::stopProgram;
using brindleaf::testing::TempDir;
using brindleaf::testing::WindowlessTerminalProcess;

namespace {

constexpr const char* socketName = "brindleaf-kwin-test";

std::optional<int64_t> firstChild(pid_t pid) {
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    int64_t child = 0;
    if (children >> child) return child;
    return std::nullopt;
}

std::string verdict(const SessionJumpCheck& check) { return check.canGo ? "can go" : check.reason; }

class SessionJumperOnKWin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::access("/usr/bin/kwin_wayland", X_OK) != 0 || ::access("/usr/bin/weston-terminal", X_OK) != 0) return;
        folder_ = new TempDir;
        bus_ = new PrivateSessionBus;
        if (!bus_->isReady()) return;
        const auto& root = folder_->path();
        for (const char* name : {"home", "run"}) {
            std::filesystem::create_directory(root / name);
            std::filesystem::permissions(root / name, std::filesystem::perms(0700));
        }
        // A copy of its own: the installed program carries a file capability
        // (CAP_SYS_RESOURCE) that a container's bounding set may not hold,
        // and then it cannot be started at all.
        std::filesystem::copy_file("/usr/bin/kwin_wayland", root / "kwin_wayland");
        const std::vector<std::string> base{"PATH=/usr/bin:/bin", "HOME=" + (root / "home").string(),
                                            "XDG_RUNTIME_DIR=" + (root / "run").string(),
                                            "DBUS_SESSION_BUS_ADDRESS=" + bus_->address()};
        auto kwinEnvironment = base;
        for (const char* setting : {"KWIN_COMPOSE=Q", "QT_QUICK_BACKEND=software", "LIBGL_ALWAYS_SOFTWARE=1"})
            kwinEnvironment.emplace_back(setting);
        kwin_ = startProgram({(root / "kwin_wayland").string(), "--virtual", "--no-lockscreen", "--socket", socketName},
                             kwinEnvironment, root / "kwin.log");
        const KWinScripting kwin(bus_->address(), (root / "run").string());
        if (!eventually([&] { return std::filesystem::exists(root / "run" / socketName) && kwin.isAvailable(); }))
            return;
        auto clientEnvironment = base;
        clientEnvironment.push_back(std::string("WAYLAND_DISPLAY=") + socketName);
        clientEnvironment.emplace_back("SHELL=/bin/sh");
        for (pid_t* terminal : {&terminalA_, &terminalB_})
            *terminal = startProgram({"/usr/bin/weston-terminal"}, clientEnvironment, root / "terminal.log");
        if (!eventually([&] {
                return kwin.windowOf({terminalA_}) && kwin.windowOf({terminalB_}) &&
                       (shellA_ = firstChild(terminalA_).value_or(0)) && (shellB_ = firstChild(terminalB_).value_or(0));
            }))
            return;
        ready_ = true;
    }

    static void TearDownTestSuite() {
        for (pid_t pid : {terminalA_, terminalB_, kwin_}) stopProgram(pid);
        delete bus_;
        bus_ = nullptr;
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override {
        if (!folder_) GTEST_SKIP() << "needs kwin_wayland and weston-terminal";
        ASSERT_TRUE(bus_->isReady()) << "the test's bus daemon did not start";
        ASSERT_TRUE(ready_) << "KWin or its two weston-terminals with shells did not come up; KWin's log is in "
                            << (folder_->path() / "kwin.log");
        // The jumper's session: KWin's Wayland display and bus, no X, no sway.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (folder_->path() / "run").c_str(), 1);
        ::setenv("WAYLAND_DISPLAY", socketName, 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("SWAYSOCK");
    }

    static KWinScripting kwin() { return KWinScripting(bus_->address(), (folder_->path() / "run").string()); }

    // What KWin has left of our scripts: loaded ones (numbered objects) and files.
    static std::string leftovers() {
        std::string found;
        SessionBus bus(bus_->address());
        for (const auto& node : bus.childNodes(KWinScripting::service, "/").value_or(std::vector<std::string>{}))
            if (!node.empty() && std::isdigit(static_cast<unsigned char>(node.front()))) found += " script /" + node;
        const auto scripts = folder_->path() / "run" / "brindleaf-kwin";
        if (std::filesystem::exists(scripts))
            for (const auto& entry : std::filesystem::directory_iterator(scripts))
                found += " file " + entry.path().filename().string();
        return found;
    }

    static inline TempDir* folder_ = nullptr;
    static inline PrivateSessionBus* bus_ = nullptr;
    static inline pid_t kwin_ = 0, terminalA_ = 0, terminalB_ = 0;
    static inline int64_t shellA_ = 0, shellB_ = 0;
    static inline bool ready_ = false;
};

} // namespace

TEST_F(SessionJumperOnKWin, ActivatesTheNativeTerminalOfTheSessionAndKnowsWhenItIsInView) {
    const SessionJumper jumper;
    for (const auto& [shell, other, terminal] :
         {std::tuple{shellA_, shellB_, terminalA_}, std::tuple{shellB_, shellA_, terminalB_}}) {
        EXPECT_EQ(verdict(jumper.check(shell)), "can go");
        EXPECT_TRUE(jumper.goTo(shell));
        EXPECT_EQ(kwin().windowOf({terminal}), (KWinScripting::Window{terminal, true}));
        EXPECT_TRUE(jumper.isInView(shell));
        EXPECT_FALSE(jumper.isInView(other));
    }
    // The nearest process with a window counts; processes without one are passed over.
    EXPECT_EQ(kwin().windowOf({shellA_, terminalB_, terminalA_}), (KWinScripting::Window{terminalB_, true}));
    EXPECT_EQ(kwin().windowOf({shellA_, ::getpid()}), std::nullopt);
    EXPECT_EQ(leftovers(), "");
}

TEST_F(SessionJumperOnKWin, RefusesWithoutAWindowWithoutKWinAndWithoutAPrivateScriptFolder) {
    // A process on a terminal of its own that no window shows.
    WindowlessTerminalProcess windowless;
    ASSERT_TRUE(windowless.hasTerminal()) << "the windowless process never got its terminal";
    const pid_t session = windowless.pid();
    {
        const SessionJumper jumper;
        EXPECT_EQ(verdict(jumper.check(session)), SessionJumper::noWindow);
        EXPECT_FALSE(jumper.goTo(session));
        EXPECT_FALSE(jumper.isInView(session));
        // A Wayland session whose bus has no KWin: no way to reach its windows.
        PrivateSessionBus otherBus;
        ASSERT_TRUE(otherBus.isReady());
        ::setenv("DBUS_SESSION_BUS_ADDRESS", otherBus.address().c_str(), 1);
        EXPECT_EQ(verdict(SessionJumper().check(shellA_)), SessionJumper::noWindowAccess);
    }
    EXPECT_EQ(leftovers(), "");

    // The script files go only to a folder of this user's closed to others.
    TempDir runtimes;
    const auto made = [&runtimes](const std::string& name, unsigned mode) {
        const auto folder = runtimes / name;
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(folder, std::filesystem::perms(mode));
        return folder.string();
    };
    const std::string linked = made("linked", 0700);
    std::filesystem::create_directory_symlink(made("elsewhere", 0700), linked + "/brindleaf-kwin");
    const std::string open = made("open", 0700);
    made("open/brindleaf-kwin", 0755);
    const std::string fresh = made("fresh", 0700);
    const std::vector<std::tuple<std::string, std::string, bool>> cases{
        {"a runtime folder others may write to", made("shared", 0777), false},
        {"a relative runtime folder", "run", false},
        {"the scripts' folder a link", linked, false},
        {"the scripts' folder open to others", open, false},
        {"a runtime folder of this user's", fresh, true},
    };
    for (const auto& [name, runtime, usable] : cases) {
        const KWinScripting kwin(bus_->address(), runtime);
        EXPECT_EQ(kwin.isAvailable(), usable) << name;
        EXPECT_EQ(kwin.windowOf({terminalA_}).has_value(), usable) << name;
    }
    EXPECT_TRUE(std::filesystem::is_empty(fresh + "/brindleaf-kwin"));
    EXPECT_EQ(std::filesystem::status(fresh + "/brindleaf-kwin").permissions(), std::filesystem::perms(0700));
}
