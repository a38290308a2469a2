#include "providers/codex/CodexOfficialStatusProbes.hpp"

#include <utility>

namespace brindleaf {

CodexOfficialStatusProbes::CodexOfficialStatusProbes(std::vector<std::shared_ptr<CodexOfficialStatusProbe>> probes) {
    for (auto& probe : probes)
        if (probe) probes_.push_back(std::move(probe));
}

std::vector<CodexOfficialThreadStatus> CodexOfficialStatusProbes::fetchSnapshot(Date scanTime) {
    return *fetchSharedSnapshot(scanTime);
}

std::shared_ptr<const std::vector<CodexOfficialThreadStatus>> CodexOfficialStatusProbes::fetchSharedSnapshot(
    Date scanTime) {
    // Never destroyed: a scan still running while the process exits may hand it out.
    static const auto& none = *new std::shared_ptr<const std::vector<CodexOfficialThreadStatus>>(
        std::make_shared<const std::vector<CodexOfficialThreadStatus>>());
    std::vector<std::shared_ptr<const std::vector<CodexOfficialThreadStatus>>> lists;
    for (const auto& probe : probes_) {
        try {
            auto some = probe->fetchSharedSnapshot(scanTime);
            if (some && !some->empty()) lists.push_back(std::move(some));
        } catch (...) {
            // One probe's failure costs only its own statuses.
        }
    }
    if (lists.empty()) return none;
    if (lists.size() == 1) return lists.front();
    auto statuses = std::make_shared<std::vector<CodexOfficialThreadStatus>>();
    for (const auto& list : lists) statuses->insert(statuses->end(), list->begin(), list->end());
    return statuses;
}

void CodexOfficialStatusProbes::setChangeHandler(std::function<void()> handler) {
    for (const auto& probe : probes_) probe->setChangeHandler(handler);
}

} // namespace brindleaf
