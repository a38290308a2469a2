#pragma once

#include "core/Date.hpp"

#include <string>
#include <string_view>

namespace brindleaf {

// What one line of Hermes's agent log says about a session.
struct HermesRuntimeSignal {
    enum class Kind { inFlight, recentActivity, subagent, userAttention, turnEnded };

    std::string sessionID;
    Date timestamp = 0;
    Kind kind = Kind::recentActivity;
    std::string evidence;
    bool needsUserAttention = false;

    bool operator==(const HermesRuntimeSignal&) const = default;
};

std::string_view toString(HermesRuntimeSignal::Kind kind);

} // namespace brindleaf
