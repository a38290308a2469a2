#pragma once

#include "core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// The contents of Hermes's "gateway_state.json".
struct HermesGatewayState {
    std::optional<std::string> state;
    std::optional<int64_t> pid;
    int64_t activeAgents = 0;
    std::optional<Date> updatedAt;

    bool operator==(const HermesGatewayState&) const = default;
};

} // namespace brindleaf
