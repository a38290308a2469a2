#pragma once

#include "bench/generator/HomeGenerator.hpp"

#include <sys/types.h>
#include <vector>

namespace brindleaf::bench {

// Starts the processes a generated home plans, so the process table shows
// them with the planned arguments and working directories, and rewrites the
// home's process-id files to name them. Each process is a copy of the running
// program that only waits; it dies with its parent (and is killed and reaped
// when the set goes). An engine with a planned shell task holds that child.
class LiveProcessSet {
public:
    explicit LiveProcessSet(const GeneratedHome& home);
    ~LiveProcessSet();
    LiveProcessSet(const LiveProcessSet&) = delete;
    LiveProcessSet& operator=(const LiveProcessSet&) = delete;

    // The pid of each planned process, in plan order (0 when it did not start).
    const std::vector<int>& pids() const { return pids_; }
    void stop();

    // Called once at program start (done by a static initialiser of this
    // library): in a process started by a LiveProcessSet this never returns.
    static void holdIfRequested();

private:
    GeneratedHome home_;
    std::vector<int> pids_;
};

} // namespace brindleaf::bench
