#pragma once

#include "core/AgentStatusSnapshot.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// What a status bar or a terminal's status line shows of a snapshot, printed
// as one line by `brindleaf --watch`. Worked out without Qt; the wording
// follows the tray's (StatusWording, the tray tooltip and the session cards).
struct StatusLine {
    // json: Waybar's custom-module object; text: the text alone.
    enum class Format { json, text };

    // "working", "waiting", "idle" or "unknown": the snapshot's mood as the
    // tray tooltip has it (working while a session runs, else waiting while
    // one needs the user, else unknown when no agent could be read, else idle).
    std::string state;
    // The counts, "2 working · 1 waiting"; "idle" without a session shown,
    // "unknown" when no agent could be read.
    std::string text;
    // One line per shown session, "Claude Code: Fix the build — Running a
    // tool" (the agent, the card's title and activity phrase), sorted as
    // text; without a session, the tray
    // tooltip's summary ("Idle — No agents are running."). Agents' text is
    // plain: line breaks and other control characters become spaces.
    std::string tooltip;
    // The share of the shown sessions that are working, 0 to 100, rounded;
    // 0 without a session.
    int percentage = 0;

    bool operator==(const StatusLine&) const = default;

    static StatusLine make(const AgentStatusSnapshot& snapshot);

    // "json" or "text"; nothing for any other name.
    static std::optional<Format> formatNamed(std::string_view name);

    // The line without its line break. json: {"text","alt","tooltip","class",
    // "percentage"} in that order, alt and class both the state; the text and
    // the tooltip have "&", "<" and ">" written as markup entities, since
    // Waybar reads them as Pango markup; bytes that are not UTF-8 become
    // U+FFFD. text: the text as it stands.
    std::string printed(Format format) const;
};

} // namespace brindleaf
