#include "core/ProcessResourceSampler.hpp"

#include "core/Date.hpp"
#include "core/ProcessTree.hpp"
#include "core/TextUtils.hpp"
#include "platform/Logger.hpp"
#include "platform/ProcessTable.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace brindleaf::ProcessResourceSampler {

namespace {

using SampleList = std::vector<ProcessResourceSample>;

struct CachedSnapshot {
    double sampledAt = 0; // monotonic seconds
    std::shared_ptr<const SampleList> samples;
};

struct Sampled {
    SampleList samples;
    std::shared_ptr<const CpuBaselines> baselines;
};

// The process table's reads, as a hung sampling names them.
enum class Read : uint64_t { listing = 1, status, cmdline, comm, cwd };

const char* nameOf(Read read) {
    switch (read) {
    case Read::listing:
        return "listing";
    case Read::status:
        return "status";
    case Read::cmdline:
        return "cmdline";
    case Read::comm:
        return "comm";
    case Read::cwd:
        return "cwd";
    }
    return "unknown";
}

// One sampling on a thread of its own (a background refresh of the cache,
// or a fresh sampling a caller waits for), shared by its thread and the
// callers that judge whether it hangs. Its thread says which read it is in
// and since when; a caller gives it up (under the cache lock) and its thread
// then stops and stores nothing.
struct Sampling {
    Sampling(double at, bool freshSampling, std::vector<std::shared_ptr<const Sampling>> stuck)
        : startedAt(at), fresh(freshSampling), skipping(std::move(stuck)) {}

    static constexpr uint64_t betweenReads = 0;
    static uint64_t encode(int64_t pid, Read read) {
        return (static_cast<uint64_t>(pid) << 3) | static_cast<uint64_t>(read);
    }
    static int64_t pidOf(uint64_t reading) { return static_cast<int64_t>(reading >> 3); }
    static Read readOf(uint64_t reading) { return static_cast<Read>(reading & 7); }

    bool isReading(int64_t pid) const {
        const uint64_t now = reading.load();
        return now != betweenReads && readOf(now) != Read::listing && pidOf(now) == pid;
    }
    // Whether any of the given-up samplings it started beside is reading `pid` now.
    bool skips(int64_t pid) const {
        return std::any_of(skipping.begin(), skipping.end(),
                           [pid](const auto& stuck) { return stuck->isReading(pid); });
    }

    const double startedAt; // sampler's clock
    const bool fresh;       // sampleAll's, not the cache's
    // The given-up samplings still stuck when it started: their processes are left out.
    const std::vector<std::shared_ptr<const Sampling>> skipping;
    // Pid and read (encode) the thread is in now, or betweenReads; one word,
    // so a reader never sees the pid of one read with the kind of another.
    std::atomic<uint64_t> reading{betweenReads};
    // When the current read began (stored before `reading`).
    std::atomic<double> readStartedAt{0};
    std::atomic<bool> givenUp{false};
    bool reported = false;           // its hang was logged (cache lock)
    uint64_t stuckOn = betweenReads; // the read it was given up in (cache lock)
    bool done = false;               // its thread has ended (cache lock)
    std::optional<Sampled> result;   // a fresh sampling's list (cache lock)
};

// The table as a sampling's thread reads it: each read is announced in the
// sampling while it runs. Nothing is locked around a read.
class WatchedTable final : public ProcessTable {
public:
    WatchedTable(ProcessTable& table, Sampling& sampling, std::function<double()> clock)
        : table_(table), sampling_(sampling), clock_(std::move(clock)) {}

    std::vector<int64_t> allPIDs() override {
        return watched(0, Read::listing, [&] { return table_.allPIDs(); });
    }
    std::optional<Status> status(int64_t pid) override {
        return watched(pid, Read::status, [&] { return table_.status(pid); });
    }
    std::optional<std::string> argumentArea(int64_t pid) override {
        return watched(pid, Read::cmdline, [&] { return table_.argumentArea(pid); });
    }
    std::optional<std::string> shortName(int64_t pid) override {
        return watched(pid, Read::comm, [&] { return table_.shortName(pid); });
    }
    std::optional<std::string> workingDirectory(int64_t pid) override {
        return watched(pid, Read::cwd, [&] { return table_.workingDirectory(pid); });
    }
    std::optional<uint64_t> startTicks(int64_t pid) override {
        return watched(pid, Read::status, [&] { return table_.startTicks(pid); });
    }

private:
    template <typename ReadFunction>
    auto watched(int64_t pid, Read read, ReadFunction&& function) -> decltype(function()) {
        sampling_.readStartedAt.store(clock_());
        sampling_.reading.store(Sampling::encode(pid, read));
        auto result = function();
        sampling_.reading.store(Sampling::betweenReads);
        return result;
    }

    ProcessTable& table_;
    Sampling& sampling_;
    std::function<double()> clock_;
};

// Process-wide state; never destroyed, so a background refresh still running
// while the process exits touches nothing that is gone.
struct State {
    std::mutex sourceLock;
    std::shared_ptr<ProcessTable> table;
    std::function<double()> clock;
    double firstSampleWaitSeconds = firstSampleWait;
    double stuckReadSeconds = stuckReadBound;
    std::function<void()> beforeFirstSampleCheck;
    bool refusesThreads = false;

    std::mutex baselineLock;
    std::shared_ptr<const CpuBaselines> baselines = std::make_shared<const CpuBaselines>();

    std::mutex freshLock; // one fresh sampling at a time

    std::mutex cacheLock;
    std::optional<CachedSnapshot> cached;
    std::shared_ptr<Sampling> running;              // the current background refresh
    std::vector<std::shared_ptr<Sampling>> givenUp; // given up, their threads still in the read that hung
    int returnsUnlogged = 0;                          // returned, their line not yet written
    bool capReported = false;                       // the cap's line was logged for the current hold
    std::size_t incompleteFresh = 0;
    std::condition_variable refreshFinished;
};

State& state() {
    static State* const shared = new State;
    return *shared;
}

std::shared_ptr<ProcessTable> currentTable() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    return s.table ? s.table : ProcessTable::system();
}

std::function<double()> currentClock() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    if (s.clock) return s.clock;
    return monotonicSeconds;
}

double now() { return currentClock()(); }

double firstSampleWaitSeconds() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    return s.firstSampleWaitSeconds;
}

double stuckReadSeconds() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    return s.stuckReadSeconds;
}

const Logger& logger() {
    static const Logger* const shared = new Logger("Processes");
    return *shared;
}

std::shared_ptr<const CpuBaselines> currentBaselines() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.baselineLock);
    return s.baselines;
}

const std::shared_ptr<const SampleList>& emptyList() {
    static const auto* const empty = new std::shared_ptr<const SampleList>(std::make_shared<const SampleList>());
    return *empty;
}

std::optional<double> cpuPercentSince(const CpuBaselines& baselines, int64_t pid, uint64_t total, double at) {
    auto it = baselines.find(pid);
    if (it == baselines.end()) return std::nullopt;
    if (total < it->second.cpuTimeNanoseconds) return std::nullopt;
    const double elapsed = at - it->second.sampledAt;
    if (!(elapsed > 0)) return std::nullopt;
    return static_cast<double>(total - it->second.cpuTimeNanoseconds) / 1e9 / elapsed * 100.0;
}

std::optional<std::string> commandLineOf(ProcessTable& table, int64_t pid) {
    auto area = table.argumentArea(pid);
    if (!area) return std::nullopt;
    return commandLineFromArguments(*area);
}

std::string processNameOf(ProcessTable& table, int64_t pid) {
    auto name = table.shortName(pid);
    if (!name) return std::string();
    std::string_view bytes(*name);
    bytes = bytes.substr(0, bytes.find('\0'));
    return isValidUTF8(bytes) ? std::string(bytes) : repairUTF8(bytes);
}

std::optional<std::string> workingDirectoryOf(ProcessTable& table, int64_t pid) {
    auto cwd = table.workingDirectory(pid);
    if (!cwd || cwd->empty()) return std::nullopt;
    if (!isValidUTF8(*cwd)) return repairUTF8(*cwd);
    return cwd;
}

std::optional<ProcessResourceSample> sampleWith(ProcessTable& table, const CpuBaselines& baselines, int64_t pid,
                                                double at, CpuBaselines& newBaselines) {
    auto status = table.status(pid);
    if (!status) return std::nullopt;
    ProcessResourceSample sample;
    sample.pid = pid;
    sample.parentPID = status->parentPID;
    if (status->task) {
        sample.residentMemoryBytes = status->task->residentMemoryBytes;
        sample.cpuPercent = cpuPercentSince(baselines, pid, status->task->cpuTimeNanoseconds, at);
        newBaselines[pid] = CpuBaseline{at, status->task->cpuTimeNanoseconds};
    }
    if (auto command = commandLineOf(table, pid))
        sample.command = std::move(*command);
    else
        sample.command = processNameOf(table, pid);
    sample.cwd = workingDirectoryOf(table, pid);
    return sample;
}

// Every process `table` lists, in listing order, against the current
// baselines. A process a given-up sampling is reading now is left out: its
// read would hang here too. Stops early once `self` is given up.
Sampled sampleTable(ProcessTable& table, const Sampling& self, double at) {
    const auto baselines = currentBaselines();
    auto newBaselines = std::make_shared<CpuBaselines>();
    const std::vector<int64_t> pids = table.allPIDs();
    newBaselines->reserve(pids.size());
    SampleList samples;
    samples.reserve(pids.size());
    for (int64_t pid : pids) {
        if (self.givenUp.load()) break;
        if (pid < 1 || self.skips(pid)) continue;
        if (auto sampled = sampleWith(table, *baselines, pid, at, *newBaselines))
            samples.push_back(std::move(*sampled));
    }
    return Sampled{std::move(samples), std::move(newBaselines)};
}

std::string describeRead(uint64_t reading) {
    std::string text;
    if (Sampling::readOf(reading) != Read::listing) text += "pid=" + std::to_string(Sampling::pidOf(reading)) + " ";
    return text + "read=" + nameOf(Sampling::readOf(reading));
}

// A sampling's thread. A background refresh stores its list and baselines
// only while it is still the current refresh; a fresh one hands its list to
// its caller; a given-up one stores nothing and says that its read returned.
void runSampling(const std::shared_ptr<Sampling>& sampling) {
    const auto table = currentTable();
    const auto clock = currentClock();
    WatchedTable watched(*table, *sampling, clock);
    Sampled sampled = sampleTable(watched, *sampling, clock());
    State& s = state();
    const double storedAt = clock();
    std::optional<std::string> returned;
    {
        std::lock_guard<std::mutex> guard(s.cacheLock);
        if (sampling->givenUp.load()) {
            std::erase(s.givenUp, sampling);
            s.capReported = false; // below the cap again
            returned = "process.sample.hung.returned " + describeRead(sampling->stuckOn);
            ++s.returnsUnlogged;
        } else if (sampling->fresh) {
            sampling->result = std::move(sampled);
        } else if (s.running == sampling) {
            s.cached = CachedSnapshot{storedAt, std::make_shared<const SampleList>(std::move(sampled.samples))};
            {
                std::lock_guard<std::mutex> baselineGuard(s.baselineLock);
                s.baselines = std::move(sampled.baselines);
            }
            s.running.reset();
        }
        sampling->done = true;
    }
    s.refreshFinished.notify_all();
    if (!returned) return;
    logger().notice(*returned);
    {
        std::lock_guard<std::mutex> guard(s.cacheLock);
        --s.returnsUnlogged;
    }
    s.refreshFinished.notify_all();
}

void startSamplingThread(std::shared_ptr<Sampling> sampling) {
    State& s = state();
    {
        std::lock_guard<std::mutex> guard(s.sourceLock);
        if (s.refusesThreads) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    std::thread(runSampling, std::move(sampling)).detach();
}

std::vector<std::shared_ptr<const Sampling>> stuckSamplings(const State& s) {
    return {s.givenUp.begin(), s.givenUp.end()};
}

// Gives up `sampling`, inside the read `reading`, when fewer than
// stuckThreadCap threads are held by stuck reads (cache lock held). Answers
// the line to log: the hung line the first time it is seen hung, and, while
// the cap keeps it going, the same line with ` restart=later` once per hold.
std::optional<std::string> giveUpLocked(State& s, Sampling& sampling, uint64_t reading, bool& gaveUp) {
    const std::string line = "process.sample.hung " + describeRead(reading);
    const bool firstReport = !sampling.reported;
    sampling.reported = true;
    gaveUp = s.givenUp.size() < stuckThreadCap;
    if (!gaveUp) {
        if (s.capReported) return std::nullopt;
        s.capReported = true;
        return line + " restart=later";
    }
    sampling.givenUp.store(true);
    sampling.stuckOn = reading;
    return firstReport ? std::optional<std::string>(line) : std::nullopt;
}

// Judges the running refresh at `at` (cache lock held): one still inside a
// read `hungSamplingBound` seconds after its start hangs, and is given up
// (moved to `givenUp`, so a new one can start) unless the cap is reached.
std::optional<std::string> judgeRunningRefresh(State& s, double at) {
    Sampling& running = *s.running;
    if (at - running.startedAt < hungSamplingBound) return std::nullopt;
    const uint64_t reading = running.reading.load();
    if (reading == Sampling::betweenReads) return std::nullopt; // it moves on
    bool gaveUp = false;
    auto line = giveUpLocked(s, running, reading, gaveUp);
    if (gaveUp) s.givenUp.push_back(std::move(s.running));
    return line;
}

// Whether `sampling` has been inside one read for `bound` seconds at `at`;
// the read it is in when so.
std::optional<uint64_t> stuckRead(const Sampling& sampling, double at, double bound) {
    const uint64_t reading = sampling.reading.load();
    if (reading == Sampling::betweenReads) return std::nullopt;
    if (at - sampling.readStartedAt.load() < bound) return std::nullopt;
    return reading;
}

} // namespace

std::optional<std::string> commandLineFromArguments(std::string_view area) {
    std::string joined;
    std::size_t i = 0;
    bool any = false;
    while (i < area.size()) {
        std::size_t end = area.find('\0', i);
        if (end == std::string_view::npos) end = area.size();
        const std::string_view argument = area.substr(i, end - i);
        if (!argument.empty() && isValidUTF8(argument)) {
            if (any) joined += ' ';
            joined.append(argument);
            any = true;
        }
        i = end + 1;
    }
    if (!any) return std::nullopt;
    return joined;
}

std::optional<std::string> commandLine(int64_t pid) { return commandLineOf(*currentTable(), pid); }

std::string processName(int64_t pid) { return processNameOf(*currentTable(), pid); }

std::optional<std::string> workingDirectory(int64_t pid) { return workingDirectoryOf(*currentTable(), pid); }

std::optional<uint64_t> startTicks(int64_t pid) { return currentTable()->startTicks(pid); }

std::optional<ProcessResourceSample> sample(int64_t pid, double at, CpuBaselines& newBaselines) {
    return sampleWith(*currentTable(), *currentBaselines(), pid, at, newBaselines);
}

std::vector<ProcessResourceSample> sampleAll() {
    State& s = state();
    std::lock_guard<std::mutex> serial(s.freshLock);
    const auto clock = currentClock();
    const double bound = stuckReadSeconds();
    for (;;) {
        std::shared_ptr<Sampling> sampling;
        {
            std::lock_guard<std::mutex> guard(s.cacheLock);
            sampling = std::make_shared<Sampling>(clock(), true, stuckSamplings(s));
        }
        try {
            startSamplingThread(sampling);
        } catch (const std::system_error&) {
            // No thread to be had: sampled here, as one that hangs cannot be given up anyway.
            const auto table = currentTable();
            Sampled sampled = sampleTable(*table, *sampling, clock());
            std::lock_guard<std::mutex> guard(s.baselineLock);
            s.baselines = std::move(sampled.baselines);
            return std::move(sampled.samples);
        }
        std::optional<std::string> hung;
        bool gaveUp = false;
        bool listing = false;
        {
            std::unique_lock<std::mutex> guard(s.cacheLock);
            // Until it ends or one of its reads has taken `bound` seconds;
            // woken when it ends, else at the moment its current read would
            // pass the bound (read again then: it may have moved on).
            for (;;) {
                if (sampling->done) break;
                const double at = clock();
                if (const auto reading = stuckRead(*sampling, at, bound)) {
                    hung = giveUpLocked(s, *sampling, *reading, gaveUp);
                    if (gaveUp) s.givenUp.push_back(sampling);
                    listing = Sampling::readOf(*reading) == Read::listing;
                    if (!gaveUp || listing) ++s.incompleteFresh;
                    break;
                }
                const uint64_t reading = sampling->reading.load();
                double left = bound;
                if (reading != Sampling::betweenReads) left = sampling->readStartedAt.load() + bound - at;
                s.refreshFinished.wait_for(guard, std::chrono::duration<double>(std::clamp(left, 0.001, 3600.0)));
            }
            if (sampling->done && sampling->result) {
                Sampled sampled = std::move(*sampling->result);
                guard.unlock();
                std::lock_guard<std::mutex> baselineGuard(s.baselineLock);
                s.baselines = std::move(sampled.baselines);
                return std::move(sampled.samples);
            }
        }
        if (hung) logger().error(*hung);
        // Given up: sampled again without that process. A hung listing would
        // hang again, and past the cap no thread is left to try with: the
        // list is then empty, and incompleteFreshSamplings() says so.
        if (!gaveUp || listing) return {};
    }
}

std::shared_ptr<const std::vector<ProcessResourceSample>> cachedSampleList(double maxAge) {
    State& s = state();
    std::shared_ptr<const SampleList> answer;
    std::optional<std::string> hung;
    std::shared_ptr<Sampling> started;
    const double at = now(); // read before the lock: no lock is taken while another is held
    {
        std::lock_guard<std::mutex> guard(s.cacheLock);
        if (s.cached && at - s.cached->sampledAt <= maxAge) return s.cached->samples;
        answer = s.cached ? s.cached->samples : emptyList();
        if (s.running) hung = judgeRunningRefresh(s, at);
        if (!s.running) started = s.running = std::make_shared<Sampling>(at, false, stuckSamplings(s));
    }
    if (hung) logger().error(*hung);
    if (!started) return answer;
    try {
        startSamplingThread(started);
    } catch (const std::system_error&) {
        // No thread to be had: the next call tries again.
        {
            std::lock_guard<std::mutex> guard(s.cacheLock);
            if (s.running == started) s.running.reset();
        }
        s.refreshFinished.notify_all();
    }
    return answer;
}

std::vector<ProcessResourceSample> cachedSamples(double maxAge) { return *cachedSampleList(maxAge); }

std::shared_ptr<const std::vector<ProcessResourceSample>> sampledList(double maxAge) {
    std::shared_ptr<const SampleList> answer = cachedSampleList(maxAge);
    State& s = state();
    const double bound = firstSampleWaitSeconds();
    const double readBound = stuckReadSeconds();
    const auto clock = currentClock();
    std::function<void()> between;
    {
        std::lock_guard<std::mutex> guard(s.sourceLock);
        between = s.beforeFirstSampleCheck;
    }
    if (between) between();
    std::unique_lock<std::mutex> guard(s.cacheLock);
    // Stored meanwhile: the empty stand-in is not the answer.
    if (s.cached) return answer == emptyList() ? s.cached->samples : answer;
    // None stored yet: the running refresh, started above or by an earlier
    // call, is waited for by every caller alike until `bound` after it
    // started, on the sampler's clock (read again after every wake-up, so a
    // test's clock decides as the monotonic one does). One of whose reads
    // takes `readBound` (reading a process's arguments can hang) is given up
    // at once, as the cap allows, and the refresh that replaces it, without
    // that process, is waited for in its turn: the first list leaves out only
    // the process that hangs. A refresh that is only slow is left running,
    // and the empty list is the answer meanwhile; when no thread could run
    // it, the empty list it is at once.
    for (;;) {
        if (s.cached) return s.cached->samples;
        if (!s.running) return answer;
        const double at = clock();
        if (const auto reading = stuckRead(*s.running, at, readBound);
            reading && Sampling::readOf(*reading) != Read::listing && s.givenUp.size() < stuckThreadCap) {
            bool gaveUp = false;
            auto hung = giveUpLocked(s, *s.running, *reading, gaveUp);
            s.givenUp.push_back(std::move(s.running));
            auto replacement = s.running = std::make_shared<Sampling>(at, false, stuckSamplings(s));
            guard.unlock();
            if (hung) logger().error(*hung);
            try {
                startSamplingThread(replacement);
            } catch (const std::system_error&) {
                guard.lock();
                if (s.running == replacement) s.running.reset();
                return answer;
            }
            guard.lock();
            continue;
        }
        double left = s.running->startedAt + bound - at;
        if (!(left > 0)) return answer;
        if (s.running->reading.load() != Sampling::betweenReads)
            left = std::min(left, s.running->readStartedAt.load() + readBound - at);
        // At most an hour per wait: a long bound stays within the clock's range.
        s.refreshFinished.wait_for(guard, std::chrono::duration<double>(std::clamp(left, 0.001, 3600.0)));
    }
}

std::vector<StuckRead> stuckReads() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.cacheLock);
    std::vector<StuckRead> reads;
    for (const auto& sampling : s.givenUp)
        reads.push_back(
            StuckRead{Sampling::readOf(sampling->stuckOn) == Read::listing ? 0 : Sampling::pidOf(sampling->stuckOn),
                      nameOf(Sampling::readOf(sampling->stuckOn))});
    return reads;
}

std::size_t incompleteFreshSamplings() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.cacheLock);
    return s.incompleteFresh;
}

ProcessSnapshotReader cachedReader(double maxAge) {
    return [maxAge] { return ProcessSampleList(sampledList(maxAge)); };
}

ProcessSnapshotReader freshReader() {
    return [] { return sampleAll(); };
}

std::optional<SessionResourceUsage> resourceUsage(const std::set<int64_t>& roots,
                                                  const std::vector<ProcessResourceSample>& samples) {
    if (roots.empty()) return std::nullopt;
    return ProcessTree(samples).resourceUsage(roots);
}

namespace testing {

void setProcessTable(std::shared_ptr<ProcessTable> table) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    s.table = std::move(table);
}

void setClock(std::function<double()> clock) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    s.clock = std::move(clock);
}

void setFirstSampleWait(double seconds) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    s.firstSampleWaitSeconds = seconds;
}

void setStuckReadBound(double seconds) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    s.stuckReadSeconds = seconds;
}

void setBeforeFirstSampleCheck(std::function<void()> hook) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    s.beforeFirstSampleCheck = std::move(hook);
}

void setRefusesThreads(bool refuses) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    s.refusesThreads = refuses;
}

bool isRefreshingCache() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.cacheLock);
    return s.running != nullptr;
}

bool waitForCacheRefresh(double seconds) {
    State& s = state();
    std::unique_lock<std::mutex> guard(s.cacheLock);
    return s.refreshFinished.wait_for(guard, std::chrono::duration<double>(seconds), [&] { return !s.running; });
}

bool waitForGivenUpRefresh(double seconds) {
    State& s = state();
    std::unique_lock<std::mutex> guard(s.cacheLock);
    // Also until each returned read's line is written: it belongs to the
    // test that gave the read up, not to the next one.
    return s.refreshFinished.wait_for(guard, std::chrono::duration<double>(seconds),
                                      [&] { return s.givenUp.empty() && s.returnsUnlogged == 0; });
}

void reset() {
    waitForCacheRefresh();
    waitForGivenUpRefresh();
    State& s = state();
    {
        std::lock_guard<std::mutex> guard(s.cacheLock);
        s.cached.reset();
        s.incompleteFresh = 0;
        s.capReported = false;
    }
    std::lock_guard<std::mutex> guard(s.baselineLock);
    s.baselines = std::make_shared<const CpuBaselines>();
}

} // namespace testing

} // namespace brindleaf::ProcessResourceSampler
