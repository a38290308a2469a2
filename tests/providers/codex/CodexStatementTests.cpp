// The statements sent to Codex's databases, byte for byte.
#include "providers/codex/CodexStatusProvider.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

const std::set<std::string> allThreadColumns = {
    "id",         "title",         "first_user_message", "preview",   "cwd",        "rollout_path",
    "updated_at", "updated_at_ms", "recency_at",         "recency_at_ms", "agent_nickname", "agent_role",
    "thread_source", "model",      "reasoning_effort",   "archived",  "created_at", "source"};

const char* const fullChildAndParentItems = R"(select
    child.id as id,
    edge.parent_thread_id as parent_id,
    child.title as title,
    child.first_user_message as first_user_message,
    child.preview as preview,
    child.cwd as cwd,
    child.rollout_path as rollout_path,
    child.updated_at as updated_at,
    child.updated_at_ms as updated_at_ms,
    child.agent_nickname as agent_nickname,
    child.agent_role as agent_role,
    child.thread_source as thread_source,
    child.model as model,
    child.reasoning_effort as reasoning_effort,
    parent.title as parent_title,
    parent.first_user_message as parent_first_user_message,
    parent.preview as parent_preview,
    parent.agent_nickname as parent_agent_nickname,
    parent.agent_role as parent_agent_role,
    parent.model as parent_model,
    parent.reasoning_effort as parent_reasoning_effort,)";

} // namespace

TEST(CodexStatements, TableTest) {
    EXPECT_EQ(CodexStatusProvider::tableExistsStatement("threads"),
              "select name\nfrom sqlite_master\nwhere type = 'table' and name = 'threads'\nlimit 1");
    EXPECT_EQ(CodexStatusProvider::tableExistsStatement("it's"),
              "select name\nfrom sqlite_master\nwhere type = 'table' and name = 'it''s'\nlimit 1");
}

TEST(CodexStatements, RecentThreadsForEachSchema) {
    EXPECT_EQ(CodexStatusProvider::recentThreadsStatement(allThreadColumns, true, 40), R"(select
    child.id as id,
    edge.parent_thread_id as parent_id,
    child.title as title,
    child.first_user_message as first_user_message,
    child.preview as preview,
    child.cwd as cwd,
    child.rollout_path as rollout_path,
    coalesce(nullif(child.recency_at, 0), child.updated_at) as updated_at,
    coalesce(nullif(child.recency_at_ms, 0), child.updated_at_ms) as updated_at_ms,
    child.agent_nickname as agent_nickname,
    child.agent_role as agent_role,
    child.thread_source as thread_source,
    child.model as model,
    child.reasoning_effort as reasoning_effort,
    parent.title as parent_title,
    parent.first_user_message as parent_first_user_message,
    parent.preview as parent_preview,
    parent.agent_nickname as parent_agent_nickname,
    parent.agent_role as parent_agent_role,
    parent.model as parent_model,
    parent.reasoning_effort as parent_reasoning_effort,
    'recent_thread' as source
from threads child
left join thread_spawn_edges edge on edge.child_thread_id = child.id
left join threads parent on parent.id = edge.parent_thread_id
where child.archived = 0
order by coalesce(nullif(child.recency_at_ms, 0), child.updated_at_ms) desc
limit 40)");

    // Only an id column, no spawn-edge table, a limit below 1.
    EXPECT_EQ(CodexStatusProvider::recentThreadsStatement({"id"}, false, 0), R"(select
    child.id as id,
    '' as parent_id,
    '' as title,
    '' as first_user_message,
    '' as preview,
    '' as cwd,
    '' as rollout_path,
    0.0 as updated_at,
    0.0 as updated_at_ms,
    '' as agent_nickname,
    '' as agent_role,
    '' as thread_source,
    '' as model,
    '' as reasoning_effort,
    '' as parent_title,
    '' as parent_first_user_message,
    '' as parent_preview,
    '' as parent_agent_nickname,
    '' as parent_agent_role,
    '' as parent_model,
    '' as parent_reasoning_effort,
    'recent_thread' as source
from threads child


where 1 = 1
order by 0.0 desc
limit 1)");

    // Seconds without milliseconds, with the millisecond recency column; the
    // join present but the parent lacking the optional columns.
    EXPECT_EQ(CodexStatusProvider::recentThreadsStatement({"id", "title", "updated_at", "recency_at_ms"}, true, 7),
              R"(select
    child.id as id,
    edge.parent_thread_id as parent_id,
    child.title as title,
    '' as first_user_message,
    '' as preview,
    '' as cwd,
    '' as rollout_path,
    child.updated_at as updated_at,
    coalesce(nullif(child.recency_at_ms, 0), (child.updated_at * 1000)) as updated_at_ms,
    '' as agent_nickname,
    '' as agent_role,
    '' as thread_source,
    '' as model,
    '' as reasoning_effort,
    parent.title as parent_title,
    '' as parent_first_user_message,
    '' as parent_preview,
    '' as parent_agent_nickname,
    '' as parent_agent_role,
    '' as parent_model,
    '' as parent_reasoning_effort,
    'recent_thread' as source
from threads child
left join thread_spawn_edges edge on edge.child_thread_id = child.id
left join threads parent on parent.id = edge.parent_thread_id
where 1 = 1
order by coalesce(nullif(child.recency_at_ms, 0), (child.updated_at * 1000)) desc
limit 7)");
}

TEST(CodexStatements, SpawnEdges) {
    EXPECT_EQ(CodexStatusProvider::spawnEdgesStatement(allThreadColumns, 1700000000),
              std::string(fullChildAndParentItems) + R"(
    case
        when edge.status = 'closed' then 'closed_spawn_edge'
        else 'open_spawn_edge'
    end as source
from thread_spawn_edges edge
join threads child on child.id = edge.child_thread_id
left join threads parent on parent.id = edge.parent_thread_id
where edge.status in ('open', 'closed')
  and child.archived = 0
  and (
      edge.status = 'open'
      or child.updated_at >= 1700000000
  ))");

    EXPECT_EQ(CodexStatusProvider::spawnEdgesStatement({"id", "cwd"}, -5), R"(select
    child.id as id,
    edge.parent_thread_id as parent_id,
    '' as title,
    '' as first_user_message,
    '' as preview,
    child.cwd as cwd,
    '' as rollout_path,
    '' as updated_at,
    '' as updated_at_ms,
    '' as agent_nickname,
    '' as agent_role,
    '' as thread_source,
    '' as model,
    '' as reasoning_effort,
    '' as parent_title,
    '' as parent_first_user_message,
    '' as parent_preview,
    '' as parent_agent_nickname,
    '' as parent_agent_role,
    '' as parent_model,
    '' as parent_reasoning_effort,
    case
        when edge.status = 'closed' then 'closed_spawn_edge'
        else 'open_spawn_edge'
    end as source
from thread_spawn_edges edge
join threads child on child.id = edge.child_thread_id
left join threads parent on parent.id = edge.parent_thread_id
where edge.status in ('open', 'closed')
  and 1 = 1
  and (
      edge.status = 'open'
      or 0 >= -5
  ))");
}

TEST(CodexStatements, RuntimeThreads) {
    EXPECT_EQ(CodexStatusProvider::runtimeThreadsStatement(allThreadColumns, true, {"t1"}),
              std::string(fullChildAndParentItems) + R"(
    'runtime_log' as source
from threads child
left join thread_spawn_edges edge on edge.child_thread_id = child.id
left join threads parent on parent.id = edge.parent_thread_id
where child.archived = 0
  and child.id in ('t1'))");

    const std::string withoutJoin =
        CodexStatusProvider::runtimeThreadsStatement({"id", "archived"}, false, {"a'b", "c"});
    EXPECT_EQ(withoutJoin.substr(withoutJoin.find("    'runtime_log' as source")), R"(    'runtime_log' as source
from threads child


where child.archived = 0
  and child.id in ('a''b', 'c'))");
    EXPECT_NE(withoutJoin.find("\n    '' as parent_id,\n"), std::string::npos);
    EXPECT_NE(withoutJoin.find("\n    '' as parent_title,\n"), std::string::npos);
}

TEST(CodexStatements, RuntimeLogs) {
    const char* const rules = R"(target = 'session_task.turn'
or target = 'codex_app_server::request_processors::thread_lifecycle'
or target = 'codex_core::session::turn'
or target = 'codex_api::endpoint::responses_websocket'
or target = 'codex_api::sse::responses'
or (target = 'codex_core::stream_events_utils' and (
    coalesce(feedback_log_body, '') like '%session_loop%'
    or coalesce(feedback_log_body, '') like '%submission_dispatch%'
))
or (target = 'log' and coalesce(feedback_log_body, '') like '%session_task.turn%')
or (target = 'codex_otel.log_only' and coalesce(feedback_log_body, '') like '%session_task.turn%')
or (target = 'codex_otel.trace_safe' and coalesce(feedback_log_body, '') like '%session_task.turn%'))";
    EXPECT_EQ(CodexStatusProvider::runtimeLogStatement(true, 1700000000, 10000),
              std::string(R"(select thread_id, max(ts) as last_runtime_ts
from (
    select thread_id, ts
    from logs indexed by idx_logs_ts
    where ts >= 1700000000
      and thread_id is not null
      and ()") + rules + R"()
    order by ts desc
    limit 10000
) recent_runtime_logs
group by thread_id
order by last_runtime_ts desc
limit 64)");
    EXPECT_EQ(CodexStatusProvider::runtimeLogStatement(false, 5, 10),
              std::string(R"(select thread_id, max(ts) as last_runtime_ts
from (
    select thread_id, ts
    from logs
    where ts >= 5
      and thread_id is not null
      and ()") + rules + R"()
    order by ts desc
    limit 64
) recent_runtime_logs
group by thread_id
order by last_runtime_ts desc
limit 64)");
}
