#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// One process as sampled.
struct ProcessResourceSample {
    int64_t pid = 0;       // at least 1
    int64_t parentPID = 0;
    std::optional<double> cpuPercent{};          // since the previous sampling; 100 = one core
    std::optional<int64_t> residentMemoryBytes{};
    std::string command{};                       // arguments joined by spaces, else the short name, else ""
    std::optional<std::string> cwd{};            // absent when unreadable or empty

    bool operator==(const ProcessResourceSample&) const = default;
};

} // namespace brindleaf
