#include "providers/claude/ClaudeProviderConfig.hpp"

#include <cmath>
#include <utility>

namespace brindleaf {

ClaudeProviderConfig::ClaudeProviderConfig(std::string claudeHome, double recentActivityWindow,
                                           double stalePendingToolWindow, double backgroundTaskWindow,
                                           double backgroundWorkerQuietWindow, std::string tasksTempRoot,
                                           int64_t transcriptLimit, std::string desktopSessionsHome,
                                           double transcriptRescanInterval)
    : claudeHome(std::move(claudeHome)), recentActivityWindow(recentActivityWindow),
      stalePendingToolWindow(stalePendingToolWindow), backgroundTaskWindow(backgroundTaskWindow),
      backgroundWorkerQuietWindow(backgroundWorkerQuietWindow), tasksTempRoot(std::move(tasksTempRoot)),
      transcriptLimit(transcriptLimit), desktopSessionsHome(std::move(desktopSessionsHome)),
      transcriptRescanInterval(std::isnan(transcriptRescanInterval) || transcriptRescanInterval < 0
                                   ? 0
                                   : transcriptRescanInterval) {}

ClaudeProviderConfig ClaudeProviderConfig::standard(const std::string& home, double transcriptRescanInterval) {
    return ClaudeProviderConfig(home + "/.claude", 20, 900, 28800, 1800, "/tmp", 80, home + "/.config/Claude",
                                transcriptRescanInterval);
}

} // namespace brindleaf
