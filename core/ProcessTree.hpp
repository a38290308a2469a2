#pragma once

#include "core/ProcessResourceSample.hpp"
#include "core/SessionResourceUsage.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

namespace brindleaf {

// One process snapshot indexed by pid and by parent.
struct ProcessTree {
    std::unordered_map<int64_t, ProcessResourceSample> byPID;
    std::unordered_map<int64_t, std::vector<int64_t>> childrenByParent; // in snapshot order

    ProcessTree() = default;
    explicit ProcessTree(const std::vector<ProcessResourceSample>& samples);

    // The summed use of the roots and all their descendants; absent when no
    // root is in the table. `pid` is the smallest root id; cycles count once.
    std::optional<SessionResourceUsage> resourceUsage(const std::set<int64_t>& roots) const;
};

} // namespace brindleaf
