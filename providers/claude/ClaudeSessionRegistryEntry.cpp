#include "providers/claude/ClaudeSessionRegistryEntry.hpp"

#include "core/TolerantJSON.hpp"
#include "providers/claude/ClaudeJSON.hpp"

#include <charconv>
#include <climits>
#include <cmath>

namespace brindleaf {

namespace {

using namespace claudejson;

// The integer value of a JSON number that can be a process id; anything else is absent.
std::optional<int64_t> processID(simdjson::dom::element value) {
    int64_t integer;
    if (value.get_int64().get(integer) == simdjson::SUCCESS) {
        if (integer < 1 || integer > INT32_MAX) return std::nullopt;
        return integer;
    }
    double real;
    if (value.get_double().get(real) != simdjson::SUCCESS || !std::isfinite(real)) return std::nullopt;
    real = std::trunc(real);
    if (real < 1 || real > INT32_MAX) return std::nullopt;
    return static_cast<int64_t>(real);
}

// A text of decimal digits only (as the engine writes it), or a whole non-negative number.
std::optional<uint64_t> startTicks(std::optional<element> value) {
    if (!value) return std::nullopt;
    if (auto text = asText(value)) {
        uint64_t ticks = 0;
        auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), ticks);
        if (text->empty() || error != std::errc() || end != text->data() + text->size()) return std::nullopt;
        return ticks;
    }
    uint64_t ticks;
    if (value->get_uint64().get(ticks) == simdjson::SUCCESS) return ticks;
    return std::nullopt;
}

// Milliseconds since 1970 as a date.
std::optional<Date> milliseconds(std::optional<element> value) {
    if (!value) return std::nullopt;
    double number;
    if (value->get_double().get(number) != simdjson::SUCCESS || !std::isfinite(number)) return std::nullopt;
    return number / 1000;
}

std::optional<ClaudeSessionRegistryEntry::Status> statusOf(std::optional<std::string_view> text) {
    using Status = ClaudeSessionRegistryEntry::Status;
    if (text == "busy") return Status::busy;
    if (text == "idle") return Status::idle;
    if (text == "waiting") return Status::waiting;
    return std::nullopt;
}

std::optional<std::string> ownText(object root, std::string_view key) {
    auto text = nonEmptyText(root, key);
    return text ? std::optional<std::string>(std::string(*text)) : std::nullopt;
}

} // namespace

std::optional<ClaudeSessionRegistryEntry> ClaudeSessionRegistryEntry::parse(std::string_view contents) {
    simdjson::dom::parser parser;
    object root;
    if (TolerantJSON::parse(parser, contents).get_object().get(root) != simdjson::SUCCESS) return std::nullopt;
    auto pidValue = field(root, "pid");
    auto sessionID = nonEmptyText(root, "sessionId");
    if (!pidValue || !sessionID) return std::nullopt;
    auto pid = processID(*pidValue);
    if (!pid) return std::nullopt;
    ClaudeSessionRegistryEntry entry;
    entry.pid = *pid;
    entry.sessionID = std::string(*sessionID);
    entry.cwd = ownText(root, "cwd");
    entry.procStart = startTicks(field(root, "procStart"));
    entry.status = statusOf(textField(root, "status"));
    entry.waitingFor = ownText(root, "waitingFor");
    entry.statusUpdatedAt = milliseconds(field(root, "statusUpdatedAt"));
    entry.updatedAt = milliseconds(field(root, "updatedAt"));
    entry.entrypoint = ownText(root, "entrypoint");
    entry.name = ownText(root, "name");
    return entry;
}

} // namespace brindleaf
