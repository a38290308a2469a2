#pragma once

#include <simdjson.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// The one entry point through which agents' JSON is parsed.
//
// simdjson rejects a whole document that holds a valid number it cannot
// represent: an integer beyond 64 bits or a number beyond the range of a
// double (1e400). The agents' JSON is read as a general-purpose reader reads
// it instead: such an integer becomes the nearest double, a number beyond the
// double range is absent (an object member holding it is dropped, an array
// element holding it reads as null), and everything else in the document is
// kept. Ordinary documents are parsed once, exactly as simdjson parses them;
// only a document simdjson refuses for a number is rewritten and parsed again.
class TolerantJSON {
public:
    // Parses [data, data + length) with `parser`. With `padded`, SIMDJSON_PADDING
    // readable bytes follow the text and it is parsed in place; otherwise it is
    // copied when the parser needs to. The document lives in `parser`.
    static simdjson::simdjson_result<simdjson::dom::element> parse(simdjson::dom::parser& parser, const char* data,
                                                                   size_t length, bool padded = false);
    static simdjson::simdjson_result<simdjson::dom::element> parse(simdjson::dom::parser& parser,
                                                                   std::string_view text) {
        return parse(parser, text.data(), text.size());
    }
    // A string whose spare capacity covers the padding is parsed in place.
    static simdjson::simdjson_result<simdjson::dom::element> parse(simdjson::dom::parser& parser,
                                                                   const std::string& text) {
        return parse(parser, text.data(), text.size(), text.capacity() >= text.size() + simdjson::SIMDJSON_PADDING);
    }
    static simdjson::simdjson_result<simdjson::dom::element> parse(simdjson::dom::parser& parser,
                                                                   const simdjson::padded_string& text) {
        return parse(parser, text.data(), text.size(), true);
    }

    // The text with every valid number that simdjson cannot represent
    // rewritten as described above; absent when there is none. Text that is
    // not JSON is left as it is around the numbers.
    static std::optional<std::string> withRepresentableNumbers(std::string_view text);
};

} // namespace brindleaf
