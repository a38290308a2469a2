#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// The raw facts of the process table. The system's table reads /proc
// (ProcFsProcessTable); tests use FakeProcessTable. Every operation is a
// single read, answers absent when the fact is unreadable, and may be called
// from any thread.
class ProcessTable {
public:
    struct TaskInfo {
        int64_t residentMemoryBytes = 0;
        uint64_t cpuTimeNanoseconds = 0; // user + system
    };

    struct Status {
        int64_t parentPID = 0;
        std::optional<TaskInfo> task{}; // absent when memory and CPU time are unreadable
    };

    virtual ~ProcessTable() = default;

    // The ids of all processes (each at least 1), in listing order.
    virtual std::vector<int64_t> allPIDs() = 0;

    // Parent, resident memory and CPU time; absent when the process is gone or unreadable.
    virtual std::optional<Status> status(int64_t pid) = 0;

    // The raw argument area: the arguments, each followed by a NUL byte
    // (/proc/PID/cmdline). Absent when unreadable.
    virtual std::optional<std::string> argumentArea(int64_t pid) = 0;

    // The short process name (/proc/PID/comm without its line feed); absent when unreadable.
    virtual std::optional<std::string> shortName(int64_t pid) = 0;

    // The current working directory (readlink of /proc/PID/cwd); absent when unreadable.
    virtual std::optional<std::string> workingDirectory(int64_t pid) = 0;

    // When the process started, in clock ticks after boot (field 22 of
    // /proc/PID/stat); with the pid it tells one process from a later one that
    // got the same id. Absent when the process is gone or unreadable.
    virtual std::optional<uint64_t> startTicks(int64_t pid) = 0;

    // The machine's table (/proc), shared.
    static std::shared_ptr<ProcessTable> system();
};

} // namespace brindleaf
