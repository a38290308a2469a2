#include "platform/BoundedCommand.hpp"
#include "platform/ProcessLineage.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace brindleaf;
using brindleaf::testing::TempDir;

namespace {

// A process folder of a made-up /proc: its status (with the parent) and stat
// (with the name in parentheses and the terminal).
void process(const TempDir& proc, int64_t pid, const std::string& name, int64_t parent, long terminal) {
    const std::string folder = std::to_string(pid) + "/";
    proc.write(folder + "status", "Name:\t" + name + "\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t" +
                                      std::to_string(pid) + "\nPPid:\t" + std::to_string(parent) + "\n");
    proc.write(folder + "stat", std::to_string(pid) + " (" + name + ") S " + std::to_string(parent) + " 1 1 " +
                                    std::to_string(terminal) + " -1 4194560\n");
    proc.write(folder + "comm", name + "\n");
}

} // namespace

TEST(ProcessLineage, WalksUpByTheStatusParentWhateverTheNames) {
    TempDir proc;
    process(proc, 40, "sleep", 30, 34816);
    process(proc, 30, "tmux: server", 20, 0); // spaces in the name
    process(proc, 20, "a) b (c", 10, 0);      // parentheses too
    process(proc, 10, "xterm", 1, 0);
    process(proc, 50, "orphan", 99, 0); // parent gone
    const ProcessLineage lineage(proc.path());
    EXPECT_EQ(lineage.ancestry(40), (std::vector<int64_t>{40, 30, 20, 10}));
    EXPECT_EQ(lineage.ancestry(50), (std::vector<int64_t>{50}));
    EXPECT_TRUE(lineage.ancestry(60).empty());
    EXPECT_EQ(lineage.parentOf(30), 20);
    EXPECT_FALSE(lineage.parentOf(60));
    EXPECT_TRUE(lineage.hasTerminal(40));
    EXPECT_FALSE(lineage.hasTerminal(20));
    EXPECT_FALSE(lineage.hasTerminal(60));
    EXPECT_EQ(lineage.nameOf(30), "tmux: server");
    EXPECT_EQ(lineage.ownerOf(40), getuid());
    EXPECT_FALSE(lineage.ownerOf(60));
}

TEST(ProcessLineage, ReadsTheEnvironmentOfThisUsersProcesses) {
    const ProcessLineage lineage;
    setenv("BRINDLEAF_LINEAGE_TEST", "a=b", 1);
    brindleaf::testing::ChildProcess child("/bin/sleep", {"sleep", "30"});
    unsetenv("BRINDLEAF_LINEAGE_TEST");
    const auto own = lineage.environmentOf(child.pid());
    ASSERT_TRUE(own);
    EXPECT_EQ(own->at("BRINDLEAF_LINEAGE_TEST"), "a=b");
    EXPECT_FALSE(lineage.environmentOf(999999999));
    // Another user's process (pid 1 belongs to root) when the tests do not run as root.
    if (getuid() != 0) {
        EXPECT_FALSE(lineage.environmentOf(1));
    }
}

TEST(BoundedCommand, GivesTheOutputOfASuccessOnly) {
    EXPECT_EQ(BoundedCommand::run({"sh", "-c", "echo one; echo two >&2"}, 10), "one\n");
    EXPECT_FALSE(BoundedCommand::run({"sh", "-c", "echo partial; exit 3"}, 10));
    EXPECT_FALSE(BoundedCommand::run({"brindleaf-no-such-program"}, 10));
    EXPECT_FALSE(BoundedCommand::run({}, 10));
    // A program that outlives the bound is killed and gives nothing.
    EXPECT_FALSE(BoundedCommand::run({"sleep", "30"}, 0.05));
}
