#pragma once

#include "core/Date.hpp"

#include <optional>

namespace brindleaf {

// What the newest part of a Codex rollout file says about its thread.
struct RolloutTailState {
    // A function call in the tail has neither output nor completion, and no turn end followed it.
    bool hasPendingFunctionCall = false;
    // The last turn boundary in the tail is a turn start.
    bool hasOpenTurn = false;
    // One of the still pending calls waits for the user.
    bool hasPendingUserAttention = false;
    // The last turn boundary in the tail is a turn end (an end record or a final assistant message).
    bool hasFinalAssistantMessage = false;
    // The rollout file's modification time; absent when the file cannot be examined.
    std::optional<Date> lastEventAt;

    bool operator==(const RolloutTailState&) const = default;
};

} // namespace brindleaf
