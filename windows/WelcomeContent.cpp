#include "windows/WelcomeContent.hpp"

namespace brindleaf::WelcomeContent {

std::vector<AgentRow> agentRows() {
    using Folder = FolderAccessController::Folder;
    return {{"Claude Code", {Folder::claude, Folder::claudeDesktop}},
            {"Codex", {Folder::codex}},
            {"Hermes", {Folder::hermes}}};
}

} // namespace brindleaf::WelcomeContent
