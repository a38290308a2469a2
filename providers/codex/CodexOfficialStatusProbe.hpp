#pragma once

#include "core/Date.hpp"
#include "providers/codex/CodexOfficialThreadStatus.hpp"

#include <functional>
#include <memory>
#include <vector>

namespace brindleaf {

// Where the Codex provider gets the app server's thread statuses from. May
// throw; the scan ignores every error.
class CodexOfficialStatusProbe {
public:
    virtual ~CodexOfficialStatusProbe() = default;
    // The statuses in the order the answer listed them.
    virtual std::vector<CodexOfficialThreadStatus> fetchSnapshot(Date scanTime) = 0;
    // The same as one shared list: a probe that keeps its statuses hands out
    // the very same list while they are unchanged, without copying them.
    virtual std::shared_ptr<const std::vector<CodexOfficialThreadStatus>> fetchSharedSnapshot(Date scanTime) {
        return std::make_shared<const std::vector<CodexOfficialThreadStatus>>(fetchSnapshot(scanTime));
    }
    // Called, on a thread of the probe's, whenever what fetchSnapshot would
    // return changed on its own (a probe that follows its source); empty
    // stops the calls. Probes that only answer when asked never call it.
    virtual void setChangeHandler(std::function<void()>) {}
};

// Used when the environment names no app-server endpoint.
class NoopCodexOfficialStatusProbe final : public CodexOfficialStatusProbe {
public:
    std::vector<CodexOfficialThreadStatus> fetchSnapshot(Date) override { return {}; }
};

} // namespace brindleaf
