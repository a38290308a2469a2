#include "core/ProcessResourceSampler.hpp"

#include "core/Date.hpp"
#include "core/ProcessTree.hpp"
#include "core/TextUtils.hpp"
#include "platform/ProcessTable.hpp"

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
    bool isRefreshingCache = false;
    std::chrono::steady_clock::time_point refreshStartedAt;
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

double now() {
    State& s = state();
    std::function<double()> clock;
    {
        std::lock_guard<std::mutex> guard(s.sourceLock);
        clock = s.clock;
    }
    return clock ? clock() : monotonicSeconds();
}

std::chrono::steady_clock::duration firstSampleWaitBound() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.sourceLock);
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(s.firstSampleWaitSeconds));
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

void refreshCache() {
    auto samples = std::make_shared<const SampleList>(sampleAll());
    State& s = state();
    const double storedAt = now();
    {
        std::lock_guard<std::mutex> guard(s.cacheLock);
        s.cached = CachedSnapshot{storedAt, std::move(samples)};
        s.isRefreshingCache = false;
    }
    s.refreshFinished.notify_all();
}

void startRefreshThread() {
    State& s = state();
    {
        std::lock_guard<std::mutex> guard(s.sourceLock);
        if (s.refusesThreads) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    std::thread(refreshCache).detach();
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

std::optional<ProcessResourceSample> sample(int64_t pid, double at, CpuBaselines& newBaselines) {
    return sampleWith(*currentTable(), *currentBaselines(), pid, at, newBaselines);
}

std::vector<ProcessResourceSample> sampleAll() {
    const auto table = currentTable();
    const auto baselines = currentBaselines();
    const double at = now();
    auto newBaselines = std::make_shared<CpuBaselines>();
    const std::vector<int64_t> pids = table->allPIDs();
    newBaselines->reserve(pids.size());
    std::vector<ProcessResourceSample> samples;
    samples.reserve(pids.size());
    for (int64_t pid : pids) {
        if (pid < 1) continue;
        if (auto sampled = sampleWith(*table, *baselines, pid, at, *newBaselines))
            samples.push_back(std::move(*sampled));
    }
    State& s = state();
    {
        std::lock_guard<std::mutex> guard(s.baselineLock);
        s.baselines = std::move(newBaselines);
    }
    return samples;
}

std::shared_ptr<const std::vector<ProcessResourceSample>> cachedSampleList(double maxAge) {
    State& s = state();
    std::shared_ptr<const SampleList> answer;
    const double at = now(); // read before the lock: no lock is taken while another is held
    {
        std::lock_guard<std::mutex> guard(s.cacheLock);
        if (s.cached && at - s.cached->sampledAt <= maxAge) return s.cached->samples;
        answer = s.cached ? s.cached->samples : emptyList();
        if (s.isRefreshingCache) return answer;
        s.isRefreshingCache = true;
        s.refreshStartedAt = std::chrono::steady_clock::now();
    }
    try {
        startRefreshThread();
    } catch (const std::system_error&) {
        // No thread to be had: the next call tries again.
        std::lock_guard<std::mutex> guard(s.cacheLock);
        s.isRefreshingCache = false;
    }
    return answer;
}

std::vector<ProcessResourceSample> cachedSamples(double maxAge) { return *cachedSampleList(maxAge); }

std::shared_ptr<const std::vector<ProcessResourceSample>> sampledList(double maxAge) {
    std::shared_ptr<const SampleList> answer = cachedSampleList(maxAge);
    State& s = state();
    const auto bound = firstSampleWaitBound();
    std::function<void()> between;
    {
        std::lock_guard<std::mutex> guard(s.sourceLock);
        between = s.beforeFirstSampleCheck;
    }
    if (between) between();
    std::unique_lock<std::mutex> guard(s.cacheLock);
    // Stored meanwhile: the empty stand-in is not the answer.
    if (s.cached) return answer == emptyList() ? s.cached->samples : answer;
    // None stored yet: the first refresh, started above or by an earlier
    // call, is waited for by every caller alike until `bound` after it
    // started. One that takes longer (reading a process's arguments can hang)
    // is left running, not started again, and the empty list is the answer
    // meanwhile; when no thread could run it, the empty list it is at once.
    s.refreshFinished.wait_until(guard, s.refreshStartedAt + bound,
                                 [&] { return s.cached.has_value() || !s.isRefreshingCache; });
    return s.cached ? s.cached->samples : answer;
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
    return s.isRefreshingCache;
}

void waitForCacheRefresh() {
    State& s = state();
    std::unique_lock<std::mutex> guard(s.cacheLock);
    s.refreshFinished.wait(guard, [&] { return !s.isRefreshingCache; });
}

void reset() {
    waitForCacheRefresh();
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
