#pragma once

#include "core/Date.hpp"
#include "providers/codex/CodexOfficialThreadStatus.hpp"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace simdjson::dom {
class element;
}

namespace brindleaf {

// Reads the Codex app server's status answer: thread objects anywhere in it.
class CodexAppServerStatusParser {
public:
    // The body was not JSON, or its top level is neither an object nor an array.
    class ParseError : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Thread objects below this many levels of nesting are not searched.
    static constexpr int maxSearchDepth = 64;

    CodexAppServerStatusParser() = delete;

    // The statuses in the order found; throws ParseError when the body is not such JSON.
    static std::vector<CodexOfficialThreadStatus> parseSnapshot(std::string_view body, Date scanTime);

    // The building blocks, on parsed values.
    static void collectThreadObjects(const simdjson::dom::element& value,
                                     std::vector<simdjson::dom::element>& out, int depth = 0);
    static std::optional<CodexOfficialThreadStatus> parseThread(const simdjson::dom::element& object);
    static std::optional<std::string> stringValue(const simdjson::dom::element& value);
    static std::optional<CodexOfficialThreadRunState> runState(std::string_view statusText);
    static std::optional<Date> parseDate(const simdjson::dom::element& value);
    static bool needsUserAttention(const simdjson::dom::element& flags);
};

} // namespace brindleaf
