#include "providers/codex/RolloutTailAnalyzer.hpp"

#include "core/FileStat.hpp"
#include "core/SafeFileReader.hpp"
#include "core/TextUtils.hpp"
#include "core/TolerantJSON.hpp"

#include <simdjson.h>

#include <array>
#include <cstring>
#include <memory>
#include <unordered_map>

namespace brindleaf {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

std::optional<element> member(const element& object, std::string_view key) {
    if (object.type() != element_type::OBJECT) return std::nullopt;
    element value;
    simdjson::dom::object fields;
    if (object.get_object().get(fields) != simdjson::SUCCESS) return std::nullopt;
    if (fields[key].get(value) != simdjson::SUCCESS) return std::nullopt;
    return value;
}

std::optional<std::string_view> textMember(const element& object, std::string_view key) {
    auto value = member(object, key);
    if (!value || value->type() != element_type::STRING) return std::nullopt;
    return value->get_string().value_unsafe();
}

bool isTurnEndType(std::optional<std::string_view> type) {
    return type && (*type == "turn.completed" || *type == "turn.failed" || *type == "turn.interrupted" ||
                    *type == "turn_aborted");
}

// The value itself when it is a text; its "status" when it is an object holding a text there.
std::optional<std::string_view> statusText(const std::optional<element>& value) {
    if (!value) return std::nullopt;
    if (value->type() == element_type::STRING) return value->get_string().value_unsafe();
    return textMember(*value, "status");
}

struct Record {
    element object;
    std::optional<std::string_view> type;
    std::optional<element> payload; // only when it is an object
    std::optional<std::string_view> payloadType;
    std::optional<element> rawPayload; // whatever "payload" holds
};

bool isTurnStart(const Record& r) {
    if (r.type && *r.type == "turn.started") return true;
    return r.payloadType && (*r.payloadType == "turn.started" || *r.payloadType == "task_started");
}

bool isTurnEnd(const Record& r) {
    if (isTurnEndType(r.type)) return true;
    if (r.type && *r.type == "thread/status") {
        auto status = statusText(r.rawPayload);
        if (status && *status == "idle") return true;
    }
    if (r.payload) {
        if (isTurnEndType(r.payloadType)) return true;
        auto status = statusText(member(*r.payload, "status"));
        if (status && *status == "idle") return true;
        auto threadStatus = statusText(member(*r.payload, "threadStatus"));
        if (threadStatus && *threadStatus == "idle") return true;
    }
    return false;
}

bool isItemCompleted(const Record& r) {
    return (r.type && *r.type == "item.completed") || (r.payloadType && *r.payloadType == "item.completed");
}

std::optional<std::string_view> callID(const Record& r) {
    if (r.payload) {
        if (auto id = textMember(*r.payload, "call_id")) return id;
        if (auto item = member(*r.payload, "item"))
            if (auto id = textMember(*item, "call_id")) return id;
    }
    if (auto item = member(r.object, "item"))
        if (auto id = textMember(*item, "call_id")) return id;
    return textMember(r.object, "call_id");
}

PendingFunctionCall pendingFunctionCall(const element& payload) {
    PendingFunctionCall call;
    call.namespaceName = std::string(textMember(payload, "namespace").value_or(""));
    call.name = std::string(textMember(payload, "name").value_or(""));
    call.arguments = std::string(textMember(payload, "arguments").value_or(""));
    return call;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool needsUser(const PendingFunctionCall& call) {
    if (call.name == "request_user_input" || call.name == "request_plugin_install") return true;
    if (endsWith(call.name, ".request_user_input") || endsWith(call.name, ".request_plugin_install")) return true;
    return RolloutTailAnalyzer::requestsEscalation(call.arguments);
}

// Parses records line by line out of one padded buffer; reused per thread.
simdjson::dom::parser& lineParser() {
    thread_local simdjson::dom::parser parser;
    return parser;
}

} // namespace

bool PendingFunctionCall::isCodexAppThreadTool() const {
    if (namespaceName != "codex_app") return false;
    static constexpr std::array<std::string_view, 8> tools = {
        "list_projects",         "create_thread",       "fork_thread",       "send_message_to_thread",
        "handoff_thread",        "set_thread_archived", "set_thread_pinned", "set_thread_title"};
    for (auto tool : tools)
        if (name == tool) return true;
    return false;
}

RolloutTailAnalyzer::RolloutTailAnalyzer(uint64_t maxBytes, std::ptrdiff_t cacheCapacity)
    : maxBytes_(maxBytes), cache_(cacheCapacity) {}

RolloutTailState RolloutTailAnalyzer::state(const std::string& path) {
    return cache_.value(path, std::string(), std::nullopt, [&] { return readState(path); });
}

RolloutTailState RolloutTailAnalyzer::state(const std::string& path, const std::optional<FileStat::Info>& info) {
    if (!info) return RolloutTailState{};
    return cache_.value(path, std::string(), info, [&] { return readState(path); });
}

std::optional<std::string> RolloutTailAnalyzer::readTail(const std::string& path) const {
    auto tail = SafeFileReader::readTail(path, static_cast<std::size_t>(maxBytes_));
    if (!tail) return std::nullopt;
    return std::move(tail->bytes);
}

RolloutTailState RolloutTailAnalyzer::readState(const std::string& path) const {
    const std::optional<Date> lastEventAt = FileStat::modificationDate(path);
    auto tail = readTail(path);
    if (!tail || tail->empty()) {
        RolloutTailState state;
        state.lastEventAt = lastEventAt;
        return state;
    }
    return foldTail(*tail, lastEventAt);
}

RolloutTailState RolloutTailAnalyzer::foldTail(std::string_view bytes, std::optional<Date> lastEventAt) {
    RolloutTailState state;
    state.lastEventAt = lastEventAt;
    if (bytes.empty()) return state;

    std::string repaired;
    if (!simdjson::validate_utf8(bytes.data(), bytes.size())) {
        repaired = repairUTF8(bytes);
        bytes = repaired;
    }
    // One padded copy: every line is parsed in place, with the bytes after it as padding.
    std::unique_ptr<char[]> buffer(new char[bytes.size() + simdjson::SIMDJSON_PADDING]);
    std::memcpy(buffer.get(), bytes.data(), bytes.size());
    std::memset(buffer.get() + bytes.size(), 0, simdjson::SIMDJSON_PADDING);
    const char* const text = buffer.get();
    const std::size_t size = bytes.size();

    bool open = false;
    bool final = false;
    std::unordered_map<std::string, PendingFunctionCall> pending;
    auto& parser = lineParser();

    const auto endTurn = [&] {
        open = false;
        final = true;
        pending.clear();
    };

    std::size_t start = 0;
    while (start < size) {
        const void* newline = std::memchr(text + start, '\n', size - start);
        const std::size_t end = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - text) : size;
        const std::size_t length = end - start;
        const char* line = text + start;
        start = end + 1;
        if (length == 0) continue;

        element root;
        if (TolerantJSON::parse(parser, line, length, true).get(root) != simdjson::SUCCESS) continue;
        if (root.type() != element_type::OBJECT) continue;

        Record record{root, textMember(root, "type"), std::nullopt, std::nullopt, member(root, "payload")};
        if (record.rawPayload && record.rawPayload->type() == element_type::OBJECT) {
            record.payload = record.rawPayload;
            record.payloadType = textMember(*record.payload, "type");
        }

        if (isTurnStart(record)) {
            open = true;
            final = false;
            continue;
        }
        if (isTurnEnd(record)) {
            endTurn();
            continue;
        }
        if (isItemCompleted(record)) {
            if (auto id = callID(record)) pending.erase(std::string(*id));
            continue;
        }
        if (!record.type) continue;
        if (*record.type == "event_msg") {
            if (record.payloadType && *record.payloadType == "task_complete") endTurn();
            continue;
        }
        if (*record.type != "response_item" || !record.payloadType) continue;
        const element& payload = *record.payload;
        const std::string_view payloadType = *record.payloadType;
        if (payloadType == "function_call") {
            auto id = textMember(payload, "call_id");
            if (!id) continue;
            PendingFunctionCall call = pendingFunctionCall(payload);
            if (!call.isCodexAppThreadTool()) pending.insert_or_assign(std::string(*id), std::move(call));
        } else if (payloadType == "function_call_output") {
            if (auto id = textMember(payload, "call_id")) pending.erase(std::string(*id));
        } else if (payloadType == "message") {
            auto role = textMember(payload, "role");
            if (!role || *role != "assistant") continue;
            auto phase = member(payload, "phase");
            if (phase && phase->type() == element_type::STRING) {
                const std::string_view phaseText = phase->get_string().value_unsafe();
                if (phaseText != "final" && phaseText != "final_answer") continue;
            }
            endTurn();
        }
    }

    state.hasPendingFunctionCall = !pending.empty();
    state.hasOpenTurn = open;
    state.hasFinalAssistantMessage = final;
    for (const auto& [id, call] : pending) {
        if (needsUser(call)) {
            state.hasPendingUserAttention = true;
            break;
        }
    }
    return state;
}

bool RolloutTailAnalyzer::requestsEscalation(std::string_view arguments) {
    thread_local simdjson::dom::parser parser;
    element root;
    const simdjson::padded_string padded(arguments.data(), arguments.size());
    if (TolerantJSON::parse(parser, padded).get(root) == simdjson::SUCCESS && root.type() == element_type::OBJECT) {
        auto value = textMember(root, "sandbox_permissions");
        return value && *value == "require_escalated";
    }
    return arguments.find("\"sandbox_permissions\":\"require_escalated\"") != std::string_view::npos ||
           arguments.find("\"sandbox_permissions\": \"require_escalated\"") != std::string_view::npos;
}

} // namespace brindleaf
