#pragma once

#include "services/FolderAccessController.hpp"

#include <array>
#include <string_view>
#include <utility>
#include <vector>

namespace brindleaf {

// What the first-run welcome window says, and its agent rows.
namespace WelcomeContent {

// Written true under this key (a Boolean) whenever the welcome window closes.
inline constexpr std::string_view shownKey = "welcomeShown.v1";

inline constexpr std::string_view windowTitle = "Welcome to Brindleaf";
inline constexpr std::string_view tagline =
    "See when your coding agents are working and when they need you — from the system tray and a floating window.";
inline constexpr std::string_view accessHeader = "Allow Access";
inline constexpr std::string_view accessText =
    "Choose each folder Brindleaf may read. Brindleaf only reads them and never changes anything.";
inline constexpr std::string_view openAtLoginTitle = "Open Brindleaf at login";
inline constexpr std::string_view syncNote =
    "Your status is kept in a private record store on this computer. You can turn this off in Settings.";
inline constexpr std::string_view sampleDataTitle = "Show Sample Data";
inline constexpr std::string_view doneTitle = "Done";

struct AgentRow {
    std::string_view name;
    std::vector<FolderAccessController::Folder> folders;
};
// The folder box's agents, in order.
std::vector<AgentRow> agentRows();

} // namespace WelcomeContent

} // namespace brindleaf
