#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// How the Codex provider finds Codex's files and how long each kind of
// activity counts. The composition root builds it with `standard`.
struct CodexProviderConfig {
    std::string codexHome;                 // Codex's home folder
    std::optional<std::string> sqliteHome; // an extra folder that may hold the databases
    double runtimeActivityWindow = 0;      // seconds runtime-log rows count as current activity
    double recentActivityWindow = 0;       // seconds a thread counts as active without other evidence
    double openEdgeActivityWindow = 0;     // seconds an open spawn edge may stay silent
    double pendingToolCallActivityWindow = 0; // seconds an unfinished turn or call may stay silent
    int64_t recentThreadLimit = 0;         // rows of the recent-thread query
    int64_t runtimeLogRecentRowLimit = 0;  // newest log rows the runtime-log query inspects

    bool operator==(const CodexProviderConfig&) const = default;

    // The values the application runs with, for the given folders: the
    // windows 20, 120, 120 and 43200 seconds; limits 40 and 10000.
    static CodexProviderConfig standard(std::string codexHome, std::optional<std::string> sqliteHome);
};

} // namespace brindleaf
