#pragma once

#include <cstdint>
#include <string>

namespace brindleaf {

// Every path, time window and limit of the Claude Code scan.
struct ClaudeProviderConfig {
    std::string claudeHome;             // "<home>/.claude": "projects" and "sessions" below it
    double recentActivityWindow = 20;   // seconds a transcript counts as recently active
    double stalePendingToolWindow = 900; // idle seconds after which a session without proof of life is stale
    double backgroundTaskWindow = 28800; // how long a background task may keep its session shown
    double backgroundWorkerQuietWindow = 1800; // a task whose output is quiet this long is over
    std::string tasksTempRoot;          // root of the engine's task output folders
    int64_t transcriptLimit = 80;       // newest transcripts analysed per scan (below 1 acts as 1)
    std::string desktopSessionsHome;    // root of the desktop app's session folders
    double transcriptRescanInterval = 0; // seconds a transcript listing may be reused; 0 turns reuse off

    ClaudeProviderConfig(std::string claudeHome, double recentActivityWindow, double stalePendingToolWindow,
                         double backgroundTaskWindow, double backgroundWorkerQuietWindow, std::string tasksTempRoot,
                         int64_t transcriptLimit, std::string desktopSessionsHome, double transcriptRescanInterval);

    // The values the application runs with, for the user whose home directory is `home`:
    // 10 s listing reuse in the tray application, 0 in the command-line modes.
    static ClaudeProviderConfig standard(const std::string& home, double transcriptRescanInterval);
};

} // namespace brindleaf
