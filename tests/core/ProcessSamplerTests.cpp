#include "core/ProcessResourceSampler.hpp"
#include "core/ProcessTree.hpp"
#include "platform/FakeProcessTable.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <future>
#include <optional>
#include <sys/times.h>
#include <thread>
#include <unistd.h>

using namespace brindleaf;
namespace Sampler = brindleaf::ProcessResourceSampler;
using brindleaf::testing::ChildProcess;
using brindleaf::testing::TempDir;

namespace {

constexpr uint64_t second = 1000000000ULL;

class ProcessSamplerTests : public ::testing::Test {
protected:
    void SetUp() override {
        table = std::make_shared<FakeProcessTable>();
        Sampler::testing::setProcessTable(table);
        Sampler::testing::setClock([this] { return clock.load(); });
        // A first sampling is waited for as long as any test may need it.
        Sampler::testing::setFirstSampleWait(3600);
        Sampler::testing::reset();
    }
    void TearDown() override {
        table->setListingHook({});
        Sampler::testing::setBeforeFirstSampleCheck({});
        Sampler::testing::setRefusesThreads(false);
        Sampler::testing::setFirstSampleWait(Sampler::firstSampleWait);
        Sampler::testing::reset();
        Sampler::testing::setProcessTable(nullptr);
        Sampler::testing::setClock({});
    }

    void addProcess(int64_t pid, int64_t parent, std::optional<uint64_t> cpuNanoseconds, std::vector<std::string> args,
                    std::optional<std::string> cwd = "/work") {
        FakeProcessTable::Process process;
        process.pid = pid;
        process.parentPID = parent;
        if (cpuNanoseconds) process.task = ProcessTable::TaskInfo{4096 * pid, *cpuNanoseconds};
        if (!args.empty()) process.argumentArea = FakeProcessTable::arguments(args);
        process.shortName = "short" + std::to_string(pid);
        process.workingDirectory = cwd;
        table->set(process);
    }

    static const ProcessResourceSample* find(const std::vector<ProcessResourceSample>& samples, int64_t pid) {
        auto it = std::find_if(samples.begin(), samples.end(), [&](const auto& s) { return s.pid == pid; });
        return it == samples.end() ? nullptr : &*it;
    }

    std::shared_ptr<FakeProcessTable> table;
    std::atomic<double> clock{1000.0};
};

} // namespace

TEST_F(ProcessSamplerTests, cpuPercentComesFromTheBaselineOfThePreviousSampling) {
    addProcess(10, 1, 4 * second, {"node", "codex"});
    auto first = Sampler::sampleAll();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].pid, 10);
    EXPECT_EQ(first[0].parentPID, 1);
    EXPECT_FALSE(first[0].cpuPercent); // first sighting
    EXPECT_EQ(first[0].residentMemoryBytes, 40960);
    EXPECT_EQ(first[0].command, "node codex");
    EXPECT_EQ(first[0].cwd, "/work");

    // 0.5 s of CPU during 2 s: 25 %.
    clock = 1002.0;
    addProcess(10, 1, 4 * second + second / 2, {"node", "codex"});
    auto second_ = Sampler::sampleAll();
    ASSERT_TRUE(second_[0].cpuPercent);
    EXPECT_DOUBLE_EQ(*second_[0].cpuPercent, 25.0);

    // Same time stamp: absent, but the baseline moves on.
    addProcess(10, 1, 5 * second, {"node", "codex"});
    EXPECT_FALSE(Sampler::sampleAll()[0].cpuPercent);
    clock = 1003.0;
    addProcess(10, 1, 7 * second, {"node", "codex"});
    EXPECT_DOUBLE_EQ(Sampler::sampleAll()[0].cpuPercent.value_or(-1), 200.0); // two cores busy

    // CPU total went down (a reused pid): absent, new baseline recorded.
    clock = 1004.0;
    addProcess(10, 1, 1 * second, {"node", "codex"});
    EXPECT_FALSE(Sampler::sampleAll()[0].cpuPercent);
    clock = 1005.0;
    addProcess(10, 1, 1 * second + second / 10, {"node", "codex"});
    EXPECT_NEAR(Sampler::sampleAll()[0].cpuPercent.value_or(-1), 10.0, 1e-9);

    // A process missing from one sampling loses its baseline.
    table->remove(10);
    EXPECT_TRUE(Sampler::sampleAll().empty());
    clock = 1006.0;
    addProcess(10, 1, 9 * second, {"node", "codex"});
    EXPECT_FALSE(Sampler::sampleAll()[0].cpuPercent);
}

TEST_F(ProcessSamplerTests, unreadableFactsRemoveOnlyThemselves) {
    addProcess(20, 1, std::nullopt, {"python3", "-m", "hermes"});    // task info refused
    addProcess(21, 1, second, {}, std::nullopt);                     // no arguments, no cwd
    addProcess(22, 1, second, {"a", "", "b"}, std::string());        // empty argument, empty cwd
    addProcess(23, 1, second, {"claude", "--resume \xFF\xFE", "x"}); // invalid middle argument
    addProcess(24, 1, second, {});
    FakeProcessTable::Process gone;
    gone.pid = 25;
    gone.statusReadable = false;
    gone.argumentArea = FakeProcessTable::arguments({"ghost"});
    table->set(gone);
    FakeProcessTable::Process nameless;
    nameless.pid = 26;
    nameless.parentPID = 1;
    nameless.shortName = std::string("ka\xFFz\0junk", 9);
    table->set(nameless);
    auto p24 = *table->status(24);
    FakeProcessTable::Process noName{.pid = 24, .parentPID = 1, .task = p24.task};
    table->set(noName);

    auto samples = Sampler::sampleAll();
    ASSERT_EQ(samples.size(), 6u); // 25 is left out
    EXPECT_FALSE(find(samples, 25));

    const auto* refused = find(samples, 20);
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->cpuPercent);
    EXPECT_FALSE(refused->residentMemoryBytes);
    EXPECT_EQ(refused->command, "python3 -m hermes");
    EXPECT_EQ(refused->cwd, "/work");

    EXPECT_EQ(find(samples, 21)->command, "short21");
    EXPECT_FALSE(find(samples, 21)->cwd);
    EXPECT_EQ(find(samples, 22)->command, "a b");
    EXPECT_FALSE(find(samples, 22)->cwd);
    EXPECT_EQ(find(samples, 23)->command, "claude x");
    EXPECT_EQ(find(samples, 24)->command, "");
    EXPECT_EQ(find(samples, 26)->command, "ka\xEF\xBF\xBDz");

    // Process-list order is kept.
    std::vector<int64_t> order;
    for (const auto& s : samples) order.push_back(s.pid);
    EXPECT_EQ(order, (std::vector<int64_t>{20, 21, 22, 23, 24, 26}));
}

TEST_F(ProcessSamplerTests, argumentAreaRules) {
    using Sampler::commandLineFromArguments;
    EXPECT_EQ(commandLineFromArguments(std::string("node\0/usr/bin/codex\0exec\0", 25)), "node /usr/bin/codex exec");
    EXPECT_EQ(commandLineFromArguments(std::string("a\0\0\0b", 5)), "a b");
    EXPECT_EQ(commandLineFromArguments("no-terminator"), "no-terminator");
    EXPECT_EQ(commandLineFromArguments(std::string("\0\0", 2)), std::nullopt);
    EXPECT_EQ(commandLineFromArguments(""), std::nullopt);
    EXPECT_EQ(commandLineFromArguments(std::string("\xC3\x28\0", 3)), std::nullopt);
    EXPECT_EQ(commandLineFromArguments("python3 -c sleep"), "python3 -c sleep"); // rewritten title: one argument
}

TEST_F(ProcessSamplerTests, cachedSamplesAnswerAtOnceAndRefreshOnceInTheBackground) {
    addProcess(30, 1, second, {"codex"});
    std::mutex gate;
    std::condition_variable changed;
    bool open = false;
    int entered = 0;
    table->setListingHook([&] {
        std::unique_lock<std::mutex> lock(gate);
        ++entered;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
    });

    // Nothing cached: the empty list at once, and one refresh starts.
    EXPECT_TRUE(Sampler::cachedSamples(10).empty());
    {
        std::unique_lock<std::mutex> lock(gate);
        changed.wait(lock, [&] { return entered == 1; });
    }
    EXPECT_TRUE(Sampler::testing::isRefreshingCache());
    // A second call while it runs starts none.
    EXPECT_TRUE(Sampler::cachedSamples(10).empty());
    {
        std::lock_guard<std::mutex> lock(gate);
        open = true;
    }
    changed.notify_all();
    Sampler::testing::waitForCacheRefresh();
    EXPECT_EQ(table->listingCount(), 1);
    table->setListingHook({});

    // The stored list, the very same one on every call while fresh.
    auto first = Sampler::cachedSampleList(10);
    ASSERT_EQ(first->size(), 1u);
    EXPECT_EQ((*first)[0].command, "codex");
    EXPECT_EQ(Sampler::cachedSampleList(10).get(), first.get());

    // Exactly 10 s old is still fresh; beyond it the stale list is answered
    // and one refresh starts.
    clock = clock + 10.0;
    EXPECT_EQ(Sampler::cachedSampleList(10).get(), first.get());
    EXPECT_FALSE(Sampler::testing::isRefreshingCache());
    addProcess(31, 30, second, {"codex", "child"});
    clock = clock + 0.001;
    EXPECT_EQ(Sampler::cachedSampleList(10).get(), first.get());
    Sampler::testing::waitForCacheRefresh();
    EXPECT_EQ(table->listingCount(), 2);
    auto renewed = Sampler::cachedSamples(10);
    EXPECT_EQ(renewed.size(), 2u);

    // The reader handed to providers reads the same cache.
    EXPECT_EQ(Sampler::cachedReader(10)(), renewed);
    EXPECT_EQ(Sampler::freshReader()().size(), 2u);
}

// The providers' reader: its first call waits for the first sampling instead
// of answering with an empty list; later calls answer at once, stale or not.
TEST_F(ProcessSamplerTests, theReaderWaitsForTheFirstSamplingOnly) {
    addProcess(30, 1, second, {"claude"});
    const ProcessSnapshotReader reader = Sampler::cachedReader(10);
    const ProcessSampleList first = reader();
    ASSERT_EQ(first.size(), 1u) << "the first call answered before the first sampling";
    EXPECT_EQ(first[0].command, "claude");
    EXPECT_EQ(table->listingCount(), 1);

    // Stale now, and the next sampling held up: the stale list comes at once.
    // The gate is shared with the sampling's thread, which may reach it only
    // after the test has let it go (on a busy machine), and the test waits
    // for that thread to end.
    struct Gate {
        std::mutex lock;
        std::condition_variable changed;
        bool released = false;
        std::optional<ProcessSampleList> later;
    };
    const auto gate = std::make_shared<Gate>();
    table->setListingHook([gate] {
        std::unique_lock<std::mutex> lock(gate->lock);
        gate->changed.wait(lock, [&] { return gate->released; });
    });
    clock = clock + 11;
    std::thread late([&] {
        auto list = reader();
        std::lock_guard<std::mutex> lock(gate->lock);
        gate->later = std::move(list);
        gate->changed.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(gate->lock);
        gate->changed.wait_for(lock, std::chrono::seconds(30), [&] { return gate->later.has_value(); });
        EXPECT_TRUE(gate->later) << "a later call waited for the sampling";
        gate->released = true;
    }
    gate->changed.notify_all();
    late.join();
    Sampler::testing::waitForCacheRefresh();
    const std::optional<ProcessSampleList>& later = gate->later;
    EXPECT_TRUE(later && later->sharesStorageWith(first));
}

// The first sampling stored after the reader looked at the cache, before it
// checks again: the stored list is the answer, not the empty stand-in.
TEST_F(ProcessSamplerTests, theReaderAnswersWithAFirstSamplingStoredBeforeItsCheck) {
    addProcess(30, 1, second, {"claude"});
    Sampler::testing::setBeforeFirstSampleCheck([] { Sampler::testing::waitForCacheRefresh(); });
    const auto list = Sampler::sampledList(10);
    EXPECT_EQ(list->size(), 1u) << "the empty stand-in was the answer";
    EXPECT_EQ(list.get(), Sampler::cachedSampleList(10).get());
}

// No thread to be had for the first sampling: the first call answers with the
// empty list at once instead of waiting for a sampling that never started;
// the next call samples.
TEST_F(ProcessSamplerTests, withoutAThreadTheFirstCallAnswersEmptyAndTheNextOneSamples) {
    addProcess(30, 1, second, {"claude"});
    Sampler::testing::setRefusesThreads(true);
    auto first = std::async(std::launch::async, [] { return Sampler::sampledList(10); });
    EXPECT_EQ(first.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the first call waits for a sampling no thread runs";
    EXPECT_FALSE(Sampler::testing::isRefreshingCache());
    EXPECT_EQ(table->listingCount(), 0);

    // This sampling also ends a wait the first call may still be in.
    Sampler::testing::setRefusesThreads(false);
    EXPECT_EQ(Sampler::sampledList(10)->size(), 1u);
    EXPECT_TRUE(first.get()->empty());
}

TEST(ProcessTreeTests, sumsRootsAndDescendantsOnce) {
    auto make = [](int64_t pid, int64_t parent, std::optional<double> cpu, std::optional<int64_t> rss) {
        return ProcessResourceSample{.pid = pid,
                                     .parentPID = parent,
                                     .cpuPercent = cpu,
                                     .residentMemoryBytes = rss,
                                     .command = "p",
                                     .cwd = std::nullopt};
    };
    std::vector<ProcessResourceSample> samples = {
        make(9, 1, 10.0, 100),
        make(11, 9, 5.0, 50),
        make(12, 9, std::nullopt, 25),
        make(13, 99, 1.0, 1),
        make(40, 40, 1.0, 7), // its own parent
        make(50, 52, 2.0, std::nullopt),
        make(51, 50, 3.0, std::nullopt),
        make(52, 51, std::nullopt, std::nullopt),
    };
    ProcessTree tree(samples);

    auto usage = tree.resourceUsage({5, 9});
    ASSERT_TRUE(usage);
    EXPECT_EQ(usage->pid, 5); // the smallest root, even when missing
    EXPECT_EQ(usage->processCount, 3);
    EXPECT_EQ(usage->cpuPercent, 15.0);
    EXPECT_EQ(usage->residentMemoryBytes, 175);

    EXPECT_FALSE(tree.resourceUsage({5, 6}));
    EXPECT_FALSE(tree.resourceUsage({}));

    auto self = tree.resourceUsage({40});
    ASSERT_TRUE(self);
    EXPECT_EQ(self->processCount, 1);

    auto cycle = tree.resourceUsage({50});
    ASSERT_TRUE(cycle);
    EXPECT_EQ(cycle->processCount, 3);
    EXPECT_EQ(cycle->cpuPercent, 5.0);
    EXPECT_FALSE(cycle->residentMemoryBytes); // none present: absent, not 0

    auto onlyMissingCPU = tree.resourceUsage({52});
    ASSERT_TRUE(onlyMissingCPU);
    EXPECT_EQ(onlyMissingCPU->processCount, 3); // 52 -> 50 -> 51 -> (52 seen)

    EXPECT_FALSE(Sampler::resourceUsage({}, samples));
    EXPECT_EQ(Sampler::resourceUsage({9}, samples)->processCount, 3);

    // A later sample with the same pid replaces the earlier one.
    samples.push_back(make(9, 1, 20.0, 1000));
    EXPECT_EQ(ProcessTree(samples).resourceUsage({9})->residentMemoryBytes, 1075);
}

TEST(ProcessSamplerRealTests, samplesTheMachinesProcessTable) {
    Sampler::testing::reset();
    TempDir dir;
    const auto cwd = std::filesystem::canonical(dir.path());
    ChildProcess leaf("/bin/sleep", {"brindleaf-probe", "60"}, cwd);
    ChildProcess shell("/bin/sh", {"brindleaf-shell", "-c", "/bin/sleep 61 & /bin/sleep 62 & wait"}, cwd);

    // Wait until the shell has started both children.
    std::vector<ProcessResourceSample> samples;
    std::vector<pid_t> grandchildren;
    struct Reaper {
        std::vector<pid_t>& pids;
        ~Reaper() {
            for (pid_t pid : pids) ::kill(pid, SIGKILL);
        }
    } reaper{grandchildren};
    for (int attempt = 0; attempt < 500; ++attempt) {
        samples = Sampler::sampleAll();
        auto children = std::count_if(samples.begin(), samples.end(), [&](const auto& s) {
            return s.parentPID == shell.pid() && s.command.rfind("/bin/sleep 6", 0) == 0;
        });
        if (children == 2) {
            for (const auto& s : samples)
                if (s.parentPID == shell.pid()) grandchildren.push_back(static_cast<pid_t>(s.pid));
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    auto find = [&](int64_t pid) -> const ProcessResourceSample* {
        for (const auto& s : samples)
            if (s.pid == pid) return &s;
        return nullptr;
    };
    const auto* probe = find(leaf.pid());
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->command, "brindleaf-probe 60");
    EXPECT_EQ(probe->parentPID, getpid());
    EXPECT_EQ(probe->cwd, cwd.string());
    ASSERT_TRUE(probe->residentMemoryBytes);

    const auto* self = find(getpid());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->parentPID, getppid());
    EXPECT_GT(self->residentMemoryBytes.value_or(0), 0);
    EXPECT_EQ(self->cwd, std::filesystem::current_path().string());

    auto usage = Sampler::resourceUsage({shell.pid()}, samples);
    ASSERT_TRUE(usage);
    EXPECT_EQ(usage->pid, shell.pid());
    EXPECT_EQ(usage->processCount, 3);
    int64_t memory = 0;
    for (const auto& s : samples)
        if (s.pid == shell.pid() || s.parentPID == shell.pid()) memory += s.residentMemoryBytes.value_or(0);
    EXPECT_EQ(usage->residentMemoryBytes, memory);

    // Both roots at once: the smaller id, every process once.
    auto both = Sampler::resourceUsage({leaf.pid(), shell.pid()}, samples);
    ASSERT_TRUE(both);
    EXPECT_EQ(both->processCount, 4);
    EXPECT_EQ(both->pid, std::min(leaf.pid(), shell.pid()));

    // Burn CPU until the kernel has counted two more ticks of it, however
    // loaded the machine: the next sampling gives this process a CPU percentage.
    const auto cpuTicks = [] {
        tms now{};
        times(&now);
        return now.tms_utime + now.tms_stime;
    };
    const clock_t burnedFrom = cpuTicks();
    volatile uint64_t spin = 0;
    while (cpuTicks() < burnedFrom + 2) spin = spin + 1;
    auto next = Sampler::sampleAll();
    auto me = std::find_if(next.begin(), next.end(), [](const auto& s) { return s.pid == getpid(); });
    ASSERT_NE(me, next.end());
    ASSERT_TRUE(me->cpuPercent);
    EXPECT_GT(*me->cpuPercent, 0.0);

    // A process that ended is gone from the next sampling.
    const int64_t ended = leaf.pid();
    leaf.kill();
    auto after = Sampler::sampleAll();
    EXPECT_TRUE(std::none_of(after.begin(), after.end(), [&](const auto& s) { return s.pid == ended; }));
    EXPECT_EQ(Sampler::commandLine(ended), std::nullopt);
    EXPECT_EQ(Sampler::processName(ended), "");
    EXPECT_EQ(Sampler::workingDirectory(ended), std::nullopt);
    EXPECT_EQ(Sampler::processName(shell.pid()), "sh");
}
