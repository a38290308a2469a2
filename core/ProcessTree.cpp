#include "core/ProcessTree.hpp"

#include <unordered_set>

namespace brindleaf {

ProcessTree::ProcessTree(const std::vector<ProcessResourceSample>& samples) {
    byPID.reserve(samples.size());
    for (const auto& sample : samples) {
        byPID.insert_or_assign(sample.pid, sample);
        childrenByParent[sample.parentPID].push_back(sample.pid);
    }
}

std::optional<SessionResourceUsage> ProcessTree::resourceUsage(const std::set<int64_t>& roots) const {
    std::vector<int64_t> stack(roots.begin(), roots.end());
    std::unordered_set<int64_t> visited;
    std::optional<double> cpu;
    std::optional<int64_t> memory;
    while (!stack.empty()) {
        const int64_t pid = stack.back();
        stack.pop_back();
        if (visited.count(pid)) continue;
        auto found = byPID.find(pid);
        if (found == byPID.end()) continue;
        visited.insert(pid);
        const ProcessResourceSample& sample = found->second;
        if (sample.cpuPercent) cpu = cpu.value_or(0) + *sample.cpuPercent;
        if (sample.residentMemoryBytes) memory = memory.value_or(0) + *sample.residentMemoryBytes;
        if (auto children = childrenByParent.find(pid); children != childrenByParent.end())
            stack.insert(stack.end(), children->second.begin(), children->second.end());
    }
    if (visited.empty()) return std::nullopt;
    return SessionResourceUsage(*roots.begin(), cpu, memory, static_cast<int64_t>(visited.size()));
}

} // namespace brindleaf
