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

// One background refresh, shared by its thread and the readers that judge
// whether it hangs. Its thread says which read it is in; a reader gives it
// up (under the cache lock) and its thread then stops and stores nothing.
struct Sampling {
    explicit Sampling(double at) : startedAt(at) {}

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

    const double startedAt; // sampler's clock
    // Pid and read (encode) the thread is in now, or betweenReads; one word,
    // so a reader never sees the pid of one read with the kind of another.
    std::atomic<uint64_t> reading{betweenReads};
    std::atomic<bool> givenUp{false};
    bool reported = false; // its hang was logged (cache lock)
};

// The table as a sampling's thread reads it: each read is announced in the
// sampling while it runs. Nothing is locked around a read.
class WatchedTable final : public ProcessTable {
public:
    WatchedTable(ProcessTable& table, Sampling& sampling) : table_(table), sampling_(sampling) {}

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
        sampling_.reading.store(Sampling::encode(pid, read));
        auto result = function();
        sampling_.reading.store(Sampling::betweenReads);
        return result;
    }

    ProcessTable& table_;
    Sampling& sampling_;
};

// Process-wide state; never destroyed, so a background refresh still running
// while the process exits touches nothing that is gone.
struct State {
    std::mutex sourceLock;
    std::shared_ptr<ProcessTable> table;
    std::function<double()> clock;
    double firstSampleWaitSeconds = firstSampleWait;
    std::function<void()> beforeFirstSampleCheck;
    bool refusesThreads = false;

    std::mutex baselineLock;
    std::shared_ptr<const CpuBaselines> baselines = std::make_shared<const CpuBaselines>();

    std::mutex cacheLock;
    std::optional<CachedSnapshot> cached;
    std::shared_ptr<Sampling> running; // the current background refresh
    std::shared_ptr<Sampling> givenUp; // a refresh given up, its thread still in the read that hung
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

struct Sampled {
    SampleList samples;
    std::shared_ptr<const CpuBaselines> baselines;
};

// Every process `table` lists, in listing order, against the current
// baselines. A process that `stuck` (a given-up refresh) is reading now is
// left out: its read would hang here too. Stops early once `self` is given up.
Sampled sampleTable(ProcessTable& table, const Sampling* stuck, const Sampling* self) {
    const auto baselines = currentBaselines();
    const double at = now();
    auto newBaselines = std::make_shared<CpuBaselines>();
    const std::vector<int64_t> pids = table.allPIDs();
    newBaselines->reserve(pids.size());
    SampleList samples;
    samples.reserve(pids.size());
    for (int64_t pid : pids) {
        if (self && self->givenUp.load()) break;
        if (pid < 1 || (stuck && stuck->isReading(pid))) continue;
        if (auto sampled = sampleWith(table, *baselines, pid, at, *newBaselines))
            samples.push_back(std::move(*sampled));
    }
    return Sampled{std::move(samples), std::move(newBaselines)};
}

std::shared_ptr<const Sampling> givenUpSampling() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.cacheLock);
    return s.givenUp;
}

// The background refresh's thread. Its list and baselines are stored only
// while it is still the current refresh; a given-up one leaves them to the
// refresh that replaced it.
void refreshCache(const std::shared_ptr<Sampling>& sampling, const std::shared_ptr<const Sampling>& stuck) {
    const auto table = currentTable();
    WatchedTable watched(*table, *sampling);
    Sampled sampled = sampleTable(watched, stuck.get(), sampling.get());
    auto samples = std::make_shared<const SampleList>(std::move(sampled.samples));
    State& s = state();
    const double storedAt = now();
    {
        std::lock_guard<std::mutex> guard(s.cacheLock);
        if (s.running == sampling) {
            s.cached = CachedSnapshot{storedAt, std::move(samples)};
            {
                std::lock_guard<std::mutex> baselineGuard(s.baselineLock);
                s.baselines = std::move(sampled.baselines);
            }
            s.running.reset();
        } else if (s.givenUp == sampling) {
            s.givenUp.reset();
        }
    }
    s.refreshFinished.notify_all();
}

void startRefreshThread(std::shared_ptr<Sampling> sampling, std::shared_ptr<const Sampling> stuck) {
    State& s = state();
    {
        std::lock_guard<std::mutex> guard(s.sourceLock);
        if (s.refusesThreads) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    std::thread(refreshCache, std::move(sampling), std::move(stuck)).detach();
}

// Judges the running refresh at `at` (cache lock held): one still inside a
// read `hungSamplingBound` seconds after its start hangs. It is given up
// (moved to `givenUp`, so a new one can start) unless another given-up one
// is still stuck; then it goes on, the cache stays as it is, and once that
// one has ended a later call gives this one up. Answers the line to log: one
// per hung refresh, the first time it is seen hung.
std::optional<std::string> judgeRunningRefresh(State& s, double at) {
    Sampling& running = *s.running;
    if (at - running.startedAt < hungSamplingBound) return std::nullopt;
    const uint64_t reading = running.reading.load();
    if (reading == Sampling::betweenReads) return std::nullopt; // it moves on
    std::string line = "process.sample.hung";
    if (Sampling::readOf(reading) != Read::listing) line += " pid=" + std::to_string(Sampling::pidOf(reading));
    line += std::string(" read=") + nameOf(Sampling::readOf(reading));
    const bool firstReport = !running.reported;
    running.reported = true;
    if (s.givenUp) {
        if (!firstReport) return std::nullopt;
        return line + " restart=later";
    }
    running.givenUp.store(true);
    s.givenUp = std::move(s.running);
    if (!firstReport) return std::nullopt;
    return line;
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
    const auto table = currentTable();
    const auto stuck = givenUpSampling();
    Sampled sampled = sampleTable(*table, stuck.get(), nullptr);
    State& s = state();
    {
        std::lock_guard<std::mutex> guard(s.baselineLock);
        s.baselines = std::move(sampled.baselines);
    }
    return std::move(sampled.samples);
}

std::shared_ptr<const std::vector<ProcessResourceSample>> cachedSampleList(double maxAge) {
    State& s = state();
    std::shared_ptr<const SampleList> answer;
    std::optional<std::string> hung;
    std::shared_ptr<Sampling> started;
    std::shared_ptr<const Sampling> stuck;
    const double at = now(); // read before the lock: no lock is taken while another is held
    {
        std::lock_guard<std::mutex> guard(s.cacheLock);
        if (s.cached && at - s.cached->sampledAt <= maxAge) return s.cached->samples;
        answer = s.cached ? s.cached->samples : emptyList();
        if (s.running) hung = judgeRunningRefresh(s, at);
        if (!s.running) {
            started = s.running = std::make_shared<Sampling>(at);
            stuck = s.givenUp;
        }
    }
    if (hung) logger().error(*hung);
    if (!started) return answer;
    try {
        startRefreshThread(started, std::move(stuck));
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
    // test's clock decides as the monotonic one does). One that takes longer
    // (reading a process's arguments can hang) is left running, not started
    // again, and the empty list is the answer meanwhile; when no thread
    // could run it, the empty list it is at once.
    for (;;) {
        if (s.cached) return s.cached->samples;
        if (!s.running) return answer;
        const double left = s.running->startedAt + bound - clock();
        if (!(left > 0)) return answer;
        // At most an hour per wait: a long bound stays within the clock's range.
        s.refreshFinished.wait_for(guard, std::chrono::duration<double>(std::min(left, 3600.0)));
    }
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
    return s.refreshFinished.wait_for(guard, std::chrono::duration<double>(seconds), [&] { return !s.givenUp; });
}

void reset() {
    waitForCacheRefresh();
    waitForGivenUpRefresh();
    State& s = state();
    {
        std::lock_guard<std::mutex> guard(s.cacheLock);
        s.cached.reset();
    }
    std::lock_guard<std::mutex> guard(s.baselineLock);
    s.baselines = std::make_shared<const CpuBaselines>();
}

} // namespace testing

} // namespace brindleaf::ProcessResourceSampler
