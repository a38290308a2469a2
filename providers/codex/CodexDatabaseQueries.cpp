// Where the Codex databases are, the statements sent to them, and how their
// rows become candidates.
#include "providers/codex/CodexStatusProvider.hpp"

#include "core/FileStat.hpp"
#include "core/TextUtils.hpp"
#include "providers/codex/CodexText.hpp"

#include <unicode/uregex.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>

#include <array>

namespace brindleaf {

namespace {

constexpr std::string_view agentHistoryPrefix = "The following is the Codex agent history";
constexpr std::string_view internalReviewTitle = "Codex internal review session";
constexpr std::string_view systemPromptPrefix = "你是";
constexpr std::size_t presentableTitleLimit = 160;
constexpr int64_t runtimeThreadLimit = 64;

constexpr std::string_view targetRules =
    "target = 'session_task.turn'\n"
    "or target = 'codex_app_server::request_processors::thread_lifecycle'\n"
    "or target = 'codex_core::session::turn'\n"
    "or target = 'codex_api::endpoint::responses_websocket'\n"
    "or target = 'codex_api::sse::responses'\n"
    "or (target = 'codex_core::stream_events_utils' and (\n"
    "    coalesce(feedback_log_body, '') like '%session_loop%'\n"
    "    or coalesce(feedback_log_body, '') like '%submission_dispatch%'\n"
    "))\n"
    "or (target = 'log' and coalesce(feedback_log_body, '') like '%session_task.turn%')\n"
    "or (target = 'codex_otel.log_only' and coalesce(feedback_log_body, '') like '%session_task.turn%')\n"
    "or (target = 'codex_otel.trace_safe' and coalesce(feedback_log_body, '') like '%session_task.turn%')";

constexpr std::string_view parentJoinFirstLine = "left join thread_spawn_edges edge on edge.child_thread_id = child.id";
constexpr std::string_view parentJoinSecondLine = "left join threads parent on parent.id = edge.parent_thread_id";

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

std::string quoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    out += '\'';
    return out;
}

bool has(const std::set<std::string>& columns, const char* column) { return columns.count(column) > 0; }

bool containsAllColumns(std::initializer_list<const char*> names, const std::set<std::string>& columns) {
    for (const char* name : names)
        if (!has(columns, name)) return false;
    return true;
}

std::string childItem(const std::set<std::string>& columns, const char* column) {
    if (has(columns, column)) return std::string("child.") + column + " as " + column;
    return std::string("'' as ") + column;
}

std::string parentItem(const std::set<std::string>& columns, bool parentJoin, const char* column) {
    if (parentJoin && has(columns, column)) return std::string("parent.") + column + " as parent_" + column;
    return std::string("'' as parent_") + column;
}

enum class ThreadQuery { runtimeLog, recent, spawnEdge };

// Items 1 to 21 of a thread query's select list, with "select" in front.
std::string selectItems(const std::set<std::string>& columns, bool parentJoin, ThreadQuery query,
                        const std::string& secondsExpression = {}, const std::string& millisecondsExpression = {}) {
    std::vector<std::string> items;
    items.reserve(22);
    items.push_back(childItem(columns, "id"));
    items.push_back((query == ThreadQuery::spawnEdge || parentJoin) ? "edge.parent_thread_id as parent_id"
                                                                    : "'' as parent_id");
    for (const char* column : {"title", "first_user_message", "preview", "cwd", "rollout_path"})
        items.push_back(childItem(columns, column));
    if (query == ThreadQuery::recent) {
        items.push_back(secondsExpression + " as updated_at");
        items.push_back(millisecondsExpression + " as updated_at_ms");
    } else {
        items.push_back(childItem(columns, "updated_at"));
        items.push_back(childItem(columns, "updated_at_ms"));
    }
    for (const char* column : {"agent_nickname", "agent_role", "thread_source", "model", "reasoning_effort"})
        items.push_back(childItem(columns, column));
    const bool join = query == ThreadQuery::spawnEdge || parentJoin;
    for (const char* column :
         {"title", "first_user_message", "preview", "agent_nickname", "agent_role", "model", "reasoning_effort"})
        items.push_back(parentItem(columns, join, column));
    std::string text = "select\n    ";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += ",\n    ";
        text += items[i];
    }
    return text;
}

std::string archiveCondition(const std::set<std::string>& columns) {
    return has(columns, "archived") ? "child.archived = 0" : "1 = 1";
}

bool tableExists(const SQLiteReader& reader, std::string_view table) {
    return !reader.query(CodexStatusProvider::tableExistsStatement(table)).empty();
}


std::optional<std::string_view> value(const SQLiteReader::Row& row, const char* key) {
    const std::string* text = SQLiteReader::columnValue(row, key);
    if (!text) return std::nullopt;
    return std::string_view(*text);
}

std::optional<std::string> nonEmpty(const SQLiteReader::Row& row, const char* key) {
    return SQLiteReader::nonEmptyColumn(row, key);
}

std::optional<std::string_view> nonEmptyView(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    return std::string_view(*text);
}

struct TitleChoice {
    std::string title;
    int64_t score = 0;
};

// The title rule for a thread row (or, without scores, its parent's columns).
TitleChoice chooseTitle(std::optional<std::string_view> title, std::optional<std::string_view> firstMessage,
                        std::optional<std::string_view> preview, std::optional<std::string_view> nickname,
                        std::optional<std::string_view> role, std::optional<std::string_view> threadSource,
                        std::string_view fallback) {
    const std::string t = codex::cleanedFirstLine(title);
    const std::string f = codex::cleanedFirstLine(firstMessage);
    const std::string p = codex::cleanedFirstLine(preview);
    if (startsWith(t, agentHistoryPrefix)) return {std::string(internalReviewTitle), 4};
    if (codex::isPresentableTitle(t) && t != f) return {t, 4};
    if (codex::isPresentableTitle(p) && p != f && p != t) return {p, 3};
    if (auto derived = CodexStatusProvider::subagentTitle(f.empty() ? t : f, nickname, role, threadSource))
        return {*derived, 2};
    if (!t.empty()) return {t, 1};
    return {std::string(fallback), 0};
}

// ICU regular expressions, compiled once per thread (a compiled expression is not thread-safe).
class TitlePatterns {
public:
    enum Index { assignment = 0, constantName = 1, token = 2, subagentNumber = 3 };

    static TitlePatterns& shared() {
        thread_local TitlePatterns patterns;
        return patterns;
    }

    ~TitlePatterns() {
        for (auto* expression : expressions_)
            if (expression) uregex_close(expression);
    }

    // The byte range of the first match of pattern `index` in `text`.
    std::optional<std::pair<std::size_t, std::size_t>> firstMatch(Index index, std::string_view text) {
        URegularExpression* expression = expressions_[index];
        if (!expression) return std::nullopt;
        UErrorCode status = U_ZERO_ERROR;
        UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
        if (U_FAILURE(status)) return std::nullopt;
        uregex_setUText(expression, utext, &status);
        std::optional<std::pair<std::size_t, std::size_t>> range;
        if (U_SUCCESS(status) && uregex_find64(expression, 0, &status) && U_SUCCESS(status)) {
            const int64_t start = uregex_start64(expression, 0, &status);
            const int64_t end = uregex_end64(expression, 0, &status);
            if (U_SUCCESS(status) && start >= 0 && end >= start && static_cast<std::size_t>(end) <= text.size())
                range = std::make_pair(static_cast<std::size_t>(start), static_cast<std::size_t>(end));
        }
        // Detach the text before it goes.
        UErrorCode resetStatus = U_ZERO_ERROR;
        static const UChar empty[1] = {0};
        uregex_setText(expression, empty, 0, &resetStatus);
        utext_close(utext);
        return range;
    }

private:
    TitlePatterns() {
        static constexpr std::array<std::string_view, 4> sources = {
            "请完成\\s+([A-Za-z][A-Za-z0-9]+(?:_[A-Za-z0-9]+){2,})",
            "\\b([A-Z][A-Z0-9]+(?:_[A-Z0-9]+){2,})\\b",
            "[A-Za-z][A-Za-z0-9]+(?:_[A-Za-z0-9]+){2,}",
            "\\bW\\d{2}\\b",
        };
        for (std::size_t i = 0; i < sources.size(); ++i) {
            UChar pattern[128];
            int32_t length = 0;
            UErrorCode status = U_ZERO_ERROR;
            u_strFromUTF8(pattern, 128, &length, sources[i].data(), static_cast<int32_t>(sources[i].size()), &status);
            if (U_FAILURE(status)) continue;
            URegularExpression* expression = uregex_open(pattern, length, 0, nullptr, &status);
            if (U_SUCCESS(status)) expressions_[i] = expression;
        }
    }

    std::array<URegularExpression*, 4> expressions_ = {nullptr, nullptr, nullptr, nullptr};
};

std::optional<std::string> firstMatchText(TitlePatterns::Index index, std::string_view text) {
    auto range = TitlePatterns::shared().firstMatch(index, text);
    if (!range) return std::nullopt;
    return std::string(text.substr(range->first, range->second - range->first));
}

// The query cache's signature of the files as given.
template <typename Value>
typename DatabaseQueryCache<Value>::Signature signatureOf(const std::optional<FileStat::Info>& database,
                                                          const std::optional<FileStat::Info>& wal) {
    typename DatabaseQueryCache<Value>::Signature signature{};
    if (database) {
        signature.databaseSize = database->size;
        signature.databaseModifiedAt = database->modifiedAt;
    }
    if (wal) {
        signature.walSize = wal->size;
        signature.walModifiedAt = wal->modifiedAt;
    }
    return signature;
}

// A cached result while the files keep the signature they were found with,
// else `query()` stored under that signature (taken before the query).
template <typename Value, typename Query>
Value cachedRead(DatabaseQueryCache<Value>& cache, const std::string& path, const std::optional<FileStat::Info>& database,
                 const std::optional<FileStat::Info>& wal, const std::string& key, Query&& query,
                 const typename DatabaseQueryCache<Value>::Acceptance& accept = {}) {
    const auto signature = signatureOf<Value>(database, wal);
    if (auto hit = cache.lookup(path, key, signature, accept)) return std::move(*hit);
    Value value = query();
    cache.store(path, key, signature, value);
    return value;
}

} // namespace

namespace codex {

bool isPresentableTitle(std::string_view text) {
    if (text.empty()) return false;
    if (startsWith(text, systemPromptPrefix) || startsWith(text, agentHistoryPrefix)) return false;
    // A text of at most 160 bytes has at most 160 characters.
    return text.size() <= presentableTitleLimit || userPerceivedLength(text) <= presentableTitleLimit;
}

} // namespace codex

// ---------------------------------------------------------------- schema

bool CodexStatusProvider::StateSchema::hasThreadsTable() {
    if (!threadsTable_) threadsTable_ = tableExists(reader_, "threads");
    return *threadsTable_;
}

const std::set<std::string>& CodexStatusProvider::StateSchema::threadColumns() {
    if (!threadColumns_) threadColumns_ = reader_.columnNames("threads");
    return *threadColumns_;
}

bool CodexStatusProvider::StateSchema::hasSpawnEdgeTable() {
    if (!spawnEdgeTable_) {
        spawnEdgeTable_ = tableExists(reader_, "thread_spawn_edges") &&
                          containsAllColumns({"parent_thread_id", "child_thread_id", "status"},
                                             reader_.columnNames("thread_spawn_edges"));
    }
    return *spawnEdgeTable_;
}

// ---------------------------------------------------------------- location

std::vector<std::string> CodexStatusProvider::stateDatabaseCandidates(const std::string& fileName) const {
    std::vector<std::string> paths;
    if (config_.sqliteHome && !config_.sqliteHome->empty()) paths.push_back(*config_.sqliteHome + "/" + fileName);
    paths.push_back(config_.codexHome + "/sqlite/" + fileName);
    paths.push_back(config_.codexHome + "/" + fileName);
    return paths;
}

CodexStatusProvider::DatabaseFiles CodexStatusProvider::watchedDatabaseFiles(const std::string& path) {
    return DatabaseFiles{path, fileStat_.info(path), fileStat_.info(path + "-wal")};
}

std::optional<std::string> CodexStatusProvider::newestExistingFile(const std::vector<std::string>& paths) {
    const std::string* choice = nullptr;
    Date choiceTime = 0;
    for (const auto& path : paths) {
        auto info = fileStat_.info(path);
        if (!info) continue;
        if (!choice || info->modifiedAt > choiceTime) {
            choice = &path;
            choiceTime = info->modifiedAt;
        }
    }
    if (!choice) return std::nullopt;
    return *choice;
}

// ---------------------------------------------------------------- statements

std::string CodexStatusProvider::tableExistsStatement(std::string_view table) {
    return "select name\nfrom sqlite_master\nwhere type = 'table' and name = " + quoted(table) + "\nlimit 1";
}

std::string CodexStatusProvider::recentThreadsStatement(const std::set<std::string>& columns, bool parentJoin,
                                                        int64_t limit) {
    std::string seconds = has(columns, "updated_at") ? "child.updated_at" : "0.0";
    if (has(columns, "recency_at")) seconds = "coalesce(nullif(child.recency_at, 0), " + seconds + ")";
    std::string milliseconds = has(columns, "updated_at_ms") ? "child.updated_at_ms"
                               : has(columns, "updated_at")  ? "(child.updated_at * 1000)"
                                                             : "0.0";
    if (has(columns, "recency_at_ms"))
        milliseconds = "coalesce(nullif(child.recency_at_ms, 0), " + milliseconds + ")";
    std::string sql = selectItems(columns, parentJoin, ThreadQuery::recent, seconds, milliseconds);
    sql += ",\n    'recent_thread' as source";
    sql += "\nfrom threads child\n";
    if (parentJoin) sql += parentJoinFirstLine;
    sql += "\n";
    if (parentJoin) sql += parentJoinSecondLine;
    sql += "\nwhere " + archiveCondition(columns);
    sql += "\norder by " + milliseconds + " desc";
    sql += "\nlimit " + std::to_string(limit < 1 ? 1 : limit);
    return sql;
}

std::string CodexStatusProvider::spawnEdgesStatement(const std::set<std::string>& columns, int64_t closedLowerBound) {
    std::string sql = selectItems(columns, true, ThreadQuery::spawnEdge);
    sql += ",\n    case\n        when edge.status = 'closed' then 'closed_spawn_edge'\n        else 'open_spawn_edge'\n"
           "    end as source\n"
           "from thread_spawn_edges edge\n"
           "join threads child on child.id = edge.child_thread_id\n"
           "left join threads parent on parent.id = edge.parent_thread_id\n"
           "where edge.status in ('open', 'closed')\n"
           "  and ";
    sql += archiveCondition(columns);
    sql += "\n  and (\n      edge.status = 'open'\n      or ";
    sql += has(columns, "updated_at") ? "child.updated_at" : "0";
    sql += " >= " + std::to_string(closedLowerBound) + "\n  )";
    return sql;
}

std::string CodexStatusProvider::runtimeThreadsStatement(const std::set<std::string>& columns, bool parentJoin,
                                                         const std::vector<std::string>& threadIDs) {
    std::string sql = selectItems(columns, parentJoin, ThreadQuery::runtimeLog);
    sql += ",\n    'runtime_log' as source";
    sql += "\nfrom threads child\n";
    if (parentJoin) sql += parentJoinFirstLine;
    sql += "\n";
    if (parentJoin) sql += parentJoinSecondLine;
    sql += "\nwhere " + archiveCondition(columns);
    sql += "\n  and child.id in (";
    for (std::size_t i = 0; i < threadIDs.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += quoted(threadIDs[i]);
    }
    sql += ")";
    return sql;
}

std::string CodexStatusProvider::runtimeLogStatement(bool hasTimestampIndex, int64_t lowerBound, int64_t rowLimit) {
    std::string sql = "select thread_id, max(ts) as last_runtime_ts\nfrom (\n    select thread_id, ts\n    from ";
    sql += hasTimestampIndex ? "logs indexed by idx_logs_ts" : "logs";
    sql += "\n    where ts >= " + std::to_string(lowerBound);
    sql += "\n      and thread_id is not null\n      and (";
    sql += targetRules;
    sql += ")\n    order by ts desc\n    limit " + std::to_string(rowLimit < 64 ? 64 : rowLimit);
    sql += "\n) recent_runtime_logs\ngroup by thread_id\norder by last_runtime_ts desc\nlimit 64";
    return sql;
}

// ---------------------------------------------------------------- queries

std::vector<CodexCandidate> CodexStatusProvider::queryRecentThreads(StateSchema& state) const {
    if (!state.hasThreadsTable()) return {};
    const std::set<std::string>& columns = state.threadColumns();
    if (!has(columns, "id")) return {};
    const bool parentJoin = state.hasSpawnEdgeTable();
    const SQLiteReader::Rows rows =
        state.reader().query(recentThreadsStatement(columns, parentJoin, config_.recentThreadLimit));
    std::vector<CodexCandidate> candidates;
    candidates.reserve(rows.size());
    for (const auto& row : rows)
        if (auto candidate = candidateFromRow(row)) candidates.push_back(std::move(*candidate));
    return candidates;
}

CodexStatusProvider::RecentThreadList CodexStatusProvider::recentThreadList(const DatabaseFiles& stateFiles,
                                                                            StateSchema& state) {
    static const std::string noKey;
    return cachedRead(recentThreadCache_, stateFiles.path, stateFiles.database, stateFiles.wal, noKey, [&] {
        return std::make_shared<const std::vector<CodexCandidate>>(queryRecentThreads(state));
    });
}

std::vector<CodexCandidate> CodexStatusProvider::querySpawnEdges(StateSchema& state, int64_t closedLowerBound) const {
    if (!state.hasThreadsTable()) return {};
    if (!state.hasSpawnEdgeTable()) return {};
    const std::set<std::string>& columns = state.threadColumns();
    if (!has(columns, "id")) return {};
    const SQLiteReader::Rows rows = state.reader().query(spawnEdgesStatement(columns, closedLowerBound));
    std::vector<CodexCandidate> candidates;
    candidates.reserve(rows.size());
    for (const auto& row : rows)
        if (auto candidate = candidateFromRow(row)) candidates.push_back(std::move(*candidate));
    return candidates;
}

int64_t CodexStatusProvider::closedEdgeLowerBound(Date now) const {
    return codex::floorToInt64(now - config_.pendingToolCallActivityWindow).value_or(0);
}

std::shared_ptr<const CodexStatusProvider::SpawnEdgeResult> CodexStatusProvider::spawnEdgeResult(
    const DatabaseFiles& stateFiles, StateSchema& state, int64_t bound) {
    static const std::string noKey;
    return cachedRead(
        spawnEdgeCache_, stateFiles.path, stateFiles.database, stateFiles.wal, noKey,
        [&] { return std::make_shared<const SpawnEdgeResult>(SpawnEdgeResult{bound, querySpawnEdges(state, bound)}); },
        [bound](const std::shared_ptr<const SpawnEdgeResult>& cached) { return cached->closedLowerBound <= bound; });
}

bool CodexStatusProvider::keepsSpawnEdge(const CodexCandidate& candidate, int64_t closedLowerBound) {
    if (!candidate.hasSource("closed_spawn_edge")) return true;
    return candidate.updatedAtSeconds && *candidate.updatedAtSeconds >= closedLowerBound;
}

std::vector<CodexStatusProvider::RuntimeThread> CodexStatusProvider::recentRuntimeThreads(const std::string& logPath,
                                                                                           int64_t lowerBound) const {
    const SQLiteReader reader(logPath);
    if (!tableExists(reader, "logs")) return {};
    if (!containsAllColumns({"thread_id", "ts", "target"}, reader.columnNames("logs"))) return {};
    const bool indexed = reader.indexNames("logs").count("idx_logs_ts") > 0;
    const SQLiteReader::Rows rows =
        reader.query(runtimeLogStatement(indexed, lowerBound, config_.runtimeLogRecentRowLimit));
    std::vector<RuntimeThread> threads;
    threads.reserve(rows.size());
    for (const auto& row : rows) {
        auto id = value(row, "thread_id");
        auto ts = value(row, "last_runtime_ts");
        if (!id || id->empty() || !ts) continue;
        auto seconds = codex::parseDecimalNumber(*ts);
        if (!seconds) continue;
        threads.push_back(RuntimeThread{std::string(*id), *seconds});
    }
    return threads;
}

std::vector<CodexCandidate> CodexStatusProvider::runtimeLogCandidates(StateSchema& state,
                                                                      const DatabaseFiles& stateFiles,
                                                                      const DatabaseFiles& logFiles, Date now) {
    static const std::string noKey;
    const std::string& logPath = logFiles.path;
    const int64_t bound = codex::floorToInt64(now - config_.runtimeActivityWindow).value_or(0);
    const std::shared_ptr<const RuntimeLogResult> result = cachedRead(
        runtimeLogCache_, logPath, logFiles.database, logFiles.wal, noKey,
        [&] {
            return std::make_shared<const RuntimeLogResult>(
                RuntimeLogResult{bound, recentRuntimeThreads(logPath, bound)});
        },
        [bound](const std::shared_ptr<const RuntimeLogResult>& cached) { return cached->lowerBound <= bound; });

    // The kept threads in order, each id once (the first time wins).
    std::vector<const RuntimeThread*> kept;
    kept.reserve(result->threads.size());
    int64_t count = 0;
    for (const auto& thread : result->threads) {
        if (thread.lastRuntimeSeconds < static_cast<double>(bound)) continue;
        if (count++ >= runtimeThreadLimit) break;
        bool seen = false;
        for (const RuntimeThread* earlier : kept)
            if (earlier->threadID == thread.threadID) {
                seen = true;
                break;
            }
        if (!seen) kept.push_back(&thread);
    }
    if (kept.empty()) return {};

    const auto queryThreads = [&] {
        std::vector<CodexCandidate> rowsAsCandidates;
        if (!state.hasThreadsTable()) return rowsAsCandidates;
        const std::set<std::string>& columns = state.threadColumns();
        if (!has(columns, "id")) return rowsAsCandidates;
        const bool parentJoin = state.hasSpawnEdgeTable();
        std::vector<std::string> ids;
        ids.reserve(kept.size());
        for (const RuntimeThread* thread : kept) ids.push_back(thread->threadID);
        const SQLiteReader::Rows rows = state.reader().query(runtimeThreadsStatement(columns, parentJoin, ids));
        rowsAsCandidates.reserve(rows.size());
        for (const auto& row : rows)
            if (auto candidate = candidateFromRow(row)) rowsAsCandidates.push_back(std::move(*candidate));
        return rowsAsCandidates;
    };
    // The rows depend only on the state database and the ids (in their order).
    std::string key;
    for (const RuntimeThread* thread : kept) {
        key += std::to_string(thread->threadID.size());
        key += ':';
        key += thread->threadID;
        key += ';';
    }
    std::vector<CodexCandidate> candidates =
        cachedRead(runtimeThreadRowCache_, stateFiles.path, stateFiles.database, stateFiles.wal, key, queryThreads);
    for (auto& candidate : candidates) {
        for (const RuntimeThread* thread : kept) {
            if (thread->threadID != candidate.id) continue;
            candidate.updatedAt = codex::latestDate(candidate.updatedAt, thread->lastRuntimeSeconds);
            break;
        }
    }
    return candidates;
}

// ---------------------------------------------------------------- rows

std::optional<CodexCandidate> CodexStatusProvider::candidateFromRow(const SQLiteReader::Row& row) {
    auto id = nonEmpty(row, "id");
    if (!id) return std::nullopt;
    CodexCandidate c;
    c.id = std::move(*id);
    c.parentID = nonEmpty(row, "parent_id");
    c.agentNickname = nonEmpty(row, "agent_nickname");
    c.agentRole = nonEmpty(row, "agent_role");
    c.parentAgentNickname = nonEmpty(row, "parent_agent_nickname");
    c.parentAgentRole = nonEmpty(row, "parent_agent_role");
    c.threadSource = nonEmpty(row, "thread_source");

    TitleChoice parent = chooseTitle(value(row, "parent_title"), value(row, "parent_first_user_message"),
                                     value(row, "parent_preview"), nonEmptyView(c.parentAgentNickname),
                                     nonEmptyView(c.parentAgentRole), std::nullopt, c.parentID.value_or(""));
    if (!parent.title.empty()) c.parentTitle = std::move(parent.title);

    TitleChoice title = chooseTitle(value(row, "title"), value(row, "first_user_message"), value(row, "preview"),
                                    nonEmptyView(c.agentNickname), nonEmptyView(c.agentRole),
                                    nonEmptyView(c.threadSource), c.id);
    c.title = std::move(title.title);
    c.titleScore = title.score;

    c.cwd = std::string(value(row, "cwd").value_or(""));
    c.rolloutPath = nonEmpty(row, "rollout_path");
    c.updatedAt = codex::threadRowDate(value(row, "updated_at"), value(row, "updated_at_ms"));
    if (auto seconds = value(row, "updated_at")) {
        if (auto number = codex::parseDecimalNumber(*seconds)) c.updatedAtSeconds = codex::floorToInt64(*number);
    }
    c.runtimeProfile = codex::codexRuntimeProfile(value(row, "model"), value(row, "reasoning_effort"),
                                                  SessionRuntimeProfileSource::codexThreadStore);
    c.parentRuntimeProfile = codex::codexRuntimeProfile(value(row, "parent_model"), value(row, "parent_reasoning_effort"),
                                                        SessionRuntimeProfileSource::codexThreadStore);
    if (auto source = value(row, "source")) {
        c.sources.insert(std::string(*source));
    } else {
        c.sources.insert("unknown");
    }
    c.officialNeedsUserAttention = false;
    return c;
}

std::optional<std::string> CodexStatusProvider::subagentTitle(std::optional<std::string_view> text,
                                                              std::optional<std::string_view> nickname,
                                                              std::optional<std::string_view> role,
                                                              std::optional<std::string_view> threadSource) {
    const std::string_view body = text.value_or("");
    if (startsWith(body, agentHistoryPrefix)) return std::string(internalReviewTitle);
    if (auto token = identifierTitle(body)) return token;
    const bool subagent = (threadSource && *threadSource == "subagent") || (role && *role == "subagent");
    if (!subagent) return std::nullopt;
    if (auto number = firstMatchText(TitlePatterns::subagentNumber, body)) return *number + " subagent";
    if (nickname && !nickname->empty()) return std::string(*nickname) + " subagent";
    return std::string("Codex subagent session");
}

std::optional<std::string> CodexStatusProvider::identifierTitle(std::string_view text) {
    for (auto pattern : {TitlePatterns::assignment, TitlePatterns::constantName}) {
        auto matched = firstMatchText(pattern, text);
        if (!matched) continue;
        if (auto token = firstMatchText(TitlePatterns::token, *matched)) return token;
    }
    return std::nullopt;
}

} // namespace brindleaf
