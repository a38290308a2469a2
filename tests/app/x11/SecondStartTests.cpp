// A second start of the built program beside a running copy on the rig's X
// server: it hands its launch flags over and ends.
#include "tests/app/x11/InstanceNameHolder.hpp"
#include "tests/app/x11/TrayRig.hpp"

#include <gmock/gmock.h>

#include <chrono>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <unistd.h>

using namespace brindleaf::testing;
using ::testing::HasSubstr;

namespace {

const std::string popoverTitle = "Brindleaf Dashboard";
const std::string floatingTitle = "Brindleaf";
const std::string noAnswer =
    "brindleaf: already running for this user, but the running copy did not answer within 5 seconds\n";

// Starts a copy and waits until it holds the instance lock (the lock file
// names its process) and has made its socket. From then on a start is handed
// to it: the system keeps the connection until the copy's event loop reads it.
pid_t startCopy(TrayRig& rig, const std::vector<std::string>& arguments = {}) {
    const pid_t pid = rig.startApp(arguments).pid();
    const auto folder = rig.root() / "run" / "brindleaf";
    EXPECT_TRUE(waitUntil([&] {
        std::ifstream file(folder / "instance.lock");
        std::string holder;
        return std::getline(file, holder) && holder == std::to_string(pid);
    })) << "the copy "
        << pid << " took no lock";
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::is_socket(folder / "instance.socket"); }))
        << "the copy " << pid << " made no socket";
    return pid;
}

} // namespace

TEST(SecondStartTests, FlagsOpenTheirWindowInTheRunningCopy) {
    TrayRig rig;
    const pid_t first = startCopy(rig);
    auto second = rig.runApp({"--show-settings=about"});
    EXPECT_EQ(second.exitStatus, 0);
    EXPECT_EQ(second.standardError, "");
    EXPECT_EQ(second.standardOutput, "");
    ASSERT_TRUE(waitUntil([&] { return rig.isWindowShown("About"); }));
    EXPECT_EQ(TrayRig::windowOwners("About"), std::to_string(first) + "\n");

    auto glance = rig.runApp({"--show-glance"});
    EXPECT_EQ(glance.exitStatus, 0);
    EXPECT_TRUE(waitUntil([&] { return rig.isWindowShown(floatingTitle); }));
    EXPECT_TRUE(TrayRig::isRunning(first));
}

TEST(SecondStartTests, PlainStartOpensTheDashboardUnderTheIcon) {
    TrayRig rig;
    rig.startTrayHost();
    const pid_t first = startCopy(rig);
    const auto icon = rig.settledTrayIconGeometry();
    ASSERT_TRUE(icon.has_value()) << "the icon was not embedded in the tray host";
    auto second = rig.runApp({});
    EXPECT_EQ(second.exitStatus, 0);
    EXPECT_EQ(second.standardError, "");
    ASSERT_TRUE(waitUntil([&] { return rig.isWindowShown(popoverTitle); }));
    const auto popover = rig.windowGeometry(popoverTitle);
    ASSERT_TRUE(popover.has_value());
    EXPECT_GT(popover->top(), icon->bottom());
    EXPECT_LE(popover->left(), icon->center().x());
    EXPECT_GE(popover->right(), icon->center().x());
    EXPECT_EQ(TrayRig::windowOwners(popoverTitle), std::to_string(first) + "\n");
}

// A copy that was killed leaves its lock and its socket behind: the next start
// takes both over and runs as the only copy, and a start after it is heard.
TEST(SecondStartTests, LockAndSocketOfAKilledCopyAreTakenOver) {
    TrayRig rig;
    startCopy(rig);
    const auto folder = rig.root() / "run" / "brindleaf";
    rig.stopApps();
    ASSERT_TRUE(std::filesystem::exists(folder / "instance.lock"));
    ASSERT_TRUE(std::filesystem::is_socket(folder / "instance.socket"));

    const pid_t next = startCopy(rig, {"--show-settings=about"});
    ASSERT_TRUE(waitUntil([&] { return rig.isWindowShown("About"); }));
    EXPECT_TRUE(TrayRig::isRunning(next));
    auto later = rig.runApp({"--show-glance"});
    EXPECT_EQ(later.exitStatus, 0);
    EXPECT_EQ(later.standardError, "");
    EXPECT_TRUE(waitUntil([&] { return rig.isWindowShown(floatingTitle); }));
    EXPECT_EQ(TrayRig::windowOwners(floatingTitle), std::to_string(next) + "\n");
}

// A running copy that does not answer (stopped: its socket takes the
// connection, nothing reads it) holds a second start 5 seconds at most; the
// usage, the version and a refusal never ask it.
TEST(SecondStartTests, CopyThatDoesNotAnswerEndsTheStartAfterTheBound) {
    TrayRig rig;
    const pid_t first = startCopy(rig);
    ASSERT_EQ(::kill(first, SIGSTOP), 0);
    Resume resume{first};
    const auto asked = std::chrono::steady_clock::now();
    auto second = rig.runApp({"--show-settings=about"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_EQ(second.standardError, noAnswer);
    // The bound of 5 s, kept: not shorter, and nowhere near ten times as long.
    EXPECT_GE(seconds, 5);
    EXPECT_LT(seconds, 30) << "the start was held far past its bound of 5 s";
    auto help = rig.runApp({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_THAT(help.standardOutput, HasSubstr("Usage: brindleaf"));
    EXPECT_EQ(rig.runApp({"--version"}).exitStatus, 0);
    EXPECT_EQ(rig.runApp({"--show-glance", "--bogus"}).exitStatus, 2);

    ::kill(first, SIGCONT);
    auto afterwards = rig.runApp({"--show-glance"});
    EXPECT_EQ(afterwards.exitStatus, 0);
    EXPECT_EQ(afterwards.standardError, "");
    EXPECT_TRUE(waitUntil([&] { return rig.isWindowShown(floatingTitle); }));
    // The start that gave up is not acted on once the copy goes on: its
    // message came first, and was dropped when its answer found no one.
    EXPECT_FALSE(rig.isWindowShown("About"));
}

// With the running copy out of reach (its socket removed, and its name taken
// by another process before it started), a second start finds no one to
// answer, while the headless modes run as ever: they never ask it. (A stopped
// copy would not do here: it may be stopped holding the settings lock, which
// the modes take too.)
TEST(SecondStartTests, HeadlessModesNeverAskTheRunningCopy) {
    TrayRig rig;
    InstanceNameHolder name(rig.instanceName(), InstanceNameHolder::Kind::bound, ::getuid());
    ASSERT_EQ(name.failure(), "");
    startCopy(rig);
    std::filesystem::remove(rig.root() / "run" / "brindleaf" / "instance.socket");
    auto dump = rig.runApp({"--dump-status"});
    EXPECT_EQ(dump.exitStatus, 0);
    EXPECT_THAT(dump.standardOutput, HasSubstr("active="));
    EXPECT_EQ(dump.standardError, "");
    auto selfTest = rig.runApp({"--self-test-settings-migration"});
    EXPECT_EQ(selfTest.exitStatus, 0);
    EXPECT_EQ(selfTest.standardOutput, "claude,codex,hermes\n");
    auto second = rig.runApp({});
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_EQ(second.standardError, noAnswer);
}
