#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// A running terminal worker ("tui_gateway.slash_worker") and the session it serves.
struct HermesLiveWorker {
    std::string sessionKey;
    std::optional<int64_t> pid;

    bool operator==(const HermesLiveWorker&) const = default;
};

} // namespace brindleaf
