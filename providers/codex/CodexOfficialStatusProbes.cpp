#include "providers/codex/CodexOfficialStatusProbes.hpp"

#include <utility>

namespace brindleaf {

CodexOfficialStatusProbes::CodexOfficialStatusProbes(std::vector<std::shared_ptr<CodexOfficialStatusProbe>> probes) {
    for (auto& probe : probes)
        if (probe) probes_.push_back(std::move(probe));
}

std::vector<CodexOfficialThreadStatus> CodexOfficialStatusProbes::fetchSnapshot(Date scanTime) {
    std::vector<CodexOfficialThreadStatus> statuses;
    for (const auto& probe : probes_) {
        try {
            std::vector<CodexOfficialThreadStatus> some = probe->fetchSnapshot(scanTime);
            statuses.insert(statuses.end(), std::make_move_iterator(some.begin()), std::make_move_iterator(some.end()));
        } catch (...) {
            // One probe's failure costs only its own statuses.
        }
    }
    return statuses;
}

void CodexOfficialStatusProbes::setChangeHandler(std::function<void()> handler) {
    for (const auto& probe : probes_) probe->setChangeHandler(handler);
}

} // namespace brindleaf
