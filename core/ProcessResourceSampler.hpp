#pragma once

#include "core/ProcessResourceSample.hpp"
#include "core/ProcessSampleList.hpp"
#include "core/SessionResourceUsage.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brindleaf {

class ProcessTable;

// Snapshots of every process on the machine, with process-wide state: the CPU
// time baselines from which the next sampling derives CPU percentages, and a
// cached snapshot that readers get without waiting while one background
// refresh renews it. Ages and elapsed times use the monotonic clock.
namespace ProcessResourceSampler {

struct CpuBaseline {
    double sampledAt = 0;            // monotonic seconds
    uint64_t cpuTimeNanoseconds = 0; // user + system
};
using CpuBaselines = std::unordered_map<int64_t, CpuBaseline>;

// A fresh sampling of every process, in process-list order; replaces the baselines.
std::vector<ProcessResourceSample> sampleAll();

// The cached snapshot (possibly stale, possibly empty); when it is missing or
// older than `maxAge` seconds, one background refresh starts (at most one at a time).
std::vector<ProcessResourceSample> cachedSamples(double maxAge);

// The same, as the shared stored list: between two refreshes every call hands
// out the very same list, so callers can recognise an unchanged snapshot.
std::shared_ptr<const std::vector<ProcessResourceSample>> cachedSampleList(double maxAge);

// Seconds the first refresh is waited for by sampledList, counted from its start.
inline constexpr double firstSampleWait = 1.5;

// cachedSampleList, except before any snapshot was stored: then the caller
// waits for the first refresh (started when none runs) and gets its list, so
// the first scans of a process judge against the real process table, not
// against an empty one. A first refresh still running `firstSampleWait`
// seconds after its start is no longer waited for: the empty list is the
// answer until it has stored its list. Later calls never wait.
std::shared_ptr<const std::vector<ProcessResourceSample>> sampledList(double maxAge);

// Readers for providers: sampledList(maxAge), and sampleAll.
ProcessSnapshotReader cachedReader(double maxAge);
ProcessSnapshotReader freshReader();

// One process, compared against the current baselines at `now` (monotonic
// seconds); records its new baseline into `newBaselines`. Absent when the
// process's status cannot be read.
std::optional<ProcessResourceSample> sample(int64_t pid, double now, CpuBaselines& newBaselines);

// The arguments of a NUL-separated argument area: each non-empty, well-formed
// UTF-8 string, joined by single spaces; absent when none.
std::optional<std::string> commandLineFromArguments(std::string_view area);

std::optional<std::string> commandLine(int64_t pid);
std::string processName(int64_t pid);
std::optional<std::string> workingDirectory(int64_t pid);

// Absent when `roots` is empty, else ProcessTree(samples).resourceUsage(roots).
std::optional<SessionResourceUsage> resourceUsage(const std::set<int64_t>& roots,
                                                  const std::vector<ProcessResourceSample>& samples);

// Hooks for tests: another process table, another monotonic clock, a clean state.
namespace testing {
void setProcessTable(std::shared_ptr<ProcessTable> table);  // nullptr restores /proc
void setClock(std::function<double()> clock);               // empty restores the monotonic clock
void setFirstSampleWait(double seconds);                    // firstSampleWait restores it
void setBeforeFirstSampleCheck(std::function<void()> hook); // runs in sampledList between its cache read and its check
void setRefusesThreads(bool refuses);                       // no background refresh thread can be started
void reset(); // drops the cache and the baselines (waits for a running refresh)
bool isRefreshingCache();
void waitForCacheRefresh(); // returns once no background refresh is pending
} // namespace testing

} // namespace ProcessResourceSampler

} // namespace brindleaf
