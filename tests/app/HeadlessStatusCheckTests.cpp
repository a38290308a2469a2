#include "app/HeadlessStatusCheck.hpp"
#include "core/ProcessResourceSampler.hpp"
#include "platform/FakeProcessTable.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace brindleaf;
namespace Sampler = brindleaf::ProcessResourceSampler;

namespace {

// A fake table whose read of one process's arguments blocks until let go.
class OneHangingTable final : public ProcessTable {
public:
    FakeProcessTable facts;
    int64_t hanging = 0;

    void release() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            released_ = true;
        }
        changed_.notify_all();
    }
    std::vector<int64_t> allPIDs() override { return facts.allPIDs(); }
    std::optional<Status> status(int64_t pid) override { return facts.status(pid); }
    std::optional<std::string> argumentArea(int64_t pid) override {
        if (pid == hanging) {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [&] { return released_; });
        }
        return facts.argumentArea(pid);
    }
    std::optional<std::string> shortName(int64_t pid) override { return facts.shortName(pid); }
    std::optional<std::string> workingDirectory(int64_t pid) override { return facts.workingDirectory(pid); }
    std::optional<uint64_t> startTicks(int64_t pid) override { return facts.startTicks(pid); }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool released_ = false;
};

ProviderSnapshot provider(const std::string& name, bool timedOut) {
    ProviderSnapshot snapshot = ProviderSnapshot::make(name, std::nullopt, std::nullopt, {}, 0, 0, {});
    snapshot.timedOut = timedOut;
    return snapshot;
}

} // namespace

// A one-shot status names what it leaves out: a process whose read hangs is
// named and the rest stands; an agent that did not answer makes it unknown.
TEST(HeadlessStatusCheckTests, NamesWhatAOneShotStatusLeavesOut) {
    auto table = std::make_shared<OneHangingTable>();
    for (int64_t pid : {10, 20})
        table->facts.set(FakeProcessTable::Process{.pid = pid,
                                                   .parentPID = 1,
                                                   .task = ProcessTable::TaskInfo{4096, 1},
                                                   .argumentArea = FakeProcessTable::arguments({"agent"}),
                                                   .shortName = "agent",
                                                   .workingDirectory = "/work"});
    table->hanging = 20;
    Sampler::testing::setProcessTable(table);
    Sampler::testing::setStuckReadBound(0.1);
    Sampler::testing::reset();
    ASSERT_EQ(Sampler::sampleAll().size(), 1u) << "the process whose read hangs was not left out";

    auto answered = AgentStatusSnapshot::make({provider("Codex", false), provider("Claude Code", false)}, 0);
    EXPECT_EQ(HeadlessStatusCheck::markIncomplete(answered),
              "brindleaf: left out process 20: its cmdline read did not answer within 1 s\n");
    EXPECT_EQ(answered.state, AgentRunState::complete) << "a left-out process alone made the status unknown";

    auto late = AgentStatusSnapshot::make({provider("Codex", false), provider("Claude Code", true)}, 0);
    EXPECT_EQ(HeadlessStatusCheck::markIncomplete(late),
              "brindleaf: left out process 20: its cmdline read did not answer within 1 s\n"
              "brindleaf: Claude Code did not answer in time; the status is unknown\n");
    EXPECT_EQ(late.state, AgentRunState::unknown) << "an agent that did not answer left the status complete";

    table->release();
    EXPECT_TRUE(Sampler::testing::waitForGivenUpRefresh(30)) << "the given-up sampling never ended";
    Sampler::testing::setStuckReadBound(Sampler::stuckReadBound);
    Sampler::testing::setProcessTable(nullptr);
    Sampler::testing::reset();
}
