#pragma once

#include "core/Date.hpp"
#include "sync/StatusCloudSyncHealth.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// What the sync settings pane (the "iCloud" pane) says and shows. The status
// summary is kept in a private record store on this computer.
namespace CloudSyncPaneContent {

inline constexpr std::string_view toggleTitle = "Sync to a private record store on this computer";
inline constexpr std::string_view unavailableText =
    "The private record store isn’t available in this copy of Brindleaf.";
inline constexpr std::string_view lastSyncedTitle = "Last Synced";
inline constexpr std::string_view notYetText = "Not yet";
inline constexpr std::string_view footer =
    "Shares a status summary — session names, project folders, models, and activity — through a private record "
    "store on this computer, so other views on this computer can show it. Nothing is sent to the developer. Turning "
    "sync off removes the shared status.";

struct Shown {
    bool toggleEnabled = false;
    bool unavailable = false;              // the unavailability note
    std::optional<std::string> lastSynced; // the "Last Synced" value
    std::optional<std::string> failure;    // the last failure, in orange
};

// Without a store: the switch greyed out and the note, nothing else. With
// one and sync on: when the last save succeeded, and the last failure.
Shown shown(bool hasStore, bool isSyncEnabled, const StatusCloudSyncHealth& health, Date now);

} // namespace CloudSyncPaneContent

} // namespace brindleaf
