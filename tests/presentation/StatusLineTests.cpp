// The status line of `brindleaf --watch`, as tables of snapshots and the
// line printed for them.
#include "presentation/StatusLine.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brindleaf;

namespace {

AgentSession session(const std::string& provider, const std::string& title, bool waiting,
                     const std::string& evidence = "rollout has pending tool call") {
    return AgentSession({.id = provider + "-" + title,
                         .provider = provider,
                         .title = title,
                         .evidence = evidence,
                         .needsUserAttention = waiting});
}

AgentStatusSnapshot snapshotOf(std::vector<AgentSession> sessions, AgentRunState state) {
    AgentStatusSnapshot snapshot;
    snapshot.state = state;
    snapshot.activeSessions = std::move(sessions);
    return snapshot;
}

} // namespace

TEST(StatusLine, CountsStateAndShareOfWorkingSessions) {
    using State = AgentRunState;
    struct Row {
        std::vector<AgentSession> sessions;
        State state;
        std::string expectedState, text, tooltip;
        int percentage;
    } rows[] = {
        {{}, State::complete, "idle", "idle", "Idle \u2014 No agents are running.", 0},
        {{},
         State::unknown,
         "unknown",
         "unknown",
         "Status Unavailable \u2014 This computer couldn\u2019t read agent activity.",
         0},
        {{session("Codex", "Fix it", false)},
         State::inProgress,
         "working",
         "1 working",
         "Codex: Fix it \u2014 Running a tool",
         100},
        {{session("Codex", "Ask", true)},
         State::complete,
         "waiting",
         "1 waiting",
         "Codex: Ask \u2014 Waiting for your choice",
         0},
        // Sessions decide over an unknown agent beside them; lines sorted as text.
        {{session("Hermes", "b", false), session("Claude Code", "a", true), session("Codex", "c", false)},
         State::unknown,
         "working",
         "2 working \u00B7 1 waiting",
         "Claude Code: a \u2014 Waiting for your choice\nCodex: c \u2014 Running a tool\nHermes: b \u2014 Running a "
         "tool",
         67},
        {{session("Codex", "a", false), session("Codex", "b", true), session("Codex", "c", true)},
         State::inProgress,
         "working",
         "1 working \u00B7 2 waiting",
         "",
         33},
        {{session("Codex", "a", true), session("Codex", "b", true)}, State::complete, "waiting", "2 waiting", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto line = StatusLine::make(snapshotOf(row.sessions, row.state));
        EXPECT_EQ(line.state, row.expectedState);
        EXPECT_EQ(line.text, row.text);
        if (!row.tooltip.empty()) {
            EXPECT_EQ(line.tooltip, row.tooltip);
        }
        EXPECT_EQ(line.percentage, row.percentage);
    }
}

TEST(StatusLine, SameSessionsInAnotherOrderGiveTheSameLine) {
    const auto a = session("Codex", "a", false), b = session("Claude Code", "b", true);
    EXPECT_EQ(StatusLine::make(snapshotOf({a, b}, AgentRunState::inProgress)),
              StatusLine::make(snapshotOf({b, a}, AgentRunState::inProgress)));
}

TEST(StatusLine, PrintedAsWaybarObjectOrTextAlone) {
    auto agentText = session("Claude Code", "Fix <b>bold</b> & \"more\"\nsecond\tline", false);
    agentText.title += "\xFF"; // not UTF-8
    const auto line = StatusLine::make(snapshotOf({agentText}, AgentRunState::inProgress));
    EXPECT_EQ(line.printed(StatusLine::Format::text), "1 working");
    EXPECT_EQ(line.printed(StatusLine::Format::json),
              "{\"text\":\"1 working\",\"alt\":\"working\",\"tooltip\":\"Claude Code: Fix &lt;b&gt;bold&lt;/b&gt; "
              "&amp; \\\"more\\\" second line\xEF\xBF\xBD \u2014 Running a tool\",\"class\":\"working\","
              "\"percentage\":100}");
    EXPECT_EQ(StatusLine::make(snapshotOf({}, AgentRunState::complete)).printed(StatusLine::Format::json),
              "{\"text\":\"idle\",\"alt\":\"idle\",\"tooltip\":\"Idle \u2014 No agents are running.\",\"class\":"
              "\"idle\",\"percentage\":0}");
}

TEST(StatusLine, FormatNames) {
    EXPECT_EQ(StatusLine::formatNamed("json"), StatusLine::Format::json);
    EXPECT_EQ(StatusLine::formatNamed("text"), StatusLine::Format::text);
    for (const char* name : {"", "JSON", "Text", "foo", "json ", "text="})
        EXPECT_EQ(StatusLine::formatNamed(name), std::nullopt) << name;
}
