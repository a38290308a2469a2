#pragma once

#include "core/Date.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// A thread's run state as the Codex app server reports it.
enum class CodexOfficialThreadRunState { active, idle, systemError, notLoaded };

std::string_view toString(CodexOfficialThreadRunState state);
// Exactly the four raw values ("active", "idle", "systemError", "notLoaded").
std::optional<CodexOfficialThreadRunState> codexOfficialThreadRunStateFromString(std::string_view raw);

// One thread as the Codex app server reports it.
struct CodexOfficialThreadStatus {
    std::string id;
    CodexOfficialThreadRunState state = CodexOfficialThreadRunState::idle;
    std::optional<std::string> title;
    std::optional<std::string> cwd;
    std::optional<std::string> rolloutPath;
    std::optional<Date> lastActivityAt;
    bool needsUserAttention = false;
    std::optional<std::string> model;
    std::optional<std::string> reasoningEffort;

    bool operator==(const CodexOfficialThreadStatus&) const = default;
};

} // namespace brindleaf
