#pragma once

#include "core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// The one place where the overall state is put into words: the tray tooltip,
// the dashboard's header and the floating window say the same thing.
namespace StatusWording {

// The overall state as the user reads it. The dashboard model derives only
// working, waiting and idle; the other two describe this computer from the
// outside (a companion that heard nothing).
enum class Mood { working, waiting, idle, unavailable, notUpdated };

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
