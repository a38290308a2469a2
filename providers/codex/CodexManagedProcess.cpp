#include "providers/codex/CodexManagedProcess.hpp"

#include "providers/codex/CodexText.hpp"

#include <simdjson.h>

#include <cmath>

namespace brindleaf {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

std::optional<int64_t> pidFrom(const element& value) {
    std::optional<int64_t> pid;
    switch (value.type()) {
    case element_type::INT64: pid = value.get_int64().value_unsafe(); break;
    case element_type::UINT64: break; // beyond a signed 64-bit integer
    case element_type::DOUBLE: {
        const double number = std::trunc(value.get_double().value_unsafe());
        if (std::isfinite(number) && number >= -9223372036854775808.0 && number < 9223372036854775808.0)
            pid = static_cast<int64_t>(number);
        break;
    }
    case element_type::STRING: pid = codex::parseDecimalInteger(value.get_string().value_unsafe()); break;
    default: break; // booleans, null, arrays and objects are no process id
    }
    // No process has an id below 1; 0 and negative ids would name process groups.
    if (pid && *pid < 1) return std::nullopt;
    return pid;
}

} // namespace

std::optional<CodexManagedProcess> CodexManagedProcess::fromEntry(const element& entry) {
    if (entry.type() != element_type::OBJECT) return std::nullopt;
    element conversation;
    if (entry["conversationId"].get(conversation) != simdjson::SUCCESS) return std::nullopt;
    if (conversation.type() != element_type::STRING) return std::nullopt;
    const std::string_view id = conversation.get_string().value_unsafe();
    if (id.empty()) return std::nullopt;
    CodexManagedProcess process;
    process.conversationID = std::string(id);
    element pid;
    if (entry["osPid"].get(pid) == simdjson::SUCCESS) process.osPID = pidFrom(pid);
    return process;
}

} // namespace brindleaf
