#include "core/AgentRunState.hpp"

namespace brindleaf {

std::string_view toString(AgentRunState state) {
    switch (state) {
    case AgentRunState::inProgress: return "inProgress";
    case AgentRunState::complete: return "complete";
    case AgentRunState::unknown: return "unknown";
    }
    return "unknown";
}

std::optional<AgentRunState> agentRunStateFromString(std::string_view raw) {
    if (raw == "inProgress") return AgentRunState::inProgress;
    if (raw == "complete") return AgentRunState::complete;
    if (raw == "unknown") return AgentRunState::unknown;
    return std::nullopt;
}

} // namespace brindleaf
