#pragma once

#include "providers/codex/CodexOfficialStatusProbe.hpp"

#include <memory>
#include <vector>

namespace brindleaf {

// Several probes asked as one: their statuses in probe order (the scan merges
// them by id). A probe that fails adds nothing; the others still count.
class CodexOfficialStatusProbes final : public CodexOfficialStatusProbe {
public:
    explicit CodexOfficialStatusProbes(std::vector<std::shared_ptr<CodexOfficialStatusProbe>> probes);

    std::vector<CodexOfficialThreadStatus> fetchSnapshot(Date scanTime) override;
    // A single probe's list is handed on as it is.
    std::shared_ptr<const std::vector<CodexOfficialThreadStatus>> fetchSharedSnapshot(Date scanTime) override;
    void setChangeHandler(std::function<void()> handler) override;

    const std::vector<std::shared_ptr<CodexOfficialStatusProbe>>& probes() const { return probes_; }

private:
    std::vector<std::shared_ptr<CodexOfficialStatusProbe>> probes_;
};

} // namespace brindleaf
