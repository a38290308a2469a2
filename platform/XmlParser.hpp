#pragma once

#include "platform/XmlElement.hpp"

#include <cstddef>
#include <optional>
#include <string_view>

namespace brindleaf {

// A small, strict reader of XML documents as the network delivers them:
// elements, attributes, namespaces, character data, CDATA sections, comments
// and processing instructions, the five predefined entities and character
// references. Line ends ("\r\n", a lone "\r") are read as "\n", and the
// literal blanks of an attribute value as spaces. A document type declaration
// is refused (no entity of its own can ever be expanded), and so is anything
// that is not well-formed. The nesting depth and the number of elements and
// attributes are bounded.
class XmlParser {
public:
    struct Limits {
        std::size_t maxBytes = 1u << 20;
        std::size_t maxDepth = 64;
        std::size_t maxElements = 50000;
        std::size_t maxAttributesPerElement = 64;
    };

    // The document's root element, or none when the text is not a well-formed
    // document within the limits.
    static std::optional<XmlElement> parse(std::string_view text, const Limits& limits);
    static std::optional<XmlElement> parse(std::string_view text) { return parse(text, Limits{}); }
};

} // namespace brindleaf
