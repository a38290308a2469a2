#pragma once

#include <simdjson.h>

#include <optional>
#include <string_view>

// Small tolerant readers over simdjson DOM values shared by the Claude provider.
namespace brindleaf::claudejson {

using simdjson::dom::element;
using simdjson::dom::object;

inline std::optional<element> field(object obj, std::string_view key) {
    element value;
    if (obj.at_key(key).get(value) != simdjson::SUCCESS) return std::nullopt;
    return value;
}

inline bool hasKey(object obj, std::string_view key) {
    element value;
    return obj.at_key(key).get(value) == simdjson::SUCCESS;
}

inline std::optional<object> asObject(std::optional<element> value) {
    if (!value) return std::nullopt;
    object obj;
    if (value->get_object().get(obj) != simdjson::SUCCESS) return std::nullopt;
    return obj;
}

inline std::optional<object> objectField(object obj, std::string_view key) { return asObject(field(obj, key)); }

inline std::optional<std::string_view> asText(std::optional<element> value) {
    if (!value) return std::nullopt;
    std::string_view text;
    if (value->get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
    return text;
}

inline std::optional<std::string_view> textField(object obj, std::string_view key) {
    return asText(field(obj, key));
}

// The text of `key` when it is a text of at least one character.
inline std::optional<std::string_view> nonEmptyText(object obj, std::string_view key) {
    auto text = textField(obj, key);
    if (!text || text->empty()) return std::nullopt;
    return text;
}

inline std::optional<std::string_view> nonEmptyText(std::optional<element> value) {
    auto text = asText(value);
    if (!text || text->empty()) return std::nullopt;
    return text;
}

// The boolean value of `key` when it is a JSON boolean.
inline std::optional<bool> boolField(object obj, std::string_view key) {
    auto value = field(obj, key);
    if (!value) return std::nullopt;
    bool flag;
    if (value->get_bool().get(flag) != simdjson::SUCCESS) return std::nullopt;
    return flag;
}

inline bool isTrue(object obj, std::string_view key) { return boolField(obj, key).value_or(false); }

inline bool isEmpty(object obj) { return obj.begin() == obj.end(); }

} // namespace brindleaf::claudejson
