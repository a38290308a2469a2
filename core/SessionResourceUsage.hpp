#pragma once

#include <cstdint>
#include <optional>

namespace brindleaf {

// The summed resource use of the processes behind one session.
struct SessionResourceUsage {
    int64_t pid = 0;
    std::optional<double> cpuPercent;
    std::optional<int64_t> residentMemoryBytes;
    int64_t processCount = 1;

    SessionResourceUsage() = default;
    // A process count below 1 is stored as 1.
    SessionResourceUsage(int64_t pid, std::optional<double> cpuPercent, std::optional<int64_t> residentMemoryBytes,
                         int64_t processCount)
        : pid(pid), cpuPercent(cpuPercent), residentMemoryBytes(residentMemoryBytes),
          processCount(processCount < 1 ? 1 : processCount) {}

    bool operator==(const SessionResourceUsage&) const = default;
};

} // namespace brindleaf
