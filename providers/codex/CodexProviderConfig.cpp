#include "providers/codex/CodexProviderConfig.hpp"

namespace brindleaf {

CodexProviderConfig CodexProviderConfig::standard(const std::map<std::string, std::string>& environment,
                                                  const std::string& userHome) {
    const auto nonEmpty = [&](const char* name) -> std::optional<std::string> {
        auto found = environment.find(name);
        if (found == environment.end() || found->second.empty()) return std::nullopt;
        return found->second;
    };
    CodexProviderConfig config;
    config.codexHome = nonEmpty("CODEX_HOME").value_or(userHome + "/.codex");
    config.sqliteHome = nonEmpty("CODEX_SQLITE_HOME");
    config.runtimeActivityWindow = 20;
    config.recentActivityWindow = 120;
    config.openEdgeActivityWindow = 120;
    config.pendingToolCallActivityWindow = 43200;
    config.recentThreadLimit = 40;
    config.runtimeLogRecentRowLimit = 10000;
    return config;
}

} // namespace brindleaf
