#pragma once

#include "core/AgentStatusSnapshot.hpp"
#include "core/Date.hpp"

namespace brindleaf {

// The made-up status shown while sample data is on: a Codex session and a
// Claude Code session working, a Claude Code session waiting for the user's
// choice, one hidden stale Claude Code session, Hermes idle. Anchored at `now`
// (the real snapshot's check time); the same `now` gives an equal snapshot.
AgentStatusSnapshot makeSampleStatusSnapshot(Date now);

} // namespace brindleaf
