#pragma once

#include "core/AgentStatusSnapshot.hpp"
#include "core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// The one place where the overall state is put into words: the tray tooltip,
// the dashboard's header and the floating window say the same thing.
namespace StatusWording {

// The overall state as the user reads it. A snapshot gives working, waiting,
// idle or unavailable; notUpdated describes this computer from the outside (a
// companion that heard nothing).
enum class Mood { working, waiting, idle, unavailable, notUpdated };

// The mood of a snapshot, the same for the tray icon's tooltip, the dashboard
// and the floating window: working while a session runs, else waiting while
// one needs the user, else unavailable when the snapshot's state is unknown
// (no agent's status could be read in that refresh), else idle.
Mood mood(const AgentStatusSnapshot& snapshot);

// "Working", "Waiting for You", "Idle", "Status Unavailable", "Not Updated".
std::string title(Mood mood);

// One sentence: "3 sessions running · 1 waiting for you", "1 session needs your
// input", "No agents are running.", ... A last update that is absent or not a
// finite date reads as no update at all.
std::string summary(Mood mood, std::int64_t runningCount, std::int64_t waitingCount, std::optional<Date> lastUpdate,
                    Date now);

// "1 session", otherwise "N sessions" ("0 sessions").
std::string sessionCount(std::int64_t count);

// The help sentence shown with the hidden stale-session count.
const std::string& staleSessionsHelp();

} // namespace StatusWording

} // namespace brindleaf
