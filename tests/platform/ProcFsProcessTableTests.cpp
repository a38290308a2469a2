#include "platform/ProcFsProcessTable.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sys/times.h>
#include <unistd.h>

using namespace brindleaf;
using brindleaf::testing::ChildProcess;
using brindleaf::testing::TempDir;

TEST(ProcFsProcessTableTests, parsesStatLinesWhoseNameHoldsSpacesAndParentheses) {
    const std::string line =
        "4242 (my (odd) name) S 77 4242 4242 0 -1 4194304 100 0 0 0 250 50 0 0 20 0 1 0 12345 1000000 300 "
        "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n";
    auto status = ProcFsProcessTable::parseStat(line, 100, 4096);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->parentPID, 77);
    ASSERT_TRUE(status->task);
    EXPECT_EQ(status->task->cpuTimeNanoseconds, 3000000000ULL); // (250 + 50) ticks at 100 Hz
    EXPECT_EQ(status->task->residentMemoryBytes, 300 * 4096);

    EXPECT_FALSE(ProcFsProcessTable::parseStat("", 100, 4096));
    EXPECT_FALSE(ProcFsProcessTable::parseStat("12 (x) S 1 2 3", 100, 4096)); // cut short
    EXPECT_FALSE(ProcFsProcessTable::parseStat("12 x S 1", 100, 4096));
    EXPECT_FALSE(ProcFsProcessTable::parseStat(
        "1 (x) S one 1 1 0 -1 4194304 100 0 0 0 250 50 0 0 20 0 1 0 12345 1000000 300 1\n", 100, 4096));
}

TEST(ProcFsProcessTableTests, readsAFakeProcRoot) {
    TempDir root;
    root.write("17/stat", "17 (codex) S 1 17 17 0 -1 0 0 0 0 0 10 10 0 0 20 0 1 0 1 1 5 0\n");
    root.write("17/cmdline", std::string("node\0codex\0", 11));
    root.write("17/comm", "node\n");
    std::filesystem::create_symlink("/srv/project", root / "17/cwd");
    root.write("self/stat", "ignored");
    root.write("sys/x", "");
    root.write("0/stat", "");
    root.write("12abc/stat", "");
    ProcFsProcessTable table(root.path().string());
    EXPECT_EQ(table.allPIDs(), std::vector<int64_t>{17});
    EXPECT_EQ(table.argumentArea(17), std::string("node\0codex\0", 11));
    EXPECT_EQ(table.shortName(17), "node");
    EXPECT_EQ(table.workingDirectory(17), "/srv/project");
    EXPECT_EQ(table.status(17)->parentPID, 1);
    EXPECT_FALSE(table.status(18));
    EXPECT_FALSE(table.argumentArea(18));
    EXPECT_FALSE(table.workingDirectory(18));
    EXPECT_TRUE(ProcFsProcessTable((root / "nothing").string()).allPIDs().empty());
}

TEST(ProcFsProcessTableTests, readsRealProcesses) {
    TempDir dir;
    const auto cwd = std::filesystem::canonical(dir.path());
    ChildProcess child("/bin/sleep", {"agent-under-test", "30"}, cwd);
    auto table = ProcessTable::system();
    auto pids = table->allPIDs();
    EXPECT_NE(std::find(pids.begin(), pids.end(), child.pid()), pids.end());
    EXPECT_NE(std::find(pids.begin(), pids.end(), getpid()), pids.end());
    EXPECT_TRUE(std::all_of(pids.begin(), pids.end(), [](int64_t pid) { return pid >= 1; }));

    auto status = table->status(child.pid());
    ASSERT_TRUE(status);
    EXPECT_EQ(status->parentPID, getpid());
    ASSERT_TRUE(status->task);
    // A process just past exec may not have its resident pages counted yet;
    // this long-running test process has.
    EXPECT_GE(status->task->residentMemoryBytes, 0);
    // This process's CPU time lies between what the kernel reported to it just
    // before and just after the read (a test process may not have used a whole tick).
    const auto ownCPUTime = [] {
        tms now{};
        times(&now);
        return static_cast<uint64_t>(now.tms_utime + now.tms_stime) *
               (1000000000ULL / static_cast<uint64_t>(sysconf(_SC_CLK_TCK)));
    };
    const uint64_t before = ownCPUTime();
    auto own = table->status(getpid());
    const uint64_t after = ownCPUTime();
    ASSERT_TRUE(own && own->task);
    EXPECT_GT(own->task->residentMemoryBytes, 0);
    EXPECT_GE(own->task->cpuTimeNanoseconds, before);
    EXPECT_LE(own->task->cpuTimeNanoseconds, after);
    EXPECT_EQ(own->parentPID, getppid());
    EXPECT_EQ(table->argumentArea(child.pid()), std::string("agent-under-test\0"
                                                            "30\0",
                                                            20));
    EXPECT_EQ(table->shortName(child.pid()), "sleep");
    EXPECT_EQ(table->workingDirectory(child.pid()), cwd.string());

    // An argument area longer than one read.
    const std::string longDuration = std::string(9000, '0') + "30";
    ChildProcess longChild("/bin/sleep", {"agent-long", longDuration}, cwd);
    EXPECT_EQ(table->argumentArea(longChild.pid()), "agent-long" + std::string(1, '\0') + longDuration + '\0');

    const int64_t ended = child.pid();
    child.kill();
    EXPECT_FALSE(table->status(ended));
    EXPECT_FALSE(table->argumentArea(ended));
    EXPECT_FALSE(table->shortName(ended));
    EXPECT_FALSE(table->workingDirectory(ended));
}

TEST(ProcFsProcessTableTests, startTicksAreFieldTwentyTwoCountedAfterTheLastParenthesis) {
    // Field 22 is 12345 in each; the names would shift a count from the start.
    for (const std::string name : {"(sleep)", "(a) b (c) 1 2 3)", "( )", "(x\ny)"}) {
        const std::string line = "4242 " + name +
                                 " S 77 4242 4242 0 -1 4194304 100 0 0 0 250 50 0 0 20 0 1 0 12345 1000000 300 "
                                 "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n";
        EXPECT_EQ(ProcFsProcessTable::parseStartTicks(line), 12345u) << name;
    }
    EXPECT_FALSE(ProcFsProcessTable::parseStartTicks(""));
    EXPECT_FALSE(ProcFsProcessTable::parseStartTicks("1 (x) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0\n")); // cut short
    EXPECT_FALSE(ProcFsProcessTable::parseStartTicks("1 (x) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 -5 1\n"));
    EXPECT_FALSE(ProcFsProcessTable::parseStartTicks("1 x S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5 1\n"));

    TempDir root;
    root.write("17/stat", "17 (claude) S 1 17 17 0 -1 0 0 0 0 0 10 10 0 0 20 0 1 0 987654 1 5 0\n");
    ProcFsProcessTable fake(root.path().string());
    EXPECT_EQ(fake.startTicks(17), 987654u);
    EXPECT_FALSE(fake.startTicks(18));
}

TEST(ProcFsProcessTableTests, startTicksOfRealProcessesFollowTheirStartOrder) {
    const auto uptimeTicks = [] {
        double seconds = 0;
        std::ifstream("/proc/uptime") >> seconds;
        return static_cast<uint64_t>(seconds * static_cast<double>(sysconf(_SC_CLK_TCK)));
    };
    auto table = ProcessTable::system();
    const auto own = table->startTicks(getpid());
    ASSERT_TRUE(own);
    ChildProcess first("/bin/sleep", {"first", "30"});
    ASSERT_TRUE(brindleaf::testing::waitForExec(first.pid(), "first"));
    const auto firstTicks = table->startTicks(first.pid());
    ChildProcess second("/bin/sleep", {"second", "30"});
    ASSERT_TRUE(brindleaf::testing::waitForExec(second.pid(), "second"));
    const auto secondTicks = table->startTicks(second.pid());
    ASSERT_TRUE(firstTicks && secondTicks);
    EXPECT_LE(*own, *firstTicks);
    EXPECT_LE(*firstTicks, *secondTicks);
    EXPECT_LE(*secondTicks, uptimeTicks() + 1);
    EXPECT_EQ(table->startTicks(first.pid()), firstTicks); // it stays with the process
    const int64_t ended = first.pid();
    first.kill();
    EXPECT_FALSE(table->startTicks(ended));
}
