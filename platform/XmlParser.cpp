#include "platform/XmlParser.hpp"

#include "platform/UTF8.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace brindleaf {

namespace {

constexpr std::string_view xmlNamespace = "http://www.w3.org/XML/1998/namespace";
constexpr std::string_view xmlnsNamespace = "http://www.w3.org/2000/xmlns/";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isNameStart(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || u >= 0x80;
}

bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// Where a run of raw text goes: element content keeps its literal line
// breaks, an attribute value turns each literal blank into a space.
enum class Content { text, attribute };

// Appends a run of raw characters with the document's line ends made "\n"
// ("\r\n" and a lone "\r" alike), as every XML reader sees its input; in an
// attribute value each literal tab and line break then becomes a space.
// Runs end before a '<', a quote or a reference, none of which is part of a
// line end, so a "\r\n" is never split between two runs.
void appendRaw(std::string_view raw, Content content, std::string& out) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\r') {
            if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
            c = '\n';
        }
        if (content == Content::attribute && (c == '\t' || c == '\n')) c = ' ';
        out += c;
    }
}

int digitValue(char d, bool hex) {
    if (d >= '0' && d <= '9') return d - '0';
    if (hex && d >= 'a' && d <= 'f') return d - 'a' + 10;
    if (hex && d >= 'A' && d <= 'F') return d - 'A' + 10;
    return -1;
}

// Reads the reference at `raw[at]` ('&') and appends what it stands for;
// where the reference ends (its ';'), or npos for an unknown entity or a
// reference to a character XML does not allow. The characters looked at are
// those the reference holds and one more, so a text is read in linear time
// whatever it holds: a character reference may have any number of leading
// zeros, and its value is refused as soon as it is beyond Unicode (after at
// most seven significant digits).
std::size_t decodeReference(std::string_view raw, std::size_t at, std::string& out) {
    constexpr auto refused = std::string_view::npos;
    std::size_t i = at + 1;
    if (i < raw.size() && raw[i] == '#') {
        const bool hex = i + 1 < raw.size() && raw[i + 1] == 'x';
        i += hex ? 2 : 1;
        const std::size_t start = i;
        unsigned long code = 0;
        for (; i < raw.size(); ++i) {
            const int value = digitValue(raw[i], hex);
            if (value < 0) break;
            code = code * (hex ? 16 : 10) + static_cast<unsigned long>(value);
            if (code > 0x10FFFF) return refused;
        }
        if (i == start || i == raw.size() || raw[i] != ';') return refused;
        const bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
                             (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
        if (!allowed) return refused;
        appendUTF8(out, code);
        return i;
    }
    // The five predefined entities, the longest of four letters.
    const auto end = raw.substr(0, at + 6).find(';', i);
    if (end == std::string_view::npos) return refused;
    const std::string_view name = raw.substr(i, end - i);
    if (name == "lt")
        out += '<';
    else if (name == "gt")
        out += '>';
    else if (name == "amp")
        out += '&';
    else if (name == "quot")
        out += '"';
    else if (name == "apos")
        out += '\'';
    else
        return refused;
    return end;
}

// Appends a text or an attribute value with its line ends made "\n" and its
// references replaced; false for an unknown entity or a reference to a
// character XML does not allow. What a reference stands for is taken as it
// is: "&#10;" in an attribute value stays a line break, "&#13;" a carriage
// return.
bool decodeReferences(std::string_view raw, Content content, std::string& out) {
    std::size_t from = 0;
    for (auto at = raw.find('&'); at != std::string_view::npos; at = raw.find('&', from)) {
        appendRaw(raw.substr(from, at - from), content, out);
        const std::size_t end = decodeReference(raw, at, out);
        if (end == std::string_view::npos) return false;
        from = end + 1;
    }
    appendRaw(raw.substr(from), content, out);
    return true;
}

// How many child elements each element has, by the order of the start tags,
// from a quick look at the text's tags alone (nothing is checked here). The
// reader makes each element's list of children that long at once, so an
// element with thousands of children is never moved to a longer list and
// back: the memory of the result is touched once.
std::vector<std::uint32_t> childCounts(std::string_view text, std::size_t maxElements) {
    std::vector<std::uint32_t> counts;
    std::vector<std::size_t> open;
    auto skipPast = [&](std::size_t from, std::string_view end) {
        const auto found = text.find(end, from);
        return found == std::string_view::npos ? text.size() : found + end.size();
    };
    for (std::size_t i = text.find('<'); i < text.size() && counts.size() < maxElements; i = text.find('<', i)) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("<!--")) {
            i = skipPast(i + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            i = skipPast(i + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            i = skipPast(i + 2, "?>");
        } else if (rest.starts_with("</")) {
            if (!open.empty()) open.pop_back();
            i = skipPast(i + 2, ">");
        } else {
            // A start tag ends at the first '>' outside a quoted value.
            std::size_t end = i + 1;
            char quote = 0;
            for (; end < text.size(); ++end) {
                const char c = text[end];
                if (quote) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            if (!open.empty()) ++counts[open.back()];
            counts.push_back(0);
            if (end < text.size() && text[end - 1] != '/') open.push_back(counts.size() - 1);
            i = end;
        }
    }
    return counts;
}

struct Open {
    XmlElement element;
    std::string qualifiedName;
    // The prefixes this element declares ("" for the default namespace),
    // whose bindings end with it.
    std::vector<std::string> declared;
};

// The namespace bindings in force: for each prefix, its bindings from the
// outermost element to the innermost. An element pushes what it declares and
// pops it at its end, so an element that declares nothing costs nothing
// however many bindings are in force.
class NamespaceScope {
public:
    NamespaceScope() { bindings_["xml"].emplace_back(xmlNamespace); }

    void declare(const std::string& prefix, std::string ns) { bindings_[prefix].push_back(std::move(ns)); }
    void end(const std::vector<std::string>& declared) {
        for (const auto& prefix : declared) {
            const auto found = bindings_.find(prefix);
            found->second.pop_back();
            if (found->second.empty()) bindings_.erase(found);
        }
    }
    const std::string* find(std::string_view prefix) const {
        const auto found = bindings_.find(prefix);
        return found == bindings_.end() ? nullptr : &found->second.back();
    }

private:
    std::map<std::string, std::vector<std::string>, std::less<>> bindings_;
};

class Reader {
public:
    Reader(std::string_view text, const XmlParser::Limits& limits) : text_(text), limits_(limits) {}

    std::optional<XmlElement> document() {
        if (text_.size() > limits_.maxBytes) return std::nullopt;
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        if (!skipMisc()) return std::nullopt;
        if (!startsWith("<") || pos_ + 1 >= text_.size() || !isNameStart(text_[pos_ + 1])) return std::nullopt;
        std::optional<XmlElement> root;
        std::vector<Open> stack;
        childCounts_ = childCounts(text_, limits_.maxElements);
        while (true) {
            if (stack.empty() && root) break;
            if (pos_ >= text_.size()) return std::nullopt;
            if (text_[pos_] != '<') {
                if (stack.empty()) return std::nullopt;
                const auto next = text_.find('<', pos_);
                if (next == std::string_view::npos) return std::nullopt;
                if (!decodeReferences(text_.substr(pos_, next - pos_), Content::text, stack.back().element.text))
                    return std::nullopt;
                pos_ = next;
                continue;
            }
            if (startsWith("<!--")) {
                if (!skipPast("-->", 4)) return std::nullopt;
            } else if (startsWith("<![CDATA[")) {
                if (stack.empty()) return std::nullopt;
                const auto end = text_.find("]]>", pos_ + 9);
                if (end == std::string_view::npos) return std::nullopt;
                appendRaw(text_.substr(pos_ + 9, end - pos_ - 9), Content::text, stack.back().element.text);
                pos_ = end + 3;
            } else if (startsWith("<?")) {
                if (!skipPast("?>", 2)) return std::nullopt;
            } else if (startsWith("</")) {
                pos_ += 2;
                const std::string name = readName();
                skipSpace();
                if (name.empty() || stack.empty() || name != stack.back().qualifiedName || !consume('>'))
                    return std::nullopt;
                XmlElement done = std::move(stack.back().element);
                scope_.end(stack.back().declared);
                stack.pop_back();
                if (stack.empty())
                    root = std::move(done);
                else
                    stack.back().element.children.push_back(std::move(done));
            } else if (startsWith("<!")) {
                return std::nullopt; // document type declarations and the like
            } else {
                if (!openElement(stack, root)) return std::nullopt;
            }
        }
        if (!skipMisc() || pos_ != text_.size()) return std::nullopt;
        return root;
    }

private:
    bool openElement(std::vector<Open>& stack, std::optional<XmlElement>& root) {
        if (stack.size() >= limits_.maxDepth || ++elements_ > limits_.maxElements) return false;
        ++pos_;
        Open open;
        if (elements_ <= childCounts_.size()) open.element.children.reserve(childCounts_[elements_ - 1]);
        open.qualifiedName = readName();
        if (open.qualifiedName.empty()) return false;
        std::vector<std::pair<std::string, std::string>> raw;
        bool selfClosing = false;
        while (true) {
            const bool spaced = skipSpace();
            if (consume('>')) break;
            if (startsWith("/>")) {
                pos_ += 2;
                selfClosing = true;
                break;
            }
            if (!spaced) return false;
            std::string name = readName();
            if (name.empty()) return false;
            skipSpace();
            if (!consume('=')) return false;
            skipSpace();
            if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) return false;
            const char quote = text_[pos_++];
            const auto end = text_.find(quote, pos_);
            if (end == std::string_view::npos) return false;
            const std::string_view value = text_.substr(pos_, end - pos_);
            pos_ = end + 1;
            if (value.find('<') != std::string_view::npos) return false;
            std::string decoded;
            if (!decodeReferences(value, Content::attribute, decoded)) return false;
            for (const auto& [seen, unused] : raw) {
                if (seen == name) return false;
            }
            if (raw.size() >= limits_.maxAttributesPerElement) return false;
            raw.emplace_back(std::move(name), std::move(decoded));
        }
        for (const auto& [name, value] : raw) {
            if (name == "xmlns") {
                open.declared.emplace_back();
                scope_.declare("", value);
            } else if (name.rfind("xmlns:", 0) == 0) {
                if (name.size() == 6 || value.empty()) return false;
                open.declared.push_back(name.substr(6));
                scope_.declare(open.declared.back(), value);
            }
        }
        if (!resolve(open.qualifiedName, true, open.element.namespaceURI, open.element.localName)) return false;
        for (auto& [name, value] : raw) {
            XmlAttribute attribute;
            if (name == "xmlns" || name.rfind("xmlns:", 0) == 0) {
                attribute.namespaceURI = xmlnsNamespace;
                attribute.localName = name == "xmlns" ? std::string() : name.substr(6);
            } else if (!resolve(name, false, attribute.namespaceURI, attribute.localName)) {
                return false;
            }
            attribute.value = std::move(value);
            open.element.attributes.push_back(std::move(attribute));
        }
        if (selfClosing) {
            scope_.end(open.declared);
            if (stack.empty())
                root = std::move(open.element);
            else
                stack.back().element.children.push_back(std::move(open.element));
        } else {
            stack.push_back(std::move(open));
        }
        return true;
    }

    // Splits "prefix:local" and looks the prefix up; an element without prefix
    // takes the default namespace, an attribute none.
    bool resolve(const std::string& name, bool isElement, std::string& ns, std::string& local) const {
        const auto colon = name.find(':');
        if (colon == std::string::npos) {
            local = name;
            if (isElement) {
                if (const std::string* found = scope_.find("")) ns = *found;
            }
            return true;
        }
        const std::string_view prefix = std::string_view(name).substr(0, colon);
        local = name.substr(colon + 1);
        if (prefix.empty() || local.empty() || local.find(':') != std::string::npos) return false;
        const std::string* found = scope_.find(prefix);
        if (!found) return false;
        ns = *found;
        return true;
    }

    bool startsWith(std::string_view prefix) const { return text_.substr(pos_, prefix.size()) == prefix; }

    bool consume(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool skipSpace() {
        const auto start = pos_;
        while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
        return pos_ != start;
    }

    bool skipPast(std::string_view end, std::size_t openingLength) {
        const auto found = text_.find(end, pos_ + openingLength);
        if (found == std::string_view::npos) return false;
        pos_ = found + end.size();
        return true;
    }

    // Blanks, comments and processing instructions outside the root element.
    bool skipMisc() {
        while (true) {
            skipSpace();
            if (startsWith("<!--")) {
                if (!skipPast("-->", 4)) return false;
            } else if (startsWith("<?")) {
                if (!skipPast("?>", 2)) return false;
            } else {
                return true;
            }
        }
    }

    std::string readName() {
        const auto start = pos_;
        if (pos_ < text_.size() && isNameStart(text_[pos_])) {
            ++pos_;
            while (pos_ < text_.size() && isNameChar(text_[pos_])) ++pos_;
        }
        return std::string(text_.substr(start, pos_ - start));
    }

    std::string_view text_;
    const XmlParser::Limits& limits_;
    std::size_t pos_ = 0;
    std::size_t elements_ = 0;
    NamespaceScope scope_;
    std::vector<std::uint32_t> childCounts_;
};

} // namespace

std::optional<XmlElement> XmlParser::parse(std::string_view text, const Limits& limits) {
    return Reader(text, limits).document();
}

} // namespace brindleaf
