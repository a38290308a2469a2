#pragma once

#include "core/AgentStatusSnapshot.hpp"

namespace brindleaf::testing {

// A snapshot in `state` with `running` running sessions, then `waiting`
// sessions that need the user (ids "0", "1", ... in that order).
AgentStatusSnapshot snapshotOf(AgentRunState state, int running, int waiting);

} // namespace brindleaf::testing
