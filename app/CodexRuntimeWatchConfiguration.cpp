#include "app/CodexRuntimeWatchConfiguration.hpp"

namespace brindleaf {

namespace {

std::optional<std::string> nonEmptyVariable(const std::map<std::string, std::string>& environment, const char* name) {
    auto it = environment.find(name);
    if (it == environment.end() || it->second.empty()) return std::nullopt;
    return it->second;
}

} // namespace

CodexRuntimeWatchConfiguration::CodexRuntimeWatchConfiguration(const std::map<std::string, std::string>& environment,
                                                               const std::string& home)
    : defaultCodexHome(home + "/.codex") {
    codexHome = nonEmptyVariable(environment, "CODEX_HOME").value_or(defaultCodexHome);
    sqliteHome = nonEmptyVariable(environment, "CODEX_SQLITE_HOME");
}

} // namespace brindleaf
