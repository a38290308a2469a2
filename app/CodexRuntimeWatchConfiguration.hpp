#pragma once

#include <map>
#include <optional>
#include <string>

namespace brindleaf {

// Where Codex keeps its data, as the environment and the home directory say.
struct CodexRuntimeWatchConfiguration {
    std::string codexHome;                 // the folder in effect
    std::string defaultCodexHome;          // home + "/.codex", even when codexHome differs
    std::optional<std::string> sqliteHome; // the databases' folder when the environment names one

    // "CODEX_HOME" and "CODEX_SQLITE_HOME" count when present and not empty;
    // values are used exactly as given.
    CodexRuntimeWatchConfiguration(const std::map<std::string, std::string>& environment, const std::string& home);

    bool operator==(const CodexRuntimeWatchConfiguration&) const = default;
};

} // namespace brindleaf
