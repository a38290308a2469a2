#pragma once

#include "app/CodexRuntimeWatchConfiguration.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/Date.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace brindleaf {

// Which files and folders the tray application watches for each kind of
// refresh, derived from the home folder and the Codex configuration.
namespace FileWatchTargets {

// Transcripts older than this are not watched by name.
inline constexpr double recentTranscriptWindow = 1800;
inline constexpr std::size_t recentTranscriptLimit = 60;

// The distinct values of codexHome and defaultCodexHome, sorted.
std::vector<std::string> codexRoots(const CodexRuntimeWatchConfiguration& configuration);
// For each folder (sqliteHome first when set, then per root: root/sqlite and
// root), the file, its "-wal" and its "-shm", in that order.
std::vector<std::string> codexDatabasePaths(const CodexRuntimeWatchConfiguration& configuration,
                                            const std::string& fileName);
// The state database paths plus each root's session index, managed process
// list, sessions, rollouts and logs folders; distinct, sorted.
std::vector<std::string> codexAgentRootPaths(const CodexRuntimeWatchConfiguration& configuration);
// The log database paths; distinct, sorted.
std::vector<std::string> codexRuntimeLogPaths(const CodexRuntimeWatchConfiguration& configuration);

// The folders directly in the projects folder (hidden ones and links skipped).
std::vector<std::string> claudeProjectFolders(const std::string& projectsFolder);
// The ".jsonl" files directly in those folders modified at or after now - 1800 s,
// newest first, at most 60.
std::vector<std::string> recentClaudeTranscriptFiles(const std::string& projectsFolder, Date now);

// The agent-folder list: the Codex agent-root paths; the Claude projects
// folder and the Hermes state files; the Claude project folders; the recent
// transcripts.
std::vector<std::string> fileChangePaths(const std::string& home, const CodexRuntimeWatchConfiguration& configuration,
                                         Date now);

// Whether a change at `path` asks for the watch lists to be rebuilt: the
// projects folder itself, or anything below it that is not a transcript.
bool changeNeedsRebuild(const std::string& path, const std::string& projectsFolder);

// The Claude Code engines' session registry folder: each engine rewrites its
// file there when it starts or ends a turn or waits for the user.
std::string claudeSessionRegistryFolder(const std::string& home);

// The shown sessions' rollout paths that are absolute, and the session
// registry folder of the user whose home is `home`; distinct and sorted.
std::vector<std::string> sessionActivityPaths(const AgentStatusSnapshot& snapshot, const std::string& home);

} // namespace FileWatchTargets

} // namespace brindleaf
