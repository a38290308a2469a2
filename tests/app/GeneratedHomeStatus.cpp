#include "tests/app/GeneratedHomeStatus.hpp"

#include "providers/claude/ClaudeProviderConfig.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "providers/codex/CodexOfficialStatusProbe.hpp"
#include "providers/codex/CodexProviderConfig.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "providers/hermes/HermesOfficialStatusProbe.hpp"
#include "providers/hermes/HermesProviderConfig.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"

#include <algorithm>

namespace brindleaf::testing {

std::unique_ptr<AgentStatusService> statusServiceOn(const bench::GeneratedHome& home, bool tray,
                                                    ProcessSnapshotReader processes) {
    auto claudeConfig = ClaudeProviderConfig::standard(home.root.string(), tray ? 10.0 : 0.0);
    claudeConfig.tasksTempRoot = (home.root / "tmp").string();
    auto codex = std::make_shared<CodexStatusProvider>(CodexProviderConfig::standard(home.codexHome().string(), {}),
                                                       processes, std::make_shared<NoopCodexOfficialStatusProbe>());
    auto claude = std::make_shared<ClaudeStatusProvider>(claudeConfig, processes);
    auto hermes = std::make_shared<HermesStatusProvider>(HermesProviderConfig::standard(home.root.string()), processes,
                                                         ProcessCommandReader{},
                                                         std::make_shared<HermesDefaultOfficialStatusProbe>(), 30.0);
    // A time limit far above any scan of a small home: no step depends on the
    // machine's speed.
    return std::make_unique<AgentStatusService>(
        std::vector<std::shared_ptr<AgentStatusProvider>>{codex, claude, hermes}, 60.0);
}

std::vector<std::string> shownKeys(const AgentStatusSnapshot& snapshot) {
    std::vector<std::string> keys;
    for (const auto& session : snapshot.activeSessions) keys.push_back(session.provider + "/" + session.id);
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::vector<std::string> shownIDs(const AgentStatusSnapshot& snapshot, const std::string& provider) {
    std::vector<std::string> ids;
    for (const auto& session : snapshot.activeSessions)
        if (session.provider == provider) ids.push_back(session.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace brindleaf::testing
