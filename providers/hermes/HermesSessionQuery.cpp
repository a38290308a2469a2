// The session query against Hermes's "state.db" and the terminal command of a session.
#include "providers/hermes/HermesStatusProvider.hpp"

#include "core/FileStat.hpp"
#include "core/SQLiteReader.hpp"
#include "core/TolerantJSON.hpp"
#include "providers/hermes/HermesDataSources.hpp"

#include <simdjson.h>

namespace brindleaf {

namespace {

std::string quotedSQLText(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += '\'';
        quoted += c;
    }
    quoted += '\'';
    return quoted;
}

} // namespace

std::string HermesStatusProvider::sessionCandidateQueryText(int64_t recentSessionLimit, bool hasModelColumn,
                                                            bool hasModelConfigColumn,
                                                            const std::set<std::string>& liveKeys) {
    const int64_t limit = recentSessionLimit < 1 ? 1 : recentSessionLimit;
    std::string extra;
    if (!liveKeys.empty()) {
        std::string list;
        for (const auto& key : liveKeys) {
            if (!list.empty()) list += ", ";
            list += quotedSQLText(key);
        }
        extra = "or s.id in (" + list + ")\nor s.parent_session_id in (" + list + ")";
    }
    const std::string modelColumn = hasModelColumn ? "s.model as model" : "'' as model";
    const std::string modelConfigColumn =
        hasModelConfigColumn ? "s.model_config as model_config" : "'' as model_config";

    std::string sql;
    sql.reserve(2600 + extra.size());
    sql += "with recent_sessions as (\n"
           "    select s_recent.id\n"
           "    from sessions s_recent\n"
           "    where s_recent.archived = 0\n"
           "    order by coalesce((\n"
           "        select max(m_recent.timestamp)\n"
           "        from messages m_recent\n"
           "        where m_recent.session_id = s_recent.id\n"
           "    ), s_recent.started_at) desc\n"
           "    limit ";
    sql += std::to_string(limit);
    sql += "\n"
           ")\n"
           "select\n"
           "    s.id as id,\n"
           "    s.source as source,\n"
           "    s.parent_session_id as parent_id,\n"
           "    parent.title as parent_title,\n"
           "    s.title as title,\n"
           "    s.cwd as cwd,\n"
           "    ";
    sql += modelColumn;
    sql += ",\n    ";
    sql += modelConfigColumn;
    sql += ",\n"
           "    s.started_at as started_at,\n"
           "    s.ended_at as ended_at,\n"
           "    s.end_reason as end_reason,\n"
           "    s.message_count as message_count,\n"
           "    s.handoff_state as handoff_state,\n"
           "    s.handoff_platform as handoff_platform,\n"
           "    coalesce((\n"
           "        select max(m.timestamp)\n"
           "        from messages m\n"
           "        where m.session_id = s.id\n"
           "    ), s.started_at) as last_activity_at,\n"
           "    (\n"
           "        select m2.role\n"
           "        from messages m2\n"
           "        where m2.session_id = s.id\n"
           "        order by m2.timestamp desc, m2.id desc\n"
           "        limit 1\n"
           "    ) as last_role,\n"
           "    (\n"
           "        select m3.finish_reason\n"
           "        from messages m3\n"
           "        where m3.session_id = s.id\n"
           "        order by m3.timestamp desc, m3.id desc\n"
           "        limit 1\n"
           "    ) as last_finish_reason,\n"
           "    (\n"
           "        select m4.tool_name\n"
           "        from messages m4\n"
           "        where m4.session_id = s.id\n"
           "        order by m4.timestamp desc, m4.id desc\n"
           "        limit 1\n"
           "    ) as last_tool_name,\n"
           "    (\n"
           "        select m5.tool_calls\n"
           "        from messages m5\n"
           "        where m5.session_id = s.id\n"
           "          and m5.tool_calls is not null\n"
           "          and (\n"
           "            m5.tool_calls like '%\"name\": \"terminal\"%'\n"
           "            or m5.tool_calls like '%\"name\":\"terminal\"%'\n"
           "          )\n"
           "        order by m5.timestamp desc, m5.id desc\n"
           "        limit 1\n"
           "    ) as last_terminal_tool_calls\n"
           "from sessions s\n"
           "left join sessions parent on parent.id = s.parent_session_id\n"
           "where s.archived = 0\n"
           "  and (\n"
           "    s.id in (select id from recent_sessions)\n"
           "    ";
    sql += extra;
    sql += "\n"
           "  )\n"
           "order by last_activity_at desc";
    return sql;
}

std::vector<HermesSessionCandidate> HermesStatusProvider::sessionCandidateQuery(
    const std::string& path, const std::set<std::string>& liveKeys) const {
    if (!FileStat::info(path)) return {};
    SQLiteReader reader(path);
    const std::set<std::string> columns = reader.columnNames("sessions");
    const std::string sql = sessionCandidateQueryText(config_.recentSessionLimit, columns.count("model") > 0,
                                                      columns.count("model_config") > 0, liveKeys);
    std::vector<HermesSessionCandidate> candidates;
    for (const auto& row : reader.query(sql)) {
        if (auto candidate = HermesSessionCandidate::fromRow(row)) candidates.push_back(std::move(*candidate));
    }
    return candidates;
}

std::optional<std::string> HermesStatusProvider::terminalCommand(std::string_view lastTerminalToolCalls) {
    if (lastTerminalToolCalls.empty()) return std::nullopt;
    // Parsers keep their buffers between calls (every shown session asks).
    thread_local simdjson::dom::parser outer;
    thread_local simdjson::dom::parser inner;
    simdjson::dom::array calls;
    if (TolerantJSON::parse(outer, lastTerminalToolCalls.data(), lastTerminalToolCalls.size()).get_array().get(calls) !=
        simdjson::SUCCESS)
        return std::nullopt;
    for (simdjson::dom::element call : calls) {
        simdjson::dom::object callObject;
        if (call.get_object().get(callObject) != simdjson::SUCCESS) continue;
        auto function = jsonMember(callObject, "function");
        simdjson::dom::object functionObject;
        if (!function || function->get_object().get(functionObject) != simdjson::SUCCESS) continue;
        auto name = jsonMember(functionObject, "name");
        if (!name || jsonNonEmptyString(*name) != "terminal") continue;
        auto argumentsValue = jsonMember(functionObject, "arguments");
        auto arguments = argumentsValue ? jsonNonEmptyString(*argumentsValue) : std::nullopt;
        if (!arguments) continue;
        simdjson::dom::object argumentsObject;
        if (TolerantJSON::parse(inner, *arguments).get_object().get(argumentsObject) != simdjson::SUCCESS) continue;
        auto command = jsonMember(argumentsObject, "command");
        if (auto text = command ? jsonNonEmptyString(*command) : std::nullopt) return text;
    }
    return std::nullopt;
}

} // namespace brindleaf
