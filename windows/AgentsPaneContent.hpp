#pragma once

#include "core/ProviderDescriptor.hpp"
#include "services/FolderAccessController.hpp"

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// What the Agents settings pane and the folder-access lines say and decide.
namespace AgentsPaneContent {

inline constexpr std::string_view header = "Monitored Agents";
inline constexpr std::string_view readOnlyFooter = "Brindleaf only reads these agents’ folders. It never changes them.";
inline constexpr std::string_view lastAgentFooter = "At least one agent stays on.";
inline constexpr std::string_view allowedText = "Allowed";
inline constexpr std::string_view allowAccessTitle = "Allow Access…";
inline constexpr std::string_view notInstalledText = "Not Installed";
inline constexpr std::string_view claudeDesktopNote = "Optional · session names";

// The footer's lines, in order: the read-only sentence while confined, and
// the last-agent note when exactly one catalog agent is enabled.
std::vector<std::string_view> footerLines(bool isSandboxed, const std::vector<ProviderDescriptor>& catalog,
                                          const std::set<std::string>& enabledProviderIDs);

// The folder lines under an agent's row: its required folders, and the Claude
// app's folder after Claude Code's.
std::vector<FolderAccessController::Folder> rowFolders(const std::string& providerID);

// "~/.codex".
std::string displayPath(FolderAccessController::Folder folder);
// The note between the path and the state; only the Claude app's folder has one.
std::optional<std::string_view> note(FolderAccessController::Folder folder);

enum class FolderLineState { allowed, allowAccess, notInstalled };
// Allowed unconfined or once granted; else a grant button while the folder exists; else not installed.
FolderLineState folderLineState(bool isSandboxed, bool isGranted, bool exists);
FolderLineState folderLineState(const FolderAccessController& folderAccess, FolderAccessController::Folder folder);

} // namespace AgentsPaneContent

} // namespace brindleaf
