#pragma once

#include "platform/DefaultsValue.hpp"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// The JSON text of a defaults suite: one object whose members are the suite's
// keys. Values JSON cannot hold directly are tagged objects: {"$data": base64},
// {"$double": "nan" | "inf" | "-inf"}, and a dictionary whose only key is one
// of the tags is wrapped as {"$dict": {...}}.
//
// Reading accepts every valid JSON text and never recurses deeper than
// maximumNestingDepth: a value nested deeper, a null, a number beyond the float
// range, a text holding a lone UTF-16 surrogate or a malformed tag becomes a
// foreign value holding its text exactly as read. Integers beyond 64 bits read
// as floats. Writing is compact (one top-level key per line), so a rewrite
// never makes a file much larger than its values.
class DefaultsJSON {
public:
    // Containers (the top-level object counting as the first) nested deeper
    // than this are not looked into.
    static constexpr std::size_t maximumNestingDepth = 128;

    struct Document {
        DefaultsValue::Dictionary values;         // foreign values included
        std::map<std::string, std::string> texts; // each key's value text as it stood in the file
    };

    // The suite in a file's text; absent when the text is not one JSON object.
    static std::optional<Document> read(std::string_view text);

    // The file text of `values`. A value equal to the one `original` read under
    // the same key is written with its original text, byte for byte.
    static std::string write(const DefaultsValue::Dictionary& values, const Document* original = nullptr);

    // One value's compact JSON text.
    static std::string encode(const DefaultsValue& value);

    // How deep the value's JSON form nests containers (tag objects included);
    // 0 for a value without any.
    static std::size_t nestingDepth(const DefaultsValue& value);
};

} // namespace brindleaf
