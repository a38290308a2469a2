#include "core/ProcessResourceSampler.hpp"
#include "platform/FakeProcessTable.hpp"
#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace brindleaf;
namespace Sampler = brindleaf::ProcessResourceSampler;

namespace {

constexpr auto generously = std::chrono::seconds(30);
constexpr double generousSeconds = 30;
constexpr uint64_t second = 1000000000ULL;

// The facts of a FakeProcessTable, except that reading the arguments of a
// process marked hanging blocks until the test lets it go, as a read of
// /proc/PID/cmdline does while that process's memory map is locked. Counts
// the calls in progress at once (a thread stuck in a read stays in one).
class HangingProcessTable final : public ProcessTable {
public:
    FakeProcessTable facts;

    void hang(int64_t pid) {
        std::lock_guard<std::mutex> guard(lock_);
        hanging_.insert(pid);
    }
    void release(std::optional<int64_t> pid = std::nullopt) { // all when absent
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (pid)
                hanging_.erase(*pid);
            else
                hanging_.clear();
        }
        changed_.notify_all();
    }
    // Whether a read of `pid`'s arguments is blocked now (waits for one).
    bool waitUntilHanging(int64_t pid) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, generously, [&] { return blocked_[pid] > 0; });
    }
    int mostCallsAtOnce() const {
        std::lock_guard<std::mutex> guard(lock_);
        return mostCallsAtOnce_;
    }

    std::vector<int64_t> allPIDs() override {
        return counted([&] { return facts.allPIDs(); });
    }
    std::optional<Status> status(int64_t pid) override {
        return counted([&] { return facts.status(pid); });
    }
    std::optional<std::string> argumentArea(int64_t pid) override {
        return counted([&] {
            std::unique_lock<std::mutex> guard(lock_);
            if (hanging_.count(pid)) {
                ++blocked_[pid];
                changed_.notify_all();
                changed_.wait(guard, [&] { return !hanging_.count(pid); });
                --blocked_[pid];
            }
            guard.unlock();
            return facts.argumentArea(pid);
        });
    }
    std::optional<std::string> shortName(int64_t pid) override {
        return counted([&] { return facts.shortName(pid); });
    }
    std::optional<uint64_t> startTicks(int64_t pid) override {
        return counted([&] { return facts.startTicks(pid); });
    }
    std::optional<std::string> workingDirectory(int64_t pid) override {
        return counted([&] { return facts.workingDirectory(pid); });
    }

private:
    template <typename Read>
    auto counted(Read read) -> decltype(read()) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            mostCallsAtOnce_ = std::max(mostCallsAtOnce_, ++callsNow_);
        }
        auto result = read();
        std::lock_guard<std::mutex> guard(lock_);
        --callsNow_;
        return result;
    }

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::set<int64_t> hanging_;
    std::map<int64_t, int> blocked_; // reads held up now
    int callsNow_ = 0;
    int mostCallsAtOnce_ = 0;
};

class ProcessSamplerHangTests : public ::testing::Test {
protected:
    void SetUp() override {
        Logger::setSink(log);
        Sampler::testing::setProcessTable(table);
        Sampler::testing::setClock([this] {
            std::lock_guard<std::mutex> guard(clockLock);
            ++clockReads;
            clockRead.notify_all();
            return clock.load();
        });
        Sampler::testing::setFirstSampleWait(Sampler::firstSampleWait); // the program's own
        Sampler::testing::setStuckReadBound(Sampler::stuckReadBound);
        Sampler::testing::reset();
    }
    void TearDown() override {
        table->release();
        Sampler::testing::setBeforeFirstSampleCheck({});
        // A sampling that never ends even with every read let go fails here
        // instead of holding up the rest of the run.
        const bool ended = Sampler::testing::waitForCacheRefresh(generousSeconds) &&
                           Sampler::testing::waitForGivenUpRefresh(generousSeconds);
        EXPECT_TRUE(ended) << "a sampling never ended after every read was let go";
        if (ended) Sampler::testing::reset();
        EXPECT_LE(table->mostCallsAtOnce(), static_cast<int>(Sampler::stuckThreadCap) + 1)
            << "more sampling threads read at once than the cap on stuck ones and one more";
        Sampler::testing::setProcessTable(nullptr);
        Sampler::testing::setClock({});
        Logger::setSink(nullptr);
    }

    void addProcess(int64_t pid, std::string command, uint64_t cpuNanoseconds = second) {
        table->facts.set(FakeProcessTable::Process{.pid = pid,
                                                   .parentPID = 1,
                                                   .task = ProcessTable::TaskInfo{4096, cpuNanoseconds},
                                                   .argumentArea = FakeProcessTable::arguments({command}),
                                                   .shortName = command,
                                                   .workingDirectory = "/work"});
    }

    // A background refresh at the current clock, waited for.
    std::vector<int64_t> refreshedPIDs() {
        Sampler::cachedSampleList(1);
        if (!Sampler::testing::waitForCacheRefresh(generousSeconds)) {
            ADD_FAILURE() << "the sampling started at " << clock.load() << " never ended";
            return {};
        }
        return pidsOf(*Sampler::cachedSampleList(1));
    }

    static std::vector<int64_t> pidsOf(const std::vector<ProcessResourceSample>& samples) {
        std::vector<int64_t> pids;
        for (const auto& sample : samples) pids.push_back(sample.pid);
        return pids;
    }

    bool waitForLine(const std::string& line) const {
        return log->waitFor([&](const LogRecord& record) { return record.message == line; }, generousSeconds);
    }

    std::vector<std::string> hungLines() const {
        std::vector<std::string> lines;
        for (const auto& record : log->records())
            if (record.category == "Processes") lines.push_back(record.message);
        return lines;
    }

    std::shared_ptr<HangingProcessTable> table = std::make_shared<HangingProcessTable>();
    std::shared_ptr<MemoryLogSink> log = std::make_shared<MemoryLogSink>();
    std::atomic<double> clock{1000.0};
    std::mutex clockLock;
    std::condition_variable clockRead;
    int clockReads = 0;
};

} // namespace

// The program's own bound: a sampling inside a read 9.9 s after its start
// runs on; at 10 s it is given up, logged once, and the next samplings leave
// out the process whose read hangs, until that read returns.
TEST_F(ProcessSamplerHangTests, aHungReadIsGivenUpOnceAndItsProcessLeftOutUntilTheReadReturns) {
    addProcess(10, "claude");
    addProcess(20, "codex");
    addProcess(30, "hermes");
    table->hang(20);
    EXPECT_TRUE(Sampler::cachedSampleList(1)->empty());
    ASSERT_TRUE(table->waitUntilHanging(20)) << "the first sampling never reached the read of 20's arguments";

    clock = 1009.9;
    EXPECT_TRUE(Sampler::cachedSampleList(1)->empty());
    EXPECT_TRUE(hungLines().empty()) << "given up before 10 s";
    EXPECT_EQ(table->facts.listingCount(), 1);

    clock = 1010.0;
    EXPECT_TRUE(Sampler::cachedSampleList(1)->empty());
    const std::vector<std::string> expected = {"process.sample.hung pid=20 read=cmdline"};
    EXPECT_EQ(hungLines(), expected) << "not given up 10 s after its start";
    ASSERT_TRUE(Sampler::testing::waitForCacheRefresh(generousSeconds)) << "the sampling that replaced it never ended";
    EXPECT_EQ(pidsOf(*Sampler::cachedSampleList(1)), (std::vector<int64_t>{10, 30}))
        << "the other processes are not seen from the next sampling on";

    // Still stuck: every later sampling leaves it out, and nothing more is logged.
    clock = 1012.0;
    EXPECT_EQ(refreshedPIDs(), (std::vector<int64_t>{10, 30}));
    EXPECT_EQ(table->facts.listingCount(), 3);

    table->release(20);
    ASSERT_TRUE(Sampler::testing::waitForGivenUpRefresh(generousSeconds)) << "the given-up sampling never ended";
    clock = 1014.0;
    EXPECT_EQ(refreshedPIDs(), (std::vector<int64_t>{10, 20, 30})) << "still left out after its read returned";
    EXPECT_EQ(hungLines(), (std::vector<std::string>{expected[0], "process.sample.hung.returned pid=20 read=cmdline"}));
}

// The hung read returns after the sampling was given up: the snapshot and the
// CPU baselines stay those of the sampling that replaced it.
TEST_F(ProcessSamplerHangTests, aGivenUpSamplingThatEndsLaterStoresNeitherItsListNorItsBaselines) {
    addProcess(10, "claude", 1 * second);
    addProcess(20, "codex"); // the last one listed: the given-up sampling reaches its end
    table->hang(20);
    Sampler::cachedSampleList(10);
    ASSERT_TRUE(table->waitUntilHanging(20)) << "the first sampling never reached the read of 20's arguments";

    addProcess(10, "claude", 1 * second + second / 2);
    clock = 1010.0;
    Sampler::cachedSampleList(10);
    ASSERT_TRUE(Sampler::testing::waitForCacheRefresh(generousSeconds)) << "the sampling was not given up";
    const auto replacement = Sampler::cachedSampleList(10);
    ASSERT_EQ(pidsOf(*replacement), std::vector<int64_t>{10}) << "the sampling was not given up";

    table->release(20);
    ASSERT_TRUE(Sampler::testing::waitForGivenUpRefresh(generousSeconds)) << "the given-up sampling never ended";
    EXPECT_EQ(Sampler::cachedSampleList(10).get(), replacement.get()) << "the given-up sampling stored its list";

    // 2 s of CPU in 10 s since the replacement; 2.5 s in 20 s would be the given-up sampling's baseline.
    addProcess(10, "claude", 3 * second + second / 2);
    clock = 1020.0;
    const auto next = Sampler::sampleAll();
    ASSERT_FALSE(next.empty());
    EXPECT_DOUBLE_EQ(next[0].cpuPercent.value_or(-1), 20.0) << "measured against the given-up sampling's baseline";
}

// Every hung read is given up in its turn, and every later sampling leaves
// out each process stuck; at the cap of three threads held by stuck reads a
// fourth hung sampling is kept (one line says so), no thread more starts and
// the cache stays as it is; a read that returns frees its place and says so.
TEST_F(ProcessSamplerHangTests, eachHungReadIsGivenUpUpToTheCapOfThreadsHeld) {
    for (int64_t pid : {10, 20, 30, 40, 50}) addProcess(pid, "agent");
    for (int64_t pid : {20, 30, 40, 50}) table->hang(pid);
    Sampler::cachedSampleList(1);
    std::vector<std::string> expected;
    double at = 1000.0;
    for (int64_t pid : {20, 30, 40}) {
        SCOPED_TRACE(pid);
        ASSERT_TRUE(table->waitUntilHanging(pid)) << "no sampling reached the read of " << pid << "'s arguments";
        at += 10.0;
        clock = at;
        Sampler::cachedSampleList(1);
        expected.push_back("process.sample.hung pid=" + std::to_string(pid) + " read=cmdline");
        EXPECT_EQ(hungLines(), expected) << "a sampling stuck on " << pid << " was not given up";
    }
    ASSERT_TRUE(table->waitUntilHanging(50)) << "the fourth sampling never reached the read of 50's arguments";
    for (double later : {1040.0, 1050.0, 1060.0}) {
        clock = later;
        EXPECT_TRUE(Sampler::cachedSampleList(1)->empty()) << "at " << later;
    }
    EXPECT_TRUE(Sampler::testing::isRefreshingCache());
    EXPECT_EQ(table->facts.listingCount(), 4) << "a fifth sampling started past the cap";
    expected.push_back("process.sample.hung pid=50 read=cmdline restart=later");
    EXPECT_EQ(hungLines(), expected);

    // One stuck read returns: its line, and the kept one is given up in its turn.
    table->release(30);
    ASSERT_TRUE(waitForLine("process.sample.hung.returned pid=30 read=cmdline"))
        << "no line for the read that returned";
    clock = 1061.0;
    EXPECT_EQ(refreshedPIDs(), (std::vector<int64_t>{10, 30})) << "not every stuck process was left out";
    EXPECT_EQ(table->facts.listingCount(), 5);
    table->release();
}

// The program's own first-sample bound, on the sampler's clock: a first
// sampling 1.4 s old is waited for, one 1.5 s old no longer.
TEST_F(ProcessSamplerHangTests, theFirstSamplingIsWaitedForOneAndAHalfSecondsFromItsStart) {
    addProcess(10, "claude");
    addProcess(20, "codex");
    Sampler::testing::setStuckReadBound(100); // the whole sampling's bound, not one read's
    int readsAtCheck = -1;
    Sampler::testing::setBeforeFirstSampleCheck([&] {
        std::lock_guard<std::mutex> guard(clockLock);
        readsAtCheck = clockReads;
    });
    for (const auto& [elapsed, waits] : {std::pair{1.4, true}, std::pair{1.5, false}}) {
        SCOPED_TRACE(elapsed);
        Sampler::testing::reset();
        clock = 1000.0;
        table->hang(20);
        Sampler::cachedSampleList(10);
        ASSERT_TRUE(table->waitUntilHanging(20)) << "the first sampling never reached the read of 20's arguments";
        clock = 1000.0 + elapsed;
        {
            std::lock_guard<std::mutex> guard(clockLock);
            readsAtCheck = -1;
        }
        auto answer = std::async(std::launch::async, [] { return Sampler::sampledList(10); });
        // Destroyed before the answer (which waits for its call), also when an assertion fails.
        const struct Release {
            HangingProcessTable& table;
            ~Release() { table.release(); }
        } release{*table};
        if (waits) {
            // Once it has read the clock after its check, it has judged the bound.
            {
                std::unique_lock<std::mutex> guard(clockLock);
                ASSERT_TRUE(clockRead.wait_for(guard, generously, [&] {
                    return readsAtCheck >= 0 && clockReads > readsAtCheck;
                })) << "sampledList never read the clock after its check";
            }
            table->release(20);
            ASSERT_EQ(answer.wait_for(generously), std::future_status::ready) << "the stored sampling ends no wait";
            EXPECT_EQ(answer.get()->size(), 2u) << "a first sampling 1.4 s old was not waited for";
        } else {
            ASSERT_EQ(answer.wait_for(generously), std::future_status::ready)
                << "sampledList still waits for a first sampling 1.5 s old";
            EXPECT_TRUE(answer.get()->empty());
            table->release(20);
        }
        ASSERT_TRUE(Sampler::testing::waitForCacheRefresh(generousSeconds)) << "the first sampling never ended";
    }
}

// The first list is awaited by the providers' first scans: a read that hangs
// meanwhile is given up after a second and the list comes from a sampling
// without that process, not empty.
TEST_F(ProcessSamplerHangTests, theFirstListLeavesOutOnlyAProcessWhoseReadHangs) {
    addProcess(10, "claude");
    addProcess(20, "codex");
    addProcess(30, "hermes");
    Sampler::testing::setStuckReadBound(0.2);
    table->hang(20);
    Sampler::cachedSampleList(10);
    ASSERT_TRUE(table->waitUntilHanging(20)) << "the first sampling never reached the read of 20's arguments";
    clock = 1000.2;
    auto answer = std::async(std::launch::async, [] { return Sampler::sampledList(10); });
    const struct Unstick {
        std::atomic<double>& clock;
        HangingProcessTable& table;
        ~Unstick() { // a waiter that never gives up ends at its whole bound, once its read is let go
            clock = 2000.0;
            table.release();
        }
    } unstick{clock, *table};
    ASSERT_EQ(answer.wait_for(generously), std::future_status::ready) << "the first list was never answered";
    EXPECT_EQ(pidsOf(*answer.get()), (std::vector<int64_t>{10, 30})) << "the first list is not the others'";
    EXPECT_EQ(hungLines(), std::vector<std::string>{"process.sample.hung pid=20 read=cmdline"});
}

// A fresh sampling (the headless modes) gives a hung read up after the
// bound, leaves that process out and names it; later ones leave it out at
// once while it stays stuck, and sample it again once it returns.
TEST_F(ProcessSamplerHangTests, aFreshSamplingLeavesOutAProcessWhoseReadHangsAndNamesIt) {
    Sampler::testing::setClock({}); // the bound passes on the monotonic clock
    Sampler::testing::setStuckReadBound(0.2);
    addProcess(10, "claude");
    addProcess(20, "codex");
    addProcess(30, "hermes");
    table->hang(20);
    EXPECT_EQ(pidsOf(Sampler::sampleAll()), (std::vector<int64_t>{10, 30}));
    const auto stuck = Sampler::stuckReads();
    ASSERT_EQ(stuck.size(), 1u);
    EXPECT_EQ(stuck[0].pid, 20);
    EXPECT_EQ(stuck[0].read, "cmdline");
    EXPECT_EQ(pidsOf(Sampler::sampleAll()), (std::vector<int64_t>{10, 30})) << "not left out while still stuck";
    EXPECT_EQ(hungLines(), std::vector<std::string>{"process.sample.hung pid=20 read=cmdline"});
    EXPECT_EQ(Sampler::incompleteFreshSamplings(), 0u);

    table->release(20);
    ASSERT_TRUE(waitForLine("process.sample.hung.returned pid=20 read=cmdline"))
        << "no line for the read that returned";
    EXPECT_TRUE(Sampler::stuckReads().empty());
    EXPECT_EQ(pidsOf(Sampler::sampleAll()), (std::vector<int64_t>{10, 20, 30}));
}

// A refresh past the bound that is between two reads when judged is only
// slow: it goes on and stores its list, and nothing is logged.
TEST_F(ProcessSamplerHangTests, aRefreshThatIsOnlySlowIsNotGivenUp) {
    addProcess(10, "claude");
    addProcess(20, "codex");
    const auto testThread = std::this_thread::get_id();
    std::mutex holdLock;
    std::condition_variable holdChanged;
    bool holding = true;
    bool held = false;
    // The sampling's thread reads the clock between its reads: held there.
    Sampler::testing::setClock([&] {
        if (std::this_thread::get_id() != testThread) {
            std::unique_lock<std::mutex> guard(holdLock);
            held = holding;
            holdChanged.notify_all();
            holdChanged.wait(guard, [&] { return !holding; });
        }
        return clock.load();
    });
    const auto letGo = [&] {
        std::lock_guard<std::mutex> guard(holdLock);
        holding = false;
        holdChanged.notify_all();
    };
    const struct LetGo {
        std::function<void()> go;
        ~LetGo() { go(); }
    } atEnd{letGo};
    Sampler::cachedSampleList(1);
    {
        std::unique_lock<std::mutex> guard(holdLock);
        ASSERT_TRUE(holdChanged.wait_for(guard, generously, [&] { return held; }))
            << "the sampling never read the clock";
    }
    clock = 1100.0;
    Sampler::cachedSampleList(1);
    letGo();
    ASSERT_TRUE(Sampler::testing::waitForCacheRefresh(generousSeconds)) << "the sampling never ended";
    EXPECT_EQ(pidsOf(*Sampler::cachedSampleList(1000)), (std::vector<int64_t>{10, 20}))
        << "the slow sampling did not store its list";
    EXPECT_TRUE(hungLines().empty());
}
