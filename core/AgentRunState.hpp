#pragma once

#include <optional>
#include <string_view>

namespace brindleaf {

enum class AgentRunState { inProgress, complete, unknown };

std::string_view toString(AgentRunState state);
// Exact, case-sensitive match against the raw values.
std::optional<AgentRunState> agentRunStateFromString(std::string_view raw);

} // namespace brindleaf
