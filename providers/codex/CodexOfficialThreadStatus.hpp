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

// What an active thread waits for, as the Codex daemon's status flags say
// ("waitingOnApproval" first, then "waitingOnUserInput").
enum class CodexThreadWait { none, approval, userInput };

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
    // Read from the Codex daemon's control socket: its own rules apply to the
    // thread's active and idle states (waits count only while Codex runs).
    bool live = false;
    CodexThreadWait wait = CodexThreadWait::none;

    bool operator==(const CodexOfficialThreadStatus&) const = default;
};

} // namespace brindleaf
