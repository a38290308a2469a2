#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// What a window or terminal search needs to know of a running process, read
// from /proc (under `procRoot`, "/proc" by default).
class ProcessLineage {
public:
    explicit ProcessLineage(std::string procRoot = "/proc");

    bool isRunning(int64_t pid) const;
    // The owner of the process; absent when it is gone.
    std::optional<uint32_t> ownerOf(int64_t pid) const;
    // The parent, from the "PPid:" line of its status (the name in `stat` may
    // hold spaces and parentheses); absent for the first process and when gone.
    std::optional<int64_t> parentOf(int64_t pid) const;
    // The process, then its parent and so on up to (not including) pid 1; at most 64.
    std::vector<int64_t> ancestry(int64_t pid) const;
    // True when the process has a controlling terminal (`stat`'s tty field).
    bool hasTerminal(int64_t pid) const;
    // The short name ("comm").
    std::string nameOf(int64_t pid) const;
    // The environment of a process of this user, read on a thread of its own
    // for at most a second (the read waits on the process's memory map); absent
    // for another user's process, a gone one, or a read that does not answer.
    std::optional<std::map<std::string, std::string>> environmentOf(int64_t pid) const;

private:
    std::string path(int64_t pid, const char* leaf) const;
    std::string root_;
};

} // namespace brindleaf
