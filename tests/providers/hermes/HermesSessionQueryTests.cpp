#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/providers/hermes/HermesTestSupport.hpp"

#include "core/SQLiteReaderError.hpp"

#include <gtest/gtest.h>

#include <algorithm>

using namespace brindleaf;
using namespace brindleaf::testing;
using namespace brindleaf::testing::hermes;

namespace {

// The session query as Hermes's schema needs it, placeholders marked with @...@.
const std::string queryTemplate = R"SQL(with recent_sessions as (
    select s_recent.id
    from sessions s_recent
    where s_recent.archived = 0
    order by coalesce((
        select max(m_recent.timestamp)
        from messages m_recent
        where m_recent.session_id = s_recent.id
    ), s_recent.started_at) desc
    limit @LIMIT@
)
select
    s.id as id,
    s.source as source,
    s.parent_session_id as parent_id,
    parent.title as parent_title,
    s.title as title,
    s.cwd as cwd,
    @MODEL@,
    @MODEL_CONFIG@,
    s.started_at as started_at,
    s.ended_at as ended_at,
    s.end_reason as end_reason,
    s.message_count as message_count,
    s.handoff_state as handoff_state,
    s.handoff_platform as handoff_platform,
    coalesce((
        select max(m.timestamp)
        from messages m
        where m.session_id = s.id
    ), s.started_at) as last_activity_at,
    (
        select m2.role
        from messages m2
        where m2.session_id = s.id
        order by m2.timestamp desc, m2.id desc
        limit 1
    ) as last_role,
    (
        select m3.finish_reason
        from messages m3
        where m3.session_id = s.id
        order by m3.timestamp desc, m3.id desc
        limit 1
    ) as last_finish_reason,
    (
        select m4.tool_name
        from messages m4
        where m4.session_id = s.id
        order by m4.timestamp desc, m4.id desc
        limit 1
    ) as last_tool_name,
    (
        select m5.tool_calls
        from messages m5
        where m5.session_id = s.id
          and m5.tool_calls is not null
          and (
            m5.tool_calls like '%"name": "terminal"%'
            or m5.tool_calls like '%"name":"terminal"%'
          )
        order by m5.timestamp desc, m5.id desc
        limit 1
    ) as last_terminal_tool_calls
from sessions s
left join sessions parent on parent.id = s.parent_session_id
where s.archived = 0
  and (
    s.id in (select id from recent_sessions)
    @EXTRA@
  )
order by last_activity_at desc)SQL";

std::string expectedQuery(const std::string& limit, const std::string& model, const std::string& modelConfig,
                          const std::string& extra) {
    std::string sql = queryTemplate;
    auto replace = [&](const std::string& marker, const std::string& value) {
        sql.replace(sql.find(marker), marker.size(), value);
    };
    replace("@LIMIT@", limit);
    replace("@MODEL@", model);
    replace("@MODEL_CONFIG@", modelConfig);
    replace("@EXTRA@", extra);
    return sql;
}

HermesProviderConfig configFor(const TempDir& home, int64_t limit = 40) {
    HermesProviderConfig config;
    config.hermesHome = home.path().string();
    config.recentSessionLimit = limit;
    return config;
}

const HermesSessionCandidate* byID(const std::vector<HermesSessionCandidate>& candidates, const std::string& id) {
    auto it = std::find_if(candidates.begin(), candidates.end(), [&](const auto& c) { return c.id == id; });
    return it == candidates.end() ? nullptr : &*it;
}

} // namespace

TEST(HermesSessionQuery, TextIsExactWithAndWithoutOptionalColumnsAndLiveKeys) {
    EXPECT_EQ(HermesStatusProvider::sessionCandidateQueryText(40, true, true, {}),
              expectedQuery("40", "s.model as model", "s.model_config as model_config", ""));
    EXPECT_EQ(HermesStatusProvider::sessionCandidateQueryText(40, false, false, {}),
              expectedQuery("40", "'' as model", "'' as model_config", ""));
    EXPECT_EQ(HermesStatusProvider::sessionCandidateQueryText(0, true, false, {}),
              expectedQuery("1", "s.model as model", "'' as model_config", ""));
    EXPECT_EQ(HermesStatusProvider::sessionCandidateQueryText(-3, false, true, {"k"}),
              expectedQuery("1", "'' as model", "s.model_config as model_config",
                            "or s.id in ('k')\nor s.parent_session_id in ('k')"));
    EXPECT_EQ(HermesStatusProvider::sessionCandidateQueryText(7, true, true, {"b", "a'x"}),
              expectedQuery("7", "s.model as model", "s.model_config as model_config",
                            "or s.id in ('a''x', 'b')\nor s.parent_session_id in ('a''x', 'b')"));
}

TEST(HermesSessionQuery, DecodesRecentRowsOfARealDatabase) {
    TempDir home;
    HermesStatusProvider provider(configFor(home, 3));
    const std::string path = (home / "state.db").string();
    EXPECT_TRUE(provider.sessionCandidateQuery(path, {}).empty()); // no database yet: no rows, no error

    {
        StateDatabase db(path);
        db.add(SessionRow{.id = "20260101_a", .source = "cli", .title = "Fix the build", .cwd = "/src",
                          .model = "hermes-4", .modelConfig = R"({"reasoning_config":{"effort":"","reasoning_effort":"high"}})",
                          .startedAt = 1000.5, .messageCount = 4, .handoffState = "pending"});
        db.add(SessionRow{.id = "20260101_b", .parentID = "20260101_a", .modelConfig = R"({"reasoning_effort":"low"})",
                          .startedAt = 2000, .endedAt = 2100, .endReason = "agent_close"});
        db.add(SessionRow{.id = "20260101_old", .startedAt = 10});
        db.add(SessionRow{.id = "20260101_older", .startedAt = 5});
        db.add(SessionRow{.id = "20260101_child_of_older", .parentID = "20260101_older", .startedAt = 4});
        db.add(SessionRow{.id = "20260101_archived", .startedAt = 9000, .archived = 1});
        db.add(SessionRow{.id = "20260101_zero", .startedAt = 0});
        db.add(MessageRow{"20260101_a", "user", 3000});
        db.add(MessageRow{"20260101_a", "assistant", 3001, "tool_calls", "terminal",
                          R"([{"function":{"name": "terminal","arguments":"{\"command\":\"make all\"}"}}])"});
        db.add(MessageRow{"20260101_a", "tool", 3002, std::nullopt, "terminal"});
    }

    const auto recent = provider.sessionCandidateQuery(path, {});
    ASSERT_EQ(recent.size(), 3u);
    EXPECT_EQ(recent[0].id, "20260101_a"); // newest message first
    EXPECT_EQ(recent[1].id, "20260101_b");
    EXPECT_EQ(recent[2].id, "20260101_old");

    const auto& a = recent[0];
    EXPECT_EQ(a.source, "cli");
    EXPECT_EQ(a.title, "Fix the build");
    EXPECT_EQ(a.cwd, "/src");
    EXPECT_EQ(a.startedAt, 1000.5);
    EXPECT_EQ(a.lastActivityAt, 3002.0);
    EXPECT_EQ(a.lastRole, "tool");
    EXPECT_FALSE(a.lastFinishReason);
    EXPECT_EQ(a.lastToolName, "terminal");
    EXPECT_EQ(a.messageCount, 4);
    EXPECT_EQ(a.handoffState, "pending");
    ASSERT_TRUE(a.lastTerminalToolCalls);
    EXPECT_EQ(HermesStatusProvider::terminalCommand(*a.lastTerminalToolCalls), "make all");
    EXPECT_EQ(a.runtimeProfile,
              SessionRuntimeProfile("hermes-4", "high", SessionRuntimeProfileSource::hermesSessionStore));

    const auto& b = recent[1];
    EXPECT_EQ(b.parentID, "20260101_a");
    EXPECT_EQ(b.parentTitle, "Fix the build");
    EXPECT_EQ(b.endedAt, 2100.0);
    EXPECT_EQ(b.endReason, "agent_close");
    EXPECT_EQ(b.lastActivityAt, 2000.0); // no messages: the start
    EXPECT_FALSE(b.runtimeProfile);      // a top-level reasoning_effort is not read

    // Live worker keys add their sessions and those sessions' children beyond the limit.
    const auto withWorkers = provider.sessionCandidateQuery(path, {"20260101_older", "20260101_zero"});
    ASSERT_EQ(withWorkers.size(), 6u);
    EXPECT_TRUE(byID(withWorkers, "20260101_child_of_older"));
    ASSERT_TRUE(byID(withWorkers, "20260101_zero"));
    EXPECT_FALSE(byID(withWorkers, "20260101_zero")->startedAt);
    EXPECT_FALSE(byID(withWorkers, "20260101_archived"));
}

TEST(HermesSessionQuery, ADatabaseWithoutModelColumnsGivesNoRuntimeProfiles) {
    TempDir home;
    const std::string path = (home / "state.db").string();
    {
        StateDatabase db(path, /*withModelColumns=*/false);
        db.add(SessionRow{.id = "20260101_a", .startedAt = 100});
    }
    HermesStatusProvider provider(configFor(home));
    const auto candidates = provider.sessionCandidateQuery(path, {});
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_FALSE(candidates[0].runtimeProfile);
}

TEST(HermesSessionQuery, AnUnreadableDatabaseThrowsTheReaderError) {
    TempDir home;
    const auto path = home.write("state.db", std::string(4096, 'x'));
    HermesStatusProvider provider(configFor(home));
    EXPECT_THROW(provider.sessionCandidateQuery(path.string(), {}), SQLiteReaderError);
}

TEST(HermesTerminalCommand, TakesTheFirstTerminalCallWithACommand) {
    EXPECT_EQ(HermesStatusProvider::terminalCommand(
                  R"([{"function":{"name":"read","arguments":"{\"command\":\"no\"}"}},)"
                  R"({"function":{"name":"terminal","arguments":"{\"cwd\":\"/\"}"}},)"
                  R"({"function":{"name":"terminal","arguments":"{\"command\":\"cargo test\"}"}}])"),
              "cargo test");
    for (const char* calls : {"", "{}", "not json", R"([{"function":{"name":"terminal","arguments":"not json"}}])",
                              R"([{"function":{"name":"terminal","arguments":{"command":"x"}}}])",
                              R"([{"function":{"name":"terminal","arguments":"{\"command\":\"\"}"}}])"})
        EXPECT_FALSE(HermesStatusProvider::terminalCommand(calls)) << calls;
}
