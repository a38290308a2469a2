#include "presentation/StatusWording.hpp"

#include "presentation/StatusFormatting.hpp"

#include <algorithm>
#include <cmath>

namespace brindleaf::StatusWording {

Mood mood(const AgentStatusSnapshot& snapshot) {
    const auto& sessions = snapshot.activeSessions;
    if (std::any_of(sessions.begin(), sessions.end(), [](const AgentSession& s) { return s.isRunning(); }))
        return Mood::working;
    if (!sessions.empty()) return Mood::waiting;
    if (snapshot.state == AgentRunState::unknown) return Mood::unavailable;
    return Mood::idle;
}

std::string title(Mood mood) {
    switch (mood) {
    case Mood::working:
        return "Working";
    case Mood::waiting:
        return "Waiting for You";
    case Mood::idle:
        return "Idle";
    case Mood::unavailable:
        return "Status Unavailable";
    case Mood::notUpdated:
        return "Not Updated";
    }
    return "Idle";
}

std::string sessionCount(std::int64_t count) {
    if (count == 1) return "1 session";
    return std::to_string(count) + " sessions";
}

std::string summary(Mood mood, std::int64_t runningCount, std::int64_t waitingCount, std::optional<Date> lastUpdate,
                    Date now) {
    switch (mood) {
    case Mood::working: {
        std::string text = sessionCount(runningCount) + " running";
        if (waitingCount >= 1) text += " \u00B7 " + std::to_string(waitingCount) + " waiting for you";
        return text;
    }
    case Mood::waiting:
        if (waitingCount == 1) return "1 session needs your input";
        return std::to_string(waitingCount) + " sessions need your input";
    case Mood::idle:
        return "No agents are running.";
    case Mood::unavailable:
        return "This computer couldn\u2019t read agent activity.";
    case Mood::notUpdated:
        if (!lastUpdate || !std::isfinite(*lastUpdate) || !std::isfinite(now)) return "Waiting for this computer.";
        return "Last updated " + StatusFormatting::relativeTime(*lastUpdate, now);
    }
    return "No agents are running.";
}

const std::string& staleSessionsHelp() {
    static const std::string text = "Sessions that stopped mid-task \u2014 for example because the agent quit \u2014 "
                                    "and are no longer shown as running.";
    return text;
}

} // namespace brindleaf::StatusWording
