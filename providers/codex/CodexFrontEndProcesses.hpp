#pragma once

#include "core/Date.hpp"
#include "core/ProcessResourceSample.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// The Codex programs a user runs in a terminal (`codex`, `codex resume ID`,
// `codex exec ...`) in one process sampling, and which thread each runs.
//
// The interactive Codex hands its threads to a shared app-server daemon: the
// rollout is open in the daemon, not in the terminal's process, and neither its
// arguments nor its environment name a new thread. What ties a thread to its
// terminal is its folder and its age: a thread id is a UUIDv7 whose first 48
// bits are its creation time in milliseconds, and only a Codex that was
// already running in the thread's folder can have made it. When more than one
// could have, none is named.
class CodexFrontEndProcesses {
public:
    struct Process {
        int64_t pid = 0;
        std::string cwd;
        // A Codex in a terminal (true), or the app server of an editor
        // (false): the latter runs threads too, so it makes its folder
        // ambiguous, but it is never named.
        bool frontEnd = true;
        std::optional<Date> startedAt; // front ends only
        std::string resumeArguments;   // the words after "resume", space-separated
    };

    // The wall-clock start of a process; absent when it is gone.
    using StartDateReader = std::function<std::optional<Date>(int64_t pid)>;

    // A process counts as started before a thread when it started no later
    // than this many seconds after it (clock steps since boot, tick rounding).
    static constexpr double startTolerance = 2;

    CodexFrontEndProcesses() = default;
    explicit CodexFrontEndProcesses(std::vector<Process> processes) : processes_(std::move(processes)) {}

    // The Codex processes of a sampling: a program named codex (argument 0),
    // except its app-server daemon (--managed-daemon), the daemon's updater,
    // the daemon's own copy of the program and a `codex --version`; the npm
    // launcher (node) and the Codex app's helpers are none. An editor's app
    // server (`codex app-server` otherwise) is kept, as ambiguous. Reads the
    // start of each front end only (a Codex process is rare in a sampling).
    static CodexFrontEndProcesses fromSamples(const std::vector<ProcessResourceSample>& samples,
                                              const StartDateReader& startDate = systemStartDate);

    // The process that runs the thread: the one front end resuming it by id;
    // else, for a thread with a creation time and a folder, the one Codex
    // process in that folder started before the thread, when it is a front
    // end. Absent otherwise.
    std::optional<int64_t> processOf(std::string_view threadID, std::string_view cwd) const;

    // The creation time of a UUIDv7 thread id; absent for other ids.
    static std::optional<Date> threadCreatedAt(std::string_view threadID);

    // The process's start from the process table's start ticks, on the wall clock.
    static std::optional<Date> systemStartDate(int64_t pid);

    const std::vector<Process>& processes() const { return processes_; }

private:
    std::vector<Process> processes_;
};

} // namespace brindleaf
