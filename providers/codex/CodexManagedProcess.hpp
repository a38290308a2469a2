#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace simdjson::dom {
class element;
}

namespace brindleaf {

// One entry of Codex's managed chat-process list: the process serving a conversation.
struct CodexManagedProcess {
    std::string conversationID; // never empty
    std::optional<int64_t> osPID;

    bool operator==(const CodexManagedProcess&) const = default;

    // An entry of the list: absent when "conversationId" is missing, not a text
    // or empty. "osPid" is an integer, a number (cut toward zero) or a text of
    // decimal digits with an optional sign; a boolean, a non-finite or an
    // out-of-range value, or a pid below 1, gives no process id.
    static std::optional<CodexManagedProcess> fromEntry(const simdjson::dom::element& entry);
};

} // namespace brindleaf
