#include "providers/hermes/HermesProcessTable.hpp"

#include "providers/hermes/HermesDataSources.hpp"

#include <unordered_set>
#include <utility>

namespace brindleaf {

namespace {

bool containsHermesIgnoringCase(std::string_view text) {
    static constexpr std::string_view needle = "hermes";
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
        if ((text[i] | 0x20) != 'h') continue;
        std::size_t j = 1;
        while (j < needle.size() && (text[i + j] | 0x20) == needle[j]) ++j;
        if (j == needle.size()) return true;
    }
    return false;
}

} // namespace

HermesProcessTable::HermesProcessTable(const std::vector<ProcessResourceSample>& samples, std::string hermesHome)
    : samples_(samples), hermesHome_(std::move(hermesHome)) {}

void HermesProcessTable::buildIndex() {
    if (indexed_) return;
    indexed_ = true;
    byPID_.reserve(samples_.size());
    for (std::size_t i = 0; i < samples_.size(); ++i) {
        byPID_.insert_or_assign(samples_[i].pid, i); // a later sample of a pid replaces an earlier one
        childrenByParent_[samples_[i].parentPID].push_back(samples_[i].pid);
    }
}

std::optional<SessionResourceUsage> HermesProcessTable::treeUsage(const std::set<int64_t>& pids) {
    if (pids.empty()) return std::nullopt;
    buildIndex();
    std::vector<int64_t> work(pids.begin(), pids.end());
    std::unordered_set<int64_t> visited;
    std::optional<double> cpu;
    std::optional<int64_t> memory;
    while (!work.empty()) {
        const int64_t pid = work.back();
        work.pop_back();
        if (visited.count(pid)) continue;
        auto found = byPID_.find(pid);
        if (found == byPID_.end()) continue;
        visited.insert(pid);
        const auto& sample = samples_[found->second];
        if (sample.cpuPercent) cpu = cpu.value_or(0) + *sample.cpuPercent;
        if (sample.residentMemoryBytes) memory = memory.value_or(0) + *sample.residentMemoryBytes;
        auto children = childrenByParent_.find(pid);
        if (children != childrenByParent_.end())
            work.insert(work.end(), children->second.begin(), children->second.end());
    }
    if (visited.empty()) return std::nullopt;
    return SessionResourceUsage(*pids.begin(), cpu, memory, static_cast<int64_t>(visited.size()));
}

const std::vector<int64_t>& HermesProcessTable::pidsRunning(const std::string& text) {
    auto found = pidsByCommandText_.find(text);
    if (found != pidsByCommandText_.end()) return found->second;
    // A table kept for many scans meets new texts as sessions come and go.
    if (pidsByCommandText_.size() >= maximumRememberedTexts) pidsByCommandText_.clear();
    std::vector<int64_t> pids;
    for (const auto& sample : samples_) {
        if (sample.command.find(text) != std::string::npos) pids.push_back(sample.pid);
    }
    return pidsByCommandText_.emplace(text, std::move(pids)).first->second;
}

const std::optional<SessionResourceUsage>& HermesProcessTable::hermesUsage() {
    if (!hermesUsage_) {
        const std::string homePrefix = hermesHome_ + "/";
        std::set<int64_t> pids;
        for (const auto& sample : samples_) {
            if (isHermesWorkerCommand(sample.command)) continue;
            if (sample.command.find(homePrefix) != std::string::npos || containsHermesIgnoringCase(sample.command))
                pids.insert(sample.pid);
        }
        hermesUsage_ = treeUsage(pids);
    }
    return *hermesUsage_;
}

} // namespace brindleaf
