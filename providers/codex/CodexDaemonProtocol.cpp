#include "providers/codex/CodexDaemonProtocol.hpp"

#include "core/TolerantJSON.hpp"
#include "providers/codex/CodexAppServerStatusParser.hpp"

#include <nlohmann/json.hpp>
#include <simdjson.h>

namespace brindleaf {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

std::optional<element> member(const element& object, std::string_view key) {
    element value;
    if (object.type() != element_type::OBJECT || object[key].get(value) != simdjson::SUCCESS) return std::nullopt;
    return value;
}

std::optional<std::string> text(const std::optional<element>& value) {
    if (!value || value->type() != element_type::STRING) return std::nullopt;
    return std::string(value->get_string().value_unsafe());
}

std::optional<CodexDaemonProtocol::Status> statusOf(const element& value) {
    CodexDaemonProtocol::Status status;
    std::optional<std::string> type = value.type() == element_type::STRING ? text(value) : text(member(value, "type"));
    if (!type) return std::nullopt;
    auto state = codexOfficialThreadRunStateFromString(*type);
    if (!state) return std::nullopt;
    status.state = *state;
    if (status.state != CodexOfficialThreadRunState::active) return status;
    bool approval = false;
    bool userInput = false;
    simdjson::dom::array flags;
    if (auto found = member(value, "activeFlags"); found && found->get_array().get(flags) == simdjson::SUCCESS) {
        for (element flag : flags) {
            if (flag.type() != element_type::STRING) continue;
            const std::string_view name = flag.get_string().value_unsafe();
            approval = approval || name == "waitingOnApproval";
            userInput = userInput || name == "waitingOnUserInput";
        }
    }
    status.wait = approval ? CodexThreadWait::approval : userInput ? CodexThreadWait::userInput : CodexThreadWait::none;
    return status;
}

std::optional<CodexDaemonProtocol::Thread> threadOf(const element& value) {
    auto id = text(member(value, "id"));
    if (!id || id->empty()) return std::nullopt;
    auto statusValue = member(value, "status");
    if (!statusValue) return std::nullopt;
    auto status = statusOf(*statusValue);
    if (!status) return std::nullopt;
    CodexDaemonProtocol::Thread thread;
    thread.status.id = std::move(*id);
    thread.status.state = status->state;
    thread.status.wait = status->wait;
    thread.status.live = true;
    thread.status.needsUserAttention =
        status->wait != CodexThreadWait::none || status->state == CodexOfficialThreadRunState::systemError;
    thread.status.title = text(member(value, "name"));
    thread.status.cwd = text(member(value, "cwd"));
    thread.status.rolloutPath = text(member(value, "path"));
    if (auto updated = member(value, "updatedAt"))
        thread.status.lastActivityAt = CodexAppServerStatusParser::parseDate(*updated);
    thread.status.model = text(member(value, "model"));
    thread.status.reasoningEffort = text(member(value, "reasoningEffort"));
    auto ephemeral = member(value, "ephemeral");
    // Without the flag, a thread without a rollout is taken for an ephemeral one.
    if (ephemeral && ephemeral->type() == element_type::BOOL)
        thread.ephemeral = ephemeral->get_bool().value_unsafe();
    else
        thread.ephemeral = !thread.status.rolloutPath || thread.status.rolloutPath->empty();
    return thread;
}

} // namespace

std::string CodexDaemonProtocol::quoted(std::string_view value) {
    // Bytes that are not UTF-8 become U+FFFD rather than an exception.
    return nlohmann::json(std::string(value)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool CodexDaemonProtocol::isAllowedMethod(std::string_view method) {
    return method == "initialize" || method == "initialized" || method == "thread/loaded/list" ||
           method == "thread/read";
}

std::string CodexDaemonProtocol::initializeRequest(int64_t id, std::string_view clientVersion) {
    return "{\"method\":\"initialize\",\"id\":" + std::to_string(id) +
           ",\"params\":{\"clientInfo\":{\"name\":\"brindleaf\",\"title\":\"Brindleaf\",\"version\":" +
           quoted(clientVersion) + "},\"capabilities\":null}}";
}

std::string CodexDaemonProtocol::initializedNotification() { return "{\"method\":\"initialized\"}"; }

std::string CodexDaemonProtocol::loadedListRequest(int64_t id, const std::optional<std::string>& cursor) {
    return "{\"method\":\"thread/loaded/list\",\"id\":" + std::to_string(id) + ",\"params\":{" +
           (cursor ? "\"cursor\":" + quoted(*cursor) : std::string()) + "}}";
}

std::string CodexDaemonProtocol::threadReadRequest(int64_t id, std::string_view threadID) {
    return "{\"method\":\"thread/read\",\"id\":" + std::to_string(id) +
           ",\"params\":{\"threadId\":" + quoted(threadID) + ",\"includeTurns\":false}}";
}

std::string CodexDaemonProtocol::refusal(std::string_view rawID) {
    return "{\"id\":" + std::string(rawID) +
           ",\"error\":{\"code\":-32601,\"message\":\"this client only reads thread status\"}}";
}

CodexDaemonProtocol::Incoming CodexDaemonProtocol::parse(std::string_view body) {
    Incoming incoming;
    simdjson::dom::parser parser;
    element root;
    if (TolerantJSON::parse(parser, body.data(), body.size()).get(root) != simdjson::SUCCESS) return incoming;
    if (root.type() != element_type::OBJECT) return incoming;
    const auto id = member(root, "id");
    const auto method = text(member(root, "method"));
    if (id && method) {
        incoming.kind = Incoming::Kind::request;
        incoming.method = *method;
        incoming.rawID = simdjson::minify(*id);
        return incoming;
    }
    if (method) {
        incoming.kind = Incoming::Kind::notification;
        incoming.method = *method;
        const auto params = member(root, "params");
        if (!params) return incoming;
        if (auto threadID = text(member(*params, "threadId"))) incoming.threadID = *threadID;
        if (auto status = member(*params, "status")) incoming.status = statusOf(*status);
        if (auto thread = member(*params, "thread")) {
            incoming.thread = threadOf(*thread);
            if (incoming.thread && incoming.threadID.empty()) incoming.threadID = incoming.thread->status.id;
        }
        for (const char* key : {"threadName", "name"}) {
            if (auto name = member(*params, key)) {
                incoming.hasName = true;
                incoming.name = text(name);
                break;
            }
        }
        return incoming;
    }
    if (!id) return incoming;
    if (id->type() == element_type::INT64)
        incoming.id = id->get_int64().value_unsafe();
    else if (id->type() == element_type::UINT64)
        incoming.id = static_cast<int64_t>(id->get_uint64().value_unsafe());
    if (member(root, "error")) {
        incoming.kind = Incoming::Kind::errorResponse;
        return incoming;
    }
    const auto result = member(root, "result");
    if (!result) return incoming;
    incoming.kind = Incoming::Kind::response;
    simdjson::dom::array data;
    if (auto found = member(*result, "data"); found && found->get_array().get(data) == simdjson::SUCCESS) {
        for (element entry : data)
            if (entry.type() == element_type::STRING)
                incoming.threadIDs.emplace_back(entry.get_string().value_unsafe());
    }
    incoming.nextCursor = text(member(*result, "nextCursor"));
    if (incoming.nextCursor && incoming.nextCursor->empty()) incoming.nextCursor.reset();
    if (auto thread = member(*result, "thread")) incoming.thread = threadOf(*thread);
    return incoming;
}

} // namespace brindleaf
