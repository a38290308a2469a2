#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

struct XmlAttribute {
    std::string namespaceURI; // empty for an attribute without prefix
    std::string localName;
    std::string value;
};

// One element of a parsed XML document, with its namespace resolved, its
// attributes, its child elements and the character data directly inside it
// (text and CDATA sections joined, entities replaced).
struct XmlElement {
    std::string namespaceURI;
    std::string localName;
    std::vector<XmlAttribute> attributes;
    std::vector<XmlElement> children;
    std::string text;

    bool is(std::string_view ns, std::string_view local) const { return namespaceURI == ns && localName == local; }
    // The first child with that name, or none.
    const XmlElement* child(std::string_view ns, std::string_view local) const {
        for (const auto& element : children) {
            if (element.is(ns, local)) return &element;
        }
        return nullptr;
    }
    std::optional<std::string> attribute(std::string_view ns, std::string_view local) const {
        for (const auto& attribute : attributes) {
            if (attribute.namespaceURI == ns && attribute.localName == local) return attribute.value;
        }
        return std::nullopt;
    }
};

} // namespace brindleaf
