#include "tests/support/SnapshotOf.hpp"

#include <string>

namespace brindleaf::testing {

AgentStatusSnapshot snapshotOf(AgentRunState state, int running, int waiting) {
    AgentStatusSnapshot snapshot;
    snapshot.state = state;
    for (int i = 0; i < running + waiting; ++i) {
        AgentSession session;
        session.id = std::to_string(i);
        session.needsUserAttention = i >= running;
        snapshot.activeSessions.push_back(session);
    }
    return snapshot;
}

} // namespace brindleaf::testing
