#pragma once

#include "platform/SessionJumper.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// The "Go to Session" item of a session card's menu: enabled or not, and the
// tooltip that says why not. A card's process is checked when its menu opens;
// until the answer comes the item waits, disabled.
struct SessionGoToItem {
    static constexpr const char* title = "Go to Session";
    static constexpr const char* unknownProcess = "Brindleaf does not know which process runs this session.";
    static constexpr const char* looking = "Looking for the session's terminal\u2026";

    bool enabled = false;
    std::string tooltip; // empty when enabled
    bool operator==(const SessionGoToItem&) const = default;

    // The item for a session whose process is `processID` (absent when not
    // known), with the answer of the check when it has come.
    static SessionGoToItem make(std::optional<int64_t> processID, const std::optional<SessionJumpCheck>& check);
};

} // namespace brindleaf
