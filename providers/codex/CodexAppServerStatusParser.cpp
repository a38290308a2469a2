#include "providers/codex/CodexAppServerStatusParser.hpp"

#include "core/TimestampParsing.hpp"
#include "core/TolerantJSON.hpp"
#include "providers/codex/CodexText.hpp"

#include <simdjson.h>

#include <cmath>
#include <initializer_list>

namespace brindleaf {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// Seconds, or milliseconds above 10,000,000,000; plausible dates only.
std::optional<Date> dateFromNumber(double x) {
    if (x > 10'000'000'000.0) x /= 1000.0;
    return codex::plausibleDate(x);
}

std::optional<element> member(const element& object, std::string_view key) {
    element value;
    if (object[key].get(value) != simdjson::SUCCESS) return std::nullopt;
    return value;
}

// The first of `keys` whose value has a stringValue.
std::optional<std::string> firstString(const element& object, std::initializer_list<std::string_view> keys) {
    for (auto key : keys) {
        if (auto value = member(object, key)) {
            if (auto text = CodexAppServerStatusParser::stringValue(*value)) return text;
        }
    }
    return std::nullopt;
}

// The value of the first of `keys` that is present, whatever it holds.
std::optional<element> firstPresent(const element& object, std::initializer_list<std::string_view> keys) {
    for (auto key : keys) {
        if (auto value = member(object, key)) return value;
    }
    return std::nullopt;
}

bool isAttentionFlag(std::string_view text) { return text == "waitingOnApproval" || text == "waitingOnUserInput"; }

std::optional<std::string> threadID(const element& object) {
    return firstString(object, {"id", "threadId", "conversationId"});
}

} // namespace

std::vector<CodexOfficialThreadStatus> CodexAppServerStatusParser::parseSnapshot(std::string_view body, Date) {
    simdjson::dom::parser parser;
    const simdjson::padded_string padded(body.data(), body.size());
    element root;
    if (auto error = TolerantJSON::parse(parser, padded).get(root); error != simdjson::SUCCESS) {
        throw ParseError(std::string("status answer is not JSON: ") + simdjson::error_message(error));
    }
    if (root.type() != element_type::OBJECT && root.type() != element_type::ARRAY) {
        throw ParseError("status answer is neither an object nor an array");
    }
    std::vector<element> objects;
    collectThreadObjects(root, objects);
    std::vector<CodexOfficialThreadStatus> statuses;
    statuses.reserve(objects.size());
    for (const auto& object : objects) {
        if (auto status = parseThread(object)) statuses.push_back(std::move(*status));
    }
    return statuses;
}

void CodexAppServerStatusParser::collectThreadObjects(const element& value, std::vector<element>& out, int depth) {
    if (depth > maxSearchDepth) return;
    if (value.type() == element_type::ARRAY) {
        simdjson::dom::array array;
        if (value.get_array().get(array) != simdjson::SUCCESS) return;
        for (element child : array) collectThreadObjects(child, out, depth + 1);
        return;
    }
    if (value.type() != element_type::OBJECT) return;
    if (member(value, "status") && threadID(value)) {
        out.push_back(value);
        return;
    }
    for (std::string_view key : {"threads", "threadStatuses", "items", "data", "thread"}) {
        if (auto child = member(value, key)) collectThreadObjects(*child, out, depth + 1);
    }
}

std::optional<CodexOfficialThreadStatus> CodexAppServerStatusParser::parseThread(const element& object) {
    if (object.type() != element_type::OBJECT) return std::nullopt;
    CodexOfficialThreadStatus status;
    auto id = threadID(object);
    if (!id) return std::nullopt;
    status.id = std::move(*id);
    auto statusValue = member(object, "status");
    if (!statusValue) return std::nullopt;
    auto statusText = stringValue(*statusValue);
    if (!statusText) return std::nullopt;
    auto state = runState(*statusText);
    if (!state) return std::nullopt;
    status.state = *state;
    if (auto value = firstPresent(object, {"lastActivityAt", "last_activity_at", "updatedAt", "updated_at",
                                           "recencyAt", "recency_at"})) {
        status.lastActivityAt = parseDate(*value);
    }
    status.title = firstString(object, {"title", "threadName", "name"});
    status.cwd = firstString(object, {"cwd", "workingDirectory", "worktreePath"});
    status.rolloutPath = firstString(object, {"rolloutPath", "rollout_path", "logPath"});
    if (status.state == CodexOfficialThreadRunState::systemError) {
        status.needsUserAttention = true;
    } else if (auto flags = firstPresent(object, {"activeFlags", "active_flags"})) {
        status.needsUserAttention = needsUserAttention(*flags);
    }
    status.model = firstString(object, {"model", "modelName", "model_name"});
    status.reasoningEffort = firstString(object, {"reasoningEffort", "reasoning_effort"});
    return status;
}

std::optional<std::string> CodexAppServerStatusParser::stringValue(const element& value) {
    switch (value.type()) {
    case element_type::STRING: {
        const std::string_view trimmed = codex::trimWhitespaceAndNewlines(value.get_string().value_unsafe());
        if (trimmed.empty()) return std::nullopt;
        return std::string(trimmed);
    }
    case element_type::INT64: return std::to_string(value.get_int64().value_unsafe());
    case element_type::UINT64: return std::to_string(value.get_uint64().value_unsafe());
    case element_type::DOUBLE: {
        std::string text = codex::numberText(value.get_double().value_unsafe());
        if (text.empty()) return std::nullopt;
        return text;
    }
    case element_type::BOOL: return value.get_bool().value_unsafe() ? "1" : "0";
    default: return std::nullopt;
    }
}

std::optional<CodexOfficialThreadRunState> CodexAppServerStatusParser::runState(std::string_view text) {
    if (text == "active") return CodexOfficialThreadRunState::active;
    if (text == "idle") return CodexOfficialThreadRunState::idle;
    if (text == "systemError" || text == "system_error") return CodexOfficialThreadRunState::systemError;
    if (text == "notLoaded" || text == "not_loaded") return CodexOfficialThreadRunState::notLoaded;
    return std::nullopt;
}

std::optional<Date> CodexAppServerStatusParser::parseDate(const element& value) {
    switch (value.type()) {
    case element_type::INT64: return dateFromNumber(static_cast<double>(value.get_int64().value_unsafe()));
    case element_type::UINT64: return dateFromNumber(static_cast<double>(value.get_uint64().value_unsafe()));
    case element_type::DOUBLE: return dateFromNumber(value.get_double().value_unsafe());
    case element_type::BOOL: return std::nullopt; // a flag is not a time
    default: break;
    }
    auto text = stringValue(value);
    if (!text) return std::nullopt;
    if (auto number = codex::parseDecimalNumber(*text)) return dateFromNumber(*number);
    return parseISO8601Fallback(*text);
}

bool CodexAppServerStatusParser::needsUserAttention(const element& flags) {
    if (flags.type() == element_type::ARRAY) {
        simdjson::dom::array array;
        if (flags.get_array().get(array) != simdjson::SUCCESS) return false;
        bool allText = true;
        for (element item : array)
            if (item.type() != element_type::STRING) {
                allText = false;
                break;
            }
        for (element item : array) {
            if (allText) {
                if (isAttentionFlag(item.get_string().value_unsafe())) return true;
                continue;
            }
            std::optional<std::string> text;
            if (item.type() == element_type::STRING) {
                const auto trimmed = codex::trimWhitespaceAndNewlines(item.get_string().value_unsafe());
                if (!trimmed.empty()) text = std::string(trimmed);
            } else if (item.type() == element_type::INT64 || item.type() == element_type::UINT64 ||
                       item.type() == element_type::DOUBLE || item.type() == element_type::BOOL) {
                text = stringValue(item);
            }
            if (text && isAttentionFlag(*text)) return true;
        }
        return false;
    }
    if (flags.type() == element_type::OBJECT) {
        simdjson::dom::object object;
        if (flags.get_object().get(object) != simdjson::SUCCESS) return false;
        for (auto field : object) {
            if (!isAttentionFlag(field.key)) continue;
            const element& flag = field.value;
            switch (flag.type()) {
            case element_type::BOOL:
                if (flag.get_bool().value_unsafe()) return true;
                break;
            case element_type::INT64:
                if (flag.get_int64().value_unsafe() != 0) return true;
                break;
            case element_type::UINT64:
                if (flag.get_uint64().value_unsafe() != 0) return true;
                break;
            case element_type::DOUBLE:
                if (flag.get_double().value_unsafe() != 0) return true;
                break;
            default: break;
            }
        }
    }
    return false;
}

} // namespace brindleaf
