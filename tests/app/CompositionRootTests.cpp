#include "app/CompositionRoot.hpp"
#include "core/ProcessResourceSampler.hpp"
#include "platform/FakeProcessTable.hpp"
#include "tests/providers/claude/ClaudeFixtures.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>
#include <utility>

using namespace brindleaf;

TEST(CompositionRoot, TheApplicationSharesTheCachedProcessListAndTheCommandLineSamplesAfresh) {
    ProcessResourceSampler::testing::reset();
    const ProcessSnapshotReader application = CompositionRoot::processSnapshotReader(false);
    application();
    ProcessResourceSampler::testing::waitForCacheRefresh();
    const ProcessSampleList first = application();
    EXPECT_FALSE(first.empty());
    EXPECT_TRUE(first.sharesStorageWith(application()));

    const ProcessSnapshotReader commandLine = CompositionRoot::processSnapshotReader(true);
    EXPECT_FALSE(commandLine().sharesStorageWith(commandLine()));
    ProcessResourceSampler::testing::reset();
}

namespace {

// A process table whose listing hangs until released, as reading a process's
// arguments does while its memory map is locked (a hung FUSE mount), in the
// sampler's place; the sampler as a freshly started process finds it.
struct HangingProcessTable {
    std::shared_ptr<FakeProcessTable> table = std::make_shared<FakeProcessTable>();
    std::promise<void> released;
    bool isReleased = false;

    explicit HangingProcessTable(double firstSampleWait) {
        for (const auto& [pid, command] : std::vector<std::pair<int64_t, std::string>>{{1, "init"}, {40, "bash"}}) {
            FakeProcessTable::Process process;
            process.pid = pid;
            process.parentPID = pid == 1 ? 0 : 1;
            process.argumentArea = FakeProcessTable::arguments({command});
            process.workingDirectory = "/";
            table->set(process);
        }
        table->setListingHook([release = released.get_future().share()] { release.wait(); });
        ProcessResourceSampler::testing::setProcessTable(table);
        ProcessResourceSampler::testing::reset();
        ProcessResourceSampler::testing::setFirstSampleWait(firstSampleWait);
    }
    void release() {
        if (!std::exchange(isReleased, true)) released.set_value();
    }
    ~HangingProcessTable() {
        release();
        ProcessResourceSampler::testing::setFirstSampleWait(ProcessResourceSampler::firstSampleWait);
        ProcessResourceSampler::testing::reset();
        ProcessResourceSampler::testing::setProcessTable(nullptr);
    }
};

// The first provider that timed out or was still running, else "".
std::string lateScan(const AgentStatusSnapshot& snapshot) {
    for (const auto& provider : snapshot.providerSnapshots)
        for (const auto& error : provider.errors)
            if (error.find("timed out") != std::string::npos || error.find("still running") != std::string::npos)
                return error;
    return {};
}

} // namespace

// The application's first process sampling hangs: its first refreshes answer
// without it, judging against no processes, and start no second sampling;
// once it has ended, its list is the one judged against.
TEST(CompositionRoot, TheFirstRefreshesAnswerWhileTheFirstProcessSamplingHangs) {
    brindleaf::testing::TempDir dir;
    const auto home = dir / "home";
    // A Claude Code session whose tool call was open when it ended a minute
    // ago: shown while its engine cannot be judged, gone once a process table
    // without it is.
    const Date endedAt = std::floor(currentDate()) - 60;
    const std::string cwd = (home / "shop").string();
    const auto transcript = home / ".claude" / "projects" / "-home-shop" / "7d3c0f52-9a41-4c8e-b2f6-0123456789ab.jsonl";
    brindleaf::testing::writeFile(transcript, claudefixtures::Transcript("7d3c0f52-9a41-4c8e-b2f6-0123456789ab", cwd)
                                                  .prompt("Please fix the build", endedAt - 2)
                                                  .toolUse("msg_1", "toolu_1", "Bash", {{"command", "make"}}, endedAt)
                                                  .text());
    brindleaf::testing::setFileTime(transcript, endedAt);

    // A short wait for the first sample, and a long provider limit: a scan
    // that waited for the sampling could not answer in time.
    HangingProcessTable processes(0.05);
    const auto service =
        CompositionRoot::makeStatusService((home / ".codex").string(), std::nullopt, false, 30, home.string());
    const Date now = currentDate();
    for (int refresh = 0; refresh < 2; ++refresh) {
        const AgentStatusSnapshot snapshot = service->snapshot(now + 1.5 * refresh);
        EXPECT_EQ(lateScan(snapshot), "") << "refresh " << refresh;
        EXPECT_EQ(snapshot.activeSessions.size(), 1u)
            << "refresh " << refresh << " did not judge the session against an empty process list";
    }
    // The first sampling's thread may reach the listing only now, on a busy machine.
    for (int tries = 0; tries < 3000 && processes.table->listingCount() == 0; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(processes.table->listingCount(), 1) << "the first sampling never listed the processes, or a second "
                                                     "sampling started while the first one ran";

    processes.release();
    ProcessResourceSampler::testing::waitForCacheRefresh();
    const AgentStatusSnapshot judged = service->snapshot(now + 3);
    EXPECT_EQ(lateScan(judged), "");
    EXPECT_TRUE(judged.activeSessions.empty()) << "the process sample taken was not judged against";
}
