#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brindleaf {

// One typed value of a defaults suite: a Boolean, a signed 64-bit integer, a
// 64-bit float, a text, an array, a dictionary or raw data. Values keep their
// type through storage: an integer never comes back as a float, nor data as text.
// A stored value this program does not understand (a JSON null, a number beyond
// the float range, a malformed type tag, a value nested too deep) is a foreign
// value: it answers no typed read and is written back exactly as it was read.
class DefaultsValue {
public:
    using Array = std::vector<DefaultsValue>;
    using Dictionary = std::map<std::string, DefaultsValue>;
    struct Data {
        std::vector<std::uint8_t> bytes;
        bool operator==(const Data&) const = default;
    };
    struct Foreign {
        std::string json; // the value's JSON text as it stood in the file
        bool operator==(const Foreign&) const = default;
    };
    using Storage = std::variant<bool, std::int64_t, double, std::string, Array, Dictionary, Data, Foreign>;

    DefaultsValue() : storage_(false) {}
    DefaultsValue(bool value) : storage_(value) {}
    DefaultsValue(int value) : storage_(static_cast<std::int64_t>(value)) {}
    DefaultsValue(std::int64_t value) : storage_(value) {}
    DefaultsValue(double value) : storage_(value) {}
    DefaultsValue(const char* value) : storage_(std::string(value)) {}
    DefaultsValue(std::string value) : storage_(std::move(value)) {}
    DefaultsValue(Array value) : storage_(std::move(value)) {}
    DefaultsValue(Dictionary value) : storage_(std::move(value)) {}
    DefaultsValue(Data value) : storage_(std::move(value)) {}
    DefaultsValue(Foreign value) : storage_(std::move(value)) {}

    // An array of texts.
    static DefaultsValue strings(const std::vector<std::string>& texts);
    // Raw bytes held in a text.
    static DefaultsValue data(std::string_view bytes);

    bool isBool() const { return std::holds_alternative<bool>(storage_); }
    bool isInteger() const { return std::holds_alternative<std::int64_t>(storage_); }
    bool isDouble() const { return std::holds_alternative<double>(storage_); }
    bool isNumber() const { return isInteger() || isDouble(); }
    bool isString() const { return std::holds_alternative<std::string>(storage_); }
    bool isArray() const { return std::holds_alternative<Array>(storage_); }
    bool isDictionary() const { return std::holds_alternative<Dictionary>(storage_); }
    bool isData() const { return std::holds_alternative<Data>(storage_); }
    bool isForeign() const { return std::holds_alternative<Foreign>(storage_); }

    // Each returns the value only when it has exactly that type.
    const bool* asBool() const { return std::get_if<bool>(&storage_); }
    const std::int64_t* asInteger() const { return std::get_if<std::int64_t>(&storage_); }
    const double* asDouble() const { return std::get_if<double>(&storage_); }
    const std::string* asString() const { return std::get_if<std::string>(&storage_); }
    const Array* asArray() const { return std::get_if<Array>(&storage_); }
    const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&storage_); }
    const Data* asData() const { return std::get_if<Data>(&storage_); }
    const Foreign* asForeign() const { return std::get_if<Foreign>(&storage_); }

    // The array's elements when every one of them is a text (an array holding
    // anything else, a foreign value included, is not a text array).
    std::optional<std::vector<std::string>> asStringArray() const;
    // The data's bytes as a text.
    std::optional<std::string> dataBytes() const;

    const Storage& storage() const { return storage_; }
    // Equal types and contents; floats compare by value and sign, and a NaN
    // equals a NaN, so an unchanged suite always compares equal to itself.
    bool operator==(const DefaultsValue& other) const;

private:
    Storage storage_;
};

} // namespace brindleaf
