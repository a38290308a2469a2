#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace brindleaf::bench {

// What /proc says a running process costs: CPU time of all its threads and
// its resident memory.
namespace ProcessUsage {

struct ThreadTime {
    int tid = 0;
    std::string name;
    double cpuSeconds = 0; // user + system
};

// User + system time of every thread of the process so far (/proc/<pid>/stat).
std::optional<double> cpuSeconds(pid_t pid);
// Resident memory (/proc/<pid>/status), in KiB: VmRSS and its anonymous and
// file-backed parts (RssAnon, RssFile).
struct Resident {
    long total = 0;
    long anonymous = 0;
    long fileBacked = 0;
};
std::optional<Resident> resident(pid_t pid);
// User + system time of each thread (/proc/<pid>/task/*/stat).
std::vector<ThreadTime> threadTimes(pid_t pid);
// Per thread: its time in `after` less its time in `before` (threads started
// in between count from zero), largest first.
std::vector<ThreadTime> threadDeltas(const std::vector<ThreadTime>& before, const std::vector<ThreadTime>& after);

} // namespace ProcessUsage

} // namespace brindleaf::bench
