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
//
// A read of one process can hang (its /proc/PID/cmdline waits while the
// process's memory map is locked, as under a hung network or FUSE mount).
// Every sampling runs on a thread of its own and says which read it is in.
// A sampling given up stores nothing and ends once its read returns (the
// journal then says `process.sample.hung.returned pid=N read=cmdline`);
// while it is stuck, every other sampling leaves out the process it reads.
// - A background refresh still inside a read `hungSamplingBound` seconds
//   after its start is given up by the next reader's call, and a new one
//   starts: the journal says `process.sample.hung pid=N read=cmdline` once.
// - While the first list is awaited (sampledList), and by sampleAll, a
//   sampling one of whose reads has taken `stuckReadBound` is given up at
//   once and sampled again without that process.
// At most `stuckThreadCap` threads are held by stuck reads: past it a
// sampling that hangs is kept (the journal says the hung line with
// ` restart=later`, once until one of them returns), the cache stays as it
// is and sampleAll answers an empty list (incompleteFreshSamplings counts it).
namespace ProcessResourceSampler {

struct CpuBaseline {
    double sampledAt = 0;            // monotonic seconds
    uint64_t cpuTimeNanoseconds = 0; // user + system
};
using CpuBaselines = std::unordered_map<int64_t, CpuBaseline>;

// A fresh sampling of every process, in process-list order, waited for;
// replaces the baselines. Leaves out the processes given-up samplings are
// still reading, and one whose read takes `stuckReadBound` (see above).
std::vector<ProcessResourceSample> sampleAll();

// Seconds after its start when a background refresh still inside a read is given up.
inline constexpr double hungSamplingBound = 10;

// Seconds one read may take while a caller waits for the sampling (sampleAll,
// the first list) before the sampling is given up.
inline constexpr double stuckReadBound = 1;

// Threads that stuck reads may hold at once.
inline constexpr std::size_t stuckThreadCap = 3;

// The reads given-up samplings are still stuck in, oldest first (pid 0 and
// "listing" for the process listing).
struct StuckRead {
    int64_t pid = 0;
    std::string read;
};
std::vector<StuckRead> stuckReads();

// Fresh samplings (sampleAll) answered empty because a read hung past the cap or in the listing.
std::size_t incompleteFreshSamplings();

// The cached snapshot (possibly stale, possibly empty); when it is missing or
// older than `maxAge` seconds, one background refresh starts (at most one at a
// time besides a given-up one), and one that hangs is given up (see above).
std::vector<ProcessResourceSample> cachedSamples(double maxAge);

// The same, as the shared stored list: between two refreshes every call hands
// out the very same list, so callers can recognise an unchanged snapshot.
std::shared_ptr<const std::vector<ProcessResourceSample>> cachedSampleList(double maxAge);

// Seconds the first refresh is waited for by sampledList, counted from its
// start on the sampler's clock (the monotonic clock unless a test sets one).
inline constexpr double firstSampleWait = 1.5;

// cachedSampleList, except before any snapshot was stored: then the caller
// waits for the first refresh (started when none runs) and gets its list, so
// the first scans of a process judge against the real process table, not
// against an empty one. A first refresh (or the one that replaced it when it
// was given up) still running `firstSampleWait` seconds after its start is no
// longer waited for: the empty list is the answer until a refresh has stored
// its list. Once one is stored, calls never wait.
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
// Read afresh, never from the cached snapshot: the process's start time in
// clock ticks after boot; absent when it is gone.
std::optional<uint64_t> startTicks(int64_t pid);

// Absent when `roots` is empty, else ProcessTree(samples).resourceUsage(roots).
std::optional<SessionResourceUsage> resourceUsage(const std::set<int64_t>& roots,
                                                  const std::vector<ProcessResourceSample>& samples);

// Hooks for tests: another process table, another monotonic clock, a clean state.
namespace testing {
void setProcessTable(std::shared_ptr<ProcessTable> table);  // nullptr restores /proc
void setClock(std::function<double()> clock);               // empty restores the monotonic clock
void setFirstSampleWait(double seconds);                    // firstSampleWait restores it
void setStuckReadBound(double seconds);                     // stuckReadBound restores it
void setBeforeFirstSampleCheck(std::function<void()> hook); // runs in sampledList between its cache read and its check
void setRefusesThreads(bool refuses);                       // no background refresh thread can be started
void reset(); // drops the cache and the baselines (waits for a running and a given-up refresh)
bool isRefreshingCache();
// These return once no background refresh is pending (a given-up one aside),
// or no given-up one is left; false when `seconds` passed first.
bool waitForCacheRefresh(double seconds = 3600);
bool waitForGivenUpRefresh(double seconds = 3600);
} // namespace testing

} // namespace ProcessResourceSampler

} // namespace brindleaf
