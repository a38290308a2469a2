#pragma once

#include "core/ProcessResourceSample.hpp"
#include "core/SessionResourceUsage.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brindleaf {

// One scan's process samples, indexed once for the resource usage of every
// session the scan shows: process trees by pid and parent, the usage of all
// Hermes processes, and the processes running a given command.
class HermesProcessTable {
public:
    // `samples` must outlive the table.
    HermesProcessTable(const std::vector<ProcessResourceSample>& samples, std::string hermesHome);

    bool empty() const { return samples_.empty(); }
    const std::vector<ProcessResourceSample>& samples() const { return samples_; }

    // The summed use of the given processes and all their descendants. The
    // walk starts only from sampled pids; `pid` is the smallest requested one.
    // Absent when the set is empty or none of them is sampled.
    std::optional<SessionResourceUsage> treeUsage(const std::set<int64_t>& pids);

    // The pids of the processes whose command line contains `text`. The
    // answer is remembered for the table's life (up to a bound): the reference
    // holds until the next call.
    const std::vector<int64_t>& pidsRunning(const std::string& text);

    // The use of every process that is not a terminal worker and whose command
    // names the Hermes home or "hermes" in any letter case.
    const std::optional<SessionResourceUsage>& hermesUsage();

private:
    static constexpr std::size_t maximumRememberedTexts = 4096;

    void buildIndex();

    const std::vector<ProcessResourceSample>& samples_;
    std::string hermesHome_;
    bool indexed_ = false;
    std::unordered_map<int64_t, std::size_t> byPID_;
    std::unordered_map<int64_t, std::vector<int64_t>> childrenByParent_;
    std::unordered_map<std::string, std::vector<int64_t>> pidsByCommandText_;
    std::optional<std::optional<SessionResourceUsage>> hermesUsage_;
};

} // namespace brindleaf
