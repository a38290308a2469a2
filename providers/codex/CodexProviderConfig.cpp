#include "providers/codex/CodexProviderConfig.hpp"

#include <utility>

namespace brindleaf {

CodexProviderConfig CodexProviderConfig::standard(std::string codexHome, std::optional<std::string> sqliteHome) {
    CodexProviderConfig config;
    config.codexHome = std::move(codexHome);
    config.sqliteHome = std::move(sqliteHome);
    config.runtimeActivityWindow = 20;
    config.recentActivityWindow = 120;
    config.openEdgeActivityWindow = 120;
    config.pendingToolCallActivityWindow = 43200;
    config.recentThreadLimit = 40;
    config.runtimeLogRecentRowLimit = 10000;
    return config;
}

} // namespace brindleaf
