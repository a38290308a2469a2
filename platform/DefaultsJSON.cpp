#include "platform/DefaultsJSON.hpp"

#include "platform/Base64.hpp"
#include "platform/UTF8.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <vector>

namespace brindleaf {

namespace {

constexpr std::string_view dataTag = "$data";
constexpr std::string_view dictionaryTag = "$dict";
constexpr std::string_view doubleTag = "$double";

bool isTag(std::string_view key) { return key == dataTag || key == dictionaryTag || key == doubleTag; }

// One JSON value as parsed, before its type tags are read. Objects keep their
// keys in `keys` and their values in `children`, in the same order.
struct Node {
    enum class Kind { boolean, null, number, string, array, object, tooDeep, unrepresentableString };
    Kind kind = Kind::null;
    bool boolean = false;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string text; // a string's decoded bytes
    std::vector<std::string> keys;
    std::vector<Node> children;
};

// A strict JSON parser (RFC 8259). It recurses once per container level up to
// the depth limit; containers below it are checked by an iterative scan and
// kept as text.
class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    bool parseDocument(Node& root) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        if (!parseValue(root, 0)) return false;
        skipWhitespace();
        return pos_ == text_.size();
    }

    std::string_view textOf(const Node& node) const { return text_.substr(node.begin, node.end - node.begin); }

private:
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    void skipWhitespace() {
        while (!atEnd()) {
            const char c = peek();
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
            ++pos_;
        }
    }

    bool expect(char c) {
        skipWhitespace();
        if (atEnd() || peek() != c) return false;
        ++pos_;
        return true;
    }

    bool parseValue(Node& node, std::size_t depth) {
        skipWhitespace();
        if (atEnd()) return false;
        node.begin = pos_;
        const char c = peek();
        bool ok = false;
        if (c == '{' || c == '[') {
            if (depth + 1 > DefaultsJSON::maximumNestingDepth) {
                node.kind = Node::Kind::tooDeep;
                ok = skipContainer();
            } else {
                ok = c == '{' ? parseObject(node, depth + 1) : parseArray(node, depth + 1);
            }
        } else if (c == '"') {
            bool representable = true;
            ok = scanString(&node.text, &representable);
            node.kind = representable ? Node::Kind::string : Node::Kind::unrepresentableString;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            node.kind = Node::Kind::number;
            ok = scanNumber();
        } else if (c == 't' || c == 'f') {
            node.kind = Node::Kind::boolean;
            node.boolean = c == 't';
            ok = scanLiteral(c == 't' ? "true" : "false");
        } else if (c == 'n') {
            node.kind = Node::Kind::null;
            ok = scanLiteral("null");
        }
        node.end = pos_;
        return ok;
    }

    bool parseObject(Node& node, std::size_t depth) {
        node.kind = Node::Kind::object;
        ++pos_;
        skipWhitespace();
        if (!atEnd() && peek() == '}') {
            ++pos_;
            return true;
        }
        while (true) {
            skipWhitespace();
            if (atEnd() || peek() != '"') return false;
            std::string key;
            bool representable = true;
            if (!scanString(&key, &representable) || !expect(':')) return false;
            node.keys.push_back(std::move(key));
            node.children.emplace_back();
            if (!parseValue(node.children.back(), depth)) return false;
            skipWhitespace();
            if (atEnd()) return false;
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() != '}') return false;
            ++pos_;
            return true;
        }
    }

    bool parseArray(Node& node, std::size_t depth) {
        node.kind = Node::Kind::array;
        ++pos_;
        skipWhitespace();
        if (!atEnd() && peek() == ']') {
            ++pos_;
            return true;
        }
        while (true) {
            node.children.emplace_back();
            if (!parseValue(node.children.back(), depth)) return false;
            skipWhitespace();
            if (atEnd()) return false;
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() != ']') return false;
            ++pos_;
            return true;
        }
    }

    // Checks a container of any depth without recursion.
    bool skipContainer() {
        std::vector<char> open{peek()};
        ++pos_;
        bool justOpened = true;
        // After a value: the comma before the next one, or the ends of every
        // container that closes here. 0 error, 1 next value, 2 all closed.
        auto afterValue = [&]() -> int {
            while (true) {
                skipWhitespace();
                if (atEnd()) return 0;
                if (peek() == ',') {
                    ++pos_;
                    return 1;
                }
                if (peek() != (open.back() == '{' ? '}' : ']')) return 0;
                ++pos_;
                open.pop_back();
                if (open.empty()) return 2;
            }
        };
        while (true) {
            skipWhitespace();
            if (atEnd()) return false;
            if (justOpened && peek() == (open.back() == '{' ? '}' : ']')) {
                ++pos_;
                open.pop_back();
                if (open.empty()) return true;
            } else {
                if (open.back() == '{') {
                    if (peek() != '"' || !scanString(nullptr, nullptr) || !expect(':')) return false;
                    skipWhitespace();
                    if (atEnd()) return false;
                }
                if (peek() == '{' || peek() == '[') {
                    open.push_back(peek());
                    ++pos_;
                    justOpened = true;
                    continue;
                }
                if (!scanScalar()) return false;
            }
            const int step = afterValue();
            if (step == 0) return false;
            if (step == 2) return true;
            justOpened = false;
        }
    }

    bool scanScalar() {
        const char c = peek();
        if (c == '"') return scanString(nullptr, nullptr);
        if (c == '-' || (c >= '0' && c <= '9')) return scanNumber();
        if (c == 't') return scanLiteral("true");
        if (c == 'f') return scanLiteral("false");
        if (c == 'n') return scanLiteral("null");
        return false;
    }

    bool scanLiteral(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool scanDigits() {
        const std::size_t start = pos_;
        while (!atEnd() && peek() >= '0' && peek() <= '9') ++pos_;
        return pos_ > start;
    }

    bool scanNumber() {
        if (peek() == '-') ++pos_;
        if (atEnd()) return false;
        if (peek() == '0') {
            ++pos_;
        } else if (!scanDigits()) {
            return false;
        }
        if (!atEnd() && peek() == '.') {
            ++pos_;
            if (!scanDigits()) return false;
        }
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++pos_;
            if (!atEnd() && (peek() == '+' || peek() == '-')) ++pos_;
            if (!scanDigits()) return false;
        }
        return true;
    }

    bool scanHex4(std::uint32_t& value) {
        if (text_.size() - pos_ < 4) return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    // A string at the opening quote. `out` receives the decoded bytes; a lone
    // UTF-16 surrogate clears `representable`. Both may be null.
    bool scanString(std::string* out, bool* representable) {
        ++pos_;
        while (true) {
            const std::size_t runStart = pos_;
            while (!atEnd()) {
                const unsigned char c = static_cast<unsigned char>(peek());
                if (c == '"' || c == '\\' || c < 0x20) break;
                ++pos_;
            }
            if (out) out->append(text_.substr(runStart, pos_ - runStart));
            if (atEnd()) return false;
            const char c = peek();
            ++pos_;
            if (c == '"') return true;
            if (c != '\\') return false; // a raw control character
            if (atEnd()) return false;
            const char escape = text_[pos_++];
            char plain = 0;
            switch (escape) {
            case '"':
                plain = '"';
                break;
            case '\\':
                plain = '\\';
                break;
            case '/':
                plain = '/';
                break;
            case 'b':
                plain = '\b';
                break;
            case 'f':
                plain = '\f';
                break;
            case 'n':
                plain = '\n';
                break;
            case 'r':
                plain = '\r';
                break;
            case 't':
                plain = '\t';
                break;
            case 'u':
                break;
            default:
                return false;
            }
            if (escape != 'u') {
                if (out) *out += plain;
                continue;
            }
            std::uint32_t unit = 0;
            if (!scanHex4(unit)) return false;
            if (unit >= 0xD800 && unit <= 0xDBFF && text_.substr(pos_, 2) == "\\u") {
                const std::size_t mark = pos_;
                pos_ += 2;
                std::uint32_t low = 0;
                if (!scanHex4(low)) return false;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    if (out) appendUTF8(*out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                    continue;
                }
                pos_ = mark; // the next escape stands on its own
            }
            // A lone surrogate keeps its place in the bytes (so keys stay apart),
            // but the text is no longer one this program can write back as read.
            if (unit >= 0xD800 && unit <= 0xDFFF && representable) *representable = false;
            if (out) appendUTF8(*out, unit);
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

std::optional<DefaultsValue> numberValue(std::string_view text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (text.find_first_of(".eE") == std::string_view::npos) {
        std::int64_t integer = 0;
        auto [end, error] = std::from_chars(first, last, integer);
        if (error == std::errc() && end == last) return DefaultsValue(integer);
    }
    double number = 0;
    auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc() || end != last || !std::isfinite(number)) return std::nullopt;
    return DefaultsValue(number);
}

class Decoder {
public:
    explicit Decoder(const Parser& parser) : parser_(parser) {}

    DefaultsValue foreign(const Node& node) const {
        return DefaultsValue(DefaultsValue::Foreign{std::string(parser_.textOf(node))});
    }

    DefaultsValue decode(const Node& node) const {
        switch (node.kind) {
        case Node::Kind::boolean:
            return DefaultsValue(node.boolean);
        case Node::Kind::string:
            return DefaultsValue(node.text);
        case Node::Kind::number:
            if (auto number = numberValue(parser_.textOf(node))) return std::move(*number);
            return foreign(node);
        case Node::Kind::array: {
            DefaultsValue::Array array;
            array.reserve(node.children.size());
            for (const auto& child : node.children) array.push_back(decode(child));
            return DefaultsValue(std::move(array));
        }
        case Node::Kind::object:
            if (node.keys.size() == 1 && isTag(node.keys.front())) return tagged(node);
            return DefaultsValue(members(node));
        case Node::Kind::null:
        case Node::Kind::tooDeep:
        case Node::Kind::unrepresentableString:
            break;
        }
        return foreign(node);
    }

    DefaultsValue::Dictionary members(const Node& node) const {
        DefaultsValue::Dictionary dictionary;
        for (std::size_t i = 0; i < node.keys.size(); ++i)
            dictionary.insert_or_assign(node.keys[i], decode(node.children[i]));
        return dictionary;
    }

private:
    DefaultsValue tagged(const Node& node) const {
        const std::string& tag = node.keys.front();
        const Node& content = node.children.front();
        if (tag == dictionaryTag && content.kind == Node::Kind::object) return DefaultsValue(members(content));
        if (content.kind == Node::Kind::string) {
            const std::string& text = content.text;
            if (tag == dataTag) {
                if (auto bytes = Base64::decode(text)) return DefaultsValue::data(*bytes);
            } else if (tag == doubleTag) {
                if (text == "nan") return DefaultsValue(std::numeric_limits<double>::quiet_NaN());
                if (text == "inf") return DefaultsValue(std::numeric_limits<double>::infinity());
                if (text == "-inf") return DefaultsValue(-std::numeric_limits<double>::infinity());
            }
        }
        return foreign(node);
    }

    const Parser& parser_;
};

void appendString(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += hex[(c >> 4) & 0xF];
                out += hex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void appendTagged(std::string& out, std::string_view tag, std::string_view text) {
    out += '{';
    appendString(out, tag);
    out += ':';
    appendString(out, text);
    out += '}';
}

bool looksTagged(const DefaultsValue::Dictionary& dictionary) {
    return dictionary.size() == 1 && isTag(dictionary.begin()->first);
}

void appendValue(std::string& out, const DefaultsValue& value) {
    std::visit(
        [&out](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                out += v ? "true" : "false";
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                char buffer[24];
                auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
                out.append(buffer, result.ptr);
            } else if constexpr (std::is_same_v<T, double>) {
                if (!std::isfinite(v)) {
                    appendTagged(out, doubleTag, std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf"));
                    return;
                }
                char buffer[32];
                auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
                const std::string_view written(buffer, static_cast<std::size_t>(result.ptr - buffer));
                out += written;
                // A float keeps a point or an exponent so it never reads back as an integer.
                if (written.find_first_of(".e") == std::string_view::npos) out += ".0";
            } else if constexpr (std::is_same_v<T, std::string>) {
                appendString(out, v);
            } else if constexpr (std::is_same_v<T, DefaultsValue::Array>) {
                out += '[';
                for (std::size_t i = 0; i < v.size(); ++i) {
                    if (i > 0) out += ',';
                    appendValue(out, v[i]);
                }
                out += ']';
            } else if constexpr (std::is_same_v<T, DefaultsValue::Dictionary>) {
                const bool wrapped = looksTagged(v);
                if (wrapped) {
                    out += '{';
                    appendString(out, dictionaryTag);
                    out += ':';
                }
                out += '{';
                bool first = true;
                for (const auto& [key, element] : v) {
                    if (!first) out += ',';
                    first = false;
                    appendString(out, key);
                    out += ':';
                    appendValue(out, element);
                }
                out += '}';
                if (wrapped) out += '}';
            } else if constexpr (std::is_same_v<T, DefaultsValue::Data>) {
                appendTagged(
                    out, dataTag,
                    Base64::encode(std::string_view(reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size())));
            } else {
                out += v.json;
            }
        },
        value.storage());
}

} // namespace

std::optional<DefaultsJSON::Document> DefaultsJSON::read(std::string_view text) {
    Parser parser(text);
    Node root;
    if (!parser.parseDocument(root) || root.kind != Node::Kind::object) return std::nullopt;
    Decoder decoder(parser);
    Document document;
    for (std::size_t i = 0; i < root.keys.size(); ++i) {
        const Node& child = root.children[i];
        document.values.insert_or_assign(root.keys[i], decoder.decode(child));
        document.texts.insert_or_assign(root.keys[i], std::string(parser.textOf(child)));
    }
    return document;
}

std::string DefaultsJSON::write(const DefaultsValue::Dictionary& values, const Document* original) {
    std::string out = "{";
    bool first = true;
    for (const auto& [key, value] : values) {
        out += first ? "\n  " : ",\n  ";
        first = false;
        appendString(out, key);
        out += ": ";
        const std::string* text = nullptr;
        if (original) {
            auto read = original->values.find(key);
            auto stored = original->texts.find(key);
            if (read != original->values.end() && stored != original->texts.end() && read->second == value)
                text = &stored->second;
        }
        if (text)
            out += *text;
        else
            appendValue(out, value);
    }
    out += first ? "}\n" : "\n}\n";
    return out;
}

std::string DefaultsJSON::encode(const DefaultsValue& value) {
    std::string out;
    appendValue(out, value);
    return out;
}

std::size_t DefaultsJSON::nestingDepth(const DefaultsValue& value) {
    if (const auto* array = value.asArray()) {
        std::size_t deepest = 0;
        for (const auto& element : *array) deepest = std::max(deepest, nestingDepth(element));
        return 1 + deepest;
    }
    if (const auto* dictionary = value.asDictionary()) {
        std::size_t deepest = 0;
        for (const auto& [key, element] : *dictionary) deepest = std::max(deepest, nestingDepth(element));
        return 1 + deepest + (looksTagged(*dictionary) ? 1 : 0);
    }
    if (const auto* number = value.asDouble()) return std::isfinite(*number) ? 0 : 1;
    return value.isData() ? 1 : 0;
}

} // namespace brindleaf
