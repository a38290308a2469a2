#pragma once

#include "platform/ProcessTable.hpp"

#include <string>
#include <string_view>

namespace brindleaf {

// The process table read from a procfs mount (normally "/proc").
class ProcFsProcessTable final : public ProcessTable {
public:
    explicit ProcFsProcessTable(std::string root = "/proc");

    std::vector<int64_t> allPIDs() override;
    std::optional<Status> status(int64_t pid) override;
    std::optional<std::string> argumentArea(int64_t pid) override;
    std::optional<std::string> shortName(int64_t pid) override;
    std::optional<std::string> workingDirectory(int64_t pid) override;
    std::optional<uint64_t> startTicks(int64_t pid) override;

    // Parses the contents of /proc/PID/stat: the parent id (field 4), user and
    // system time in clock ticks (fields 14 and 15) and the resident set in
    // pages (field 24). The name field may hold spaces and parentheses.
    static std::optional<Status> parseStat(std::string_view contents, long ticksPerSecond, long pageSize);
    // The start time (field 22) from the same contents.
    static std::optional<uint64_t> parseStartTicks(std::string_view contents);

private:
    std::string root_;
    long ticksPerSecond_;
    long pageSize_;
};

} // namespace brindleaf
