#include "providers/codex/CodexOfficialThreadStatus.hpp"

namespace brindleaf {

std::string_view toString(CodexOfficialThreadRunState state) {
    switch (state) {
    case CodexOfficialThreadRunState::active: return "active";
    case CodexOfficialThreadRunState::idle: return "idle";
    case CodexOfficialThreadRunState::systemError: return "systemError";
    case CodexOfficialThreadRunState::notLoaded: return "notLoaded";
    }
    return "idle";
}

std::optional<CodexOfficialThreadRunState> codexOfficialThreadRunStateFromString(std::string_view raw) {
    if (raw == "active") return CodexOfficialThreadRunState::active;
    if (raw == "idle") return CodexOfficialThreadRunState::idle;
    if (raw == "systemError") return CodexOfficialThreadRunState::systemError;
    if (raw == "notLoaded") return CodexOfficialThreadRunState::notLoaded;
    return std::nullopt;
}

} // namespace brindleaf
