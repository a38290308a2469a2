#include "providers/hermes/HermesSessionCandidate.hpp"

#include "core/TolerantJSON.hpp"
#include "providers/hermes/HermesDataSources.hpp"

#include <simdjson.h>

namespace brindleaf {

namespace {

const std::string& columnText(const SQLiteReader::Row& row, const std::string& column) {
    static const std::string empty;
    const std::string* text = SQLiteReader::columnValue(row, column);
    return text ? *text : empty;
}


std::optional<std::string> reasoningEffortFrom(const std::string& modelConfig) {
    if (modelConfig.empty()) return std::nullopt;
    simdjson::dom::parser parser;
    simdjson::dom::object top;
    if (TolerantJSON::parse(parser, modelConfig).get_object().get(top) != simdjson::SUCCESS) return std::nullopt;
    auto reasoning = jsonMember(top, "reasoning_config");
    if (!reasoning) return std::nullopt;
    simdjson::dom::object config;
    if (reasoning->get_object().get(config) != simdjson::SUCCESS) return std::nullopt;
    if (auto effort = jsonMember(config, "effort")) {
        if (auto text = jsonNonEmptyString(*effort)) return text;
    }
    if (auto effort = jsonMember(config, "reasoning_effort")) return jsonNonEmptyString(*effort);
    return std::nullopt;
}

} // namespace

std::optional<SessionRuntimeProfile> HermesSessionCandidate::runtimeProfileFrom(const std::string& model,
                                                                                 const std::string& modelConfig) {
    auto effort = reasoningEffortFrom(modelConfig);
    std::optional<std::string> modelName;
    if (!model.empty()) modelName = model;
    if (!modelName && !effort) return std::nullopt;
    return SessionRuntimeProfile(std::move(modelName), std::move(effort), SessionRuntimeProfileSource::hermesSessionStore);
}

std::optional<HermesSessionCandidate> HermesSessionCandidate::fromRow(const SQLiteReader::Row& row) {
    auto id = SQLiteReader::nonEmptyColumn(row, "id");
    if (!id) return std::nullopt;
    HermesSessionCandidate candidate;
    candidate.id = std::move(*id);
    candidate.source = SQLiteReader::nonEmptyColumn(row, "source");
    candidate.parentID = SQLiteReader::nonEmptyColumn(row, "parent_id");
    candidate.parentTitle = SQLiteReader::nonEmptyColumn(row, "parent_title");
    candidate.title = SQLiteReader::nonEmptyColumn(row, "title");
    candidate.cwd = SQLiteReader::nonEmptyColumn(row, "cwd");
    candidate.runtimeProfile = runtimeProfileFrom(columnText(row, "model"), columnText(row, "model_config"));
    candidate.startedAt = hermesEpochSecondsFromText(columnText(row, "started_at"));
    candidate.endedAt = hermesEpochSecondsFromText(columnText(row, "ended_at"));
    candidate.endReason = SQLiteReader::nonEmptyColumn(row, "end_reason");
    candidate.messageCount = parseWholeInteger(columnText(row, "message_count")).value_or(0);
    candidate.handoffState = SQLiteReader::nonEmptyColumn(row, "handoff_state");
    candidate.handoffPlatform = SQLiteReader::nonEmptyColumn(row, "handoff_platform");
    candidate.lastActivityAt = hermesEpochSecondsFromText(columnText(row, "last_activity_at"));
    candidate.lastRole = SQLiteReader::nonEmptyColumn(row, "last_role");
    candidate.lastFinishReason = SQLiteReader::nonEmptyColumn(row, "last_finish_reason");
    candidate.lastToolName = SQLiteReader::nonEmptyColumn(row, "last_tool_name");
    candidate.lastTerminalToolCalls = SQLiteReader::nonEmptyColumn(row, "last_terminal_tool_calls");
    return candidate;
}

} // namespace brindleaf
