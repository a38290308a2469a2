#pragma once

#include "core/AgentSession.hpp"
#include "core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// What one session's card shows, worked out without Qt: the title and badge,
// the activity line, the detail lines and the context menu with the texts it
// copies. The row widget only paints it. Every text here comes from the
// agents' files and is shown as plain text.
struct SessionRowContent {
    enum class DetailKind { model, folder, parent, background, resources };

    struct DetailLine {
        DetailKind kind = DetailKind::model;
        std::string symbol; // symbol name of the line's icon
        std::string text;
        std::string help; // the tooltip; empty for none
        bool monospacedDigits = false;
        bool operator==(const DetailLine&) const = default;
    };

    struct MenuEntry {
        std::string title;
        std::string copiedText;
        bool separatorBefore = false;
        bool operator==(const MenuEntry&) const = default;
    };

    std::string id;
    std::string displayTitle;
    std::string provider;
    bool needsUserAttention = false;
    // The activity phrase, then " · " and the relative time of the last activity when known.
    std::string activity;
    std::vector<DetailLine> details;
    std::vector<MenuEntry> menu;
    // The session's process (the one whose terminal "Go to Session" brings forward), when known.
    std::optional<int64_t> processID;

    bool operator==(const SessionRowContent&) const = default;

    // The content of a session's card at the reference time `now`.
    static SessionRowContent make(const AgentSession& session, Date now);

    // The title, or the id when the title is empty; a Codex review thread
    // (its title starts with the history preamble) reads "Codex review session".
    static std::string titleOf(const AgentSession& session);
    // The parent's nickname, else its title, in typographic quotes; absent when neither is there or not empty.
    static std::optional<std::string> parentText(const AgentSession& session);
    // The last component of a working directory ("/a/b/" gives "b", "/" gives "/").
    static std::string folderName(const std::string& cwd);
    // The lines "Title: ...", "Agent: ...", "Session ID: ...", "Evidence: ..."
    // and those of the optional fields that are present, joined by line breaks.
    static std::string diagnosticBlock(const AgentSession& session);
    // The spoken label of the status dot.
    static std::string statusLabel(bool needsUserAttention);
};

} // namespace brindleaf
