#include "platform/XmlParser.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace brindleaf;

TEST(XmlParser, ReadsElementsTextAndNamespaces) {
    const auto root = XmlParser::parse("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- top -->\n"
                                       "<rss xmlns:s='urn:s' v=\"a&amp;b\tc\"><channel>"
                                       "<s:item s:n=\"1\" plain='2'>x &lt;&#65;&#x42;&gt; <![CDATA[<b>&amp;</b>]]>"
                                       "<!-- c --><?pi x?>y</s:item><empty/></channel></rss>\n<!-- end -->");
    ASSERT_TRUE(root);
    EXPECT_TRUE(root->is("", "rss"));
    EXPECT_EQ(root->attribute("", "v"), "a&b c");
    const XmlElement* channel = root->child("", "channel");
    ASSERT_TRUE(channel);
    ASSERT_EQ(channel->children.size(), 2u);
    const XmlElement& item = channel->children[0];
    EXPECT_TRUE(item.is("urn:s", "item"));
    EXPECT_EQ(item.attribute("urn:s", "n"), "1");
    EXPECT_EQ(item.attribute("", "plain"), "2");
    EXPECT_FALSE(item.attribute("", "n"));
    EXPECT_EQ(item.text, "x <AB> <b>&amp;</b>y");
    EXPECT_TRUE(channel->children[1].is("", "empty"));
}

TEST(XmlParser, DefaultNamespaceAppliesToElementsOnly) {
    const auto root = XmlParser::parse("<a xmlns='urn:d' k='v'><b xmlns=''/></a>");
    ASSERT_TRUE(root);
    EXPECT_TRUE(root->is("urn:d", "a"));
    EXPECT_EQ(root->attribute("", "k"), "v");
    EXPECT_TRUE(root->children.at(0).is("", "b"));
}

TEST(XmlParser, RefusesWhatIsNotWellFormed) {
    const char* bad[] = {
        "",
        "text",
        "<a>",
        "<a></b>",
        "<a><b></a></b>",
        "<a/><b/>",
        "<a/>trailing",
        "<a x='1' x='2'/>",
        "<a x=1/>",
        "<a x='<'/>",
        "<a>&unknown;</a>",
        "<a>&#0;</a>",
        "<a>&#xD800;</a>",
        "<a>&#x110000;</a>",
        "<a>& amp;</a>",
        "<p:a/>",
        "<a p:x='1'/>",
        "<!DOCTYPE a [<!ENTITY e 'boom'>]><a>&e;</a>",
        "<a><![CDATA[open</a>",
        "<a><!-- open</a>",
        "<a xmlns:p=''/>",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(XmlParser::parse(text));
    }
}

TEST(XmlParser, LimitsHold) {
    XmlParser::Limits limits;
    limits.maxDepth = 3;
    EXPECT_TRUE(XmlParser::parse("<a><b><c/></b></a>", limits));
    EXPECT_FALSE(XmlParser::parse("<a><b><c><d/></c></b></a>", limits));
    limits.maxBytes = 10;
    EXPECT_TRUE(XmlParser::parse("<a>12345</a>", XmlParser::Limits{}));
    EXPECT_FALSE(XmlParser::parse("<a>123456</a>", limits));
    // Deep nesting within the default limits is refused without exhausting the stack.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    EXPECT_FALSE(XmlParser::parse(deep));
}

TEST(XmlParser, NamespaceBindingsEndWithTheirElement) {
    const auto root = XmlParser::parse("<a xmlns='urn:d' xmlns:p='urn:1'>"
                                       "<b xmlns='' xmlns:p='urn:2'><p:c p:k='1'/><e/></b>"
                                       "<q xmlns:s='urn:s'/><p:d/><f/></a>");
    ASSERT_TRUE(root);
    ASSERT_EQ(root->children.size(), 4u);
    const XmlElement& b = root->children[0];
    EXPECT_TRUE(b.is("", "b"));
    EXPECT_TRUE(b.children.at(0).is("urn:2", "c"));
    EXPECT_EQ(b.children.at(0).attribute("urn:2", "k"), "1");
    EXPECT_TRUE(b.children.at(1).is("", "e"));
    // After the inner declarations end, the outer ones are in force again.
    EXPECT_TRUE(root->children[2].is("urn:1", "d"));
    EXPECT_TRUE(root->children[3].is("urn:d", "f"));
    EXPECT_TRUE(XmlParser::parse("<x:a xmlns:x='urn:x'/>"));
    EXPECT_TRUE(XmlParser::parse("<a xml:lang='en'/>")->attribute("http://www.w3.org/XML/1998/namespace", "lang"));
    // A prefix declared on an element, empty or not, is unknown after it.
    EXPECT_FALSE(XmlParser::parse("<a><q xmlns:s='urn:s'/><s:d/></a>"));
    EXPECT_FALSE(XmlParser::parse("<a><q xmlns:s='urn:s'></q><s:d/></a>"));
    EXPECT_FALSE(XmlParser::parse("<a><q xmlns:s='urn:s'></q><d s:k='1'/></a>"));
}

TEST(XmlParser, DefaultCapsHoldAtTheirBoundary) {
    const XmlParser::Limits limits;
    auto elements = [](std::size_t count) {
        std::string text = "<r>";
        for (std::size_t i = 1; i < count; ++i) text += "<e/>";
        return text + "</r>";
    };
    auto attributes = [](std::size_t count, bool declarations) {
        std::string text = "<r";
        for (std::size_t i = 0; i < count; ++i)
            text += (declarations ? " xmlns:n" : " n") + std::to_string(i) + "='urn:v'";
        return text + "/>";
    };
    auto nested = [](std::size_t depth) {
        std::string text;
        for (std::size_t i = 0; i < depth; ++i) text += "<e>";
        for (std::size_t i = 0; i < depth; ++i) text += "</e>";
        return text;
    };
    auto padded = [](std::size_t size) { return "<r>" + std::string(size - 7, 'x') + "</r>"; };
    struct Case {
        const char* name;
        std::string text;
        bool parses;
    };
    const Case cases[] = {
        {"elements at the cap", elements(limits.maxElements), true},
        {"one element over", elements(limits.maxElements + 1), false},
        {"attributes at the cap", attributes(limits.maxAttributesPerElement, false), true},
        {"one attribute over", attributes(limits.maxAttributesPerElement + 1, false), false},
        {"declarations at the cap", attributes(limits.maxAttributesPerElement, true), true},
        {"one declaration over", attributes(limits.maxAttributesPerElement + 1, true), false},
        {"depth at the cap", nested(limits.maxDepth), true},
        {"one level deeper", nested(limits.maxDepth + 1), false},
        {"size at the cap", padded(limits.maxBytes), true},
        {"one byte over", padded(limits.maxBytes + 1), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(XmlParser::parse(c.text).has_value(), c.parses);
    }
}

TEST(XmlParser, CharacterReferencesTakeAnyNumberOfLeadingZeros) {
    struct Case {
        std::string reference;
        std::optional<std::string> text; // absent: the document is refused
    };
    const std::string zeros(100000, '0');
    const Case cases[] = {
        {"&#0000000000065;", "A"},
        {"&#x" + zeros + "41;", "A"},
        {"&#" + zeros + "1114111;", "\U0010FFFF"},
        {"&#x000010FFFF;", "\U0010FFFF"},
        {"&#x00010FFFF;&#0000000065;", "\U0010FFFFA"},
        {"&#1114112;", std::nullopt},
        {"&#x" + zeros + "110000;", std::nullopt},
        {"&#x" + zeros + "10FFFF0;", std::nullopt},
        {"&#" + zeros + ";", std::nullopt},
        {"&#00009;", "\t"},
        {"&#00008;", std::nullopt},
        {"&#;", std::nullopt},
        {"&#x;", std::nullopt},
        {"&#X41;", std::nullopt},
        {"&#x4g;", std::nullopt},
        {"&#" + zeros, std::nullopt},
        {"&#65 ;", std::nullopt},
        {"&quot;&apos;", "\"'"},
        {"&amp &amp;", std::nullopt},
        {"&quote;", std::nullopt},
        {std::string(1000, '&'), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reference.substr(0, 40));
        const auto root = XmlParser::parse("<a>" + c.reference + "</a>");
        ASSERT_EQ(root.has_value(), c.text.has_value());
        if (root) {
            EXPECT_EQ(root->text, *c.text);
        }
    }
}

TEST(XmlParser, LineEndsAreReadAsLineFeedsAndOnlyLiteralBlanksInValuesAsSpaces) {
    struct Case {
        std::string raw;
        std::string text;      // as element content
        std::string attribute; // as an attribute value
    };
    const Case cases[] = {
        {"a\r\nb", "a\nb", "a b"},
        {"a\rb", "a\nb", "a b"},
        {"a\r\r\nb", "a\n\nb", "a  b"},
        {"a\n\rb", "a\n\nb", "a  b"},
        {"a\r", "a\n", "a "},
        {"\tb\n", "\tb\n", " b "},
        {"a&#10;b", "a\nb", "a\nb"},
        {"a&#13;&#10;b", "a\r\nb", "a\r\nb"},
        {"a&#9;b&#x20;", "a\tb ", "a\tb "},
        {"a\r&#10;", "a\n\n", "a \n"},
        {"&amp;\r\n&lt;", "&\n<", "& <"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        const auto inText = XmlParser::parse("<a>" + c.raw + "</a>");
        ASSERT_TRUE(inText);
        EXPECT_EQ(inText->text, c.text);
        const auto inValue = XmlParser::parse("<a v='" + c.raw + "'/>");
        ASSERT_TRUE(inValue);
        EXPECT_EQ(inValue->attribute("", "v"), c.attribute);
    }
    // Sections and a line end split by one: each line end is read as it stands in the document.
    EXPECT_EQ(XmlParser::parse("<a><![CDATA[x\r\ny\rz]]>\r<![CDATA[\n]]></a>")->text, "x\ny\nz\n\n");
    EXPECT_EQ(XmlParser::parse("<a>x\r<!-- c -->\ny</a>")->text, "x\n\ny");
}

TEST(XmlParser, ListsOfChildrenAreMadeAtTheirFinalLength) {
    // Tags inside comments, sections and quoted values are no elements.
    const char* documents[] = {
        "<r><e/><e></e><e x='/>'/><e y=\"a>b\"><f/><f/><f/></e><e/></r>",
        "<?xml version='1.0'?><!-- <c/> --><r><![CDATA[<d/><d/>]]><?pi <p/>?><e/><!-- <c/> --><e/><e/></r>",
        "<r>text <e/> more <e/> <e/></r>",
        "<r/>",
    };
    for (const char* document : documents) {
        SCOPED_TRACE(document);
        const auto root = XmlParser::parse(document);
        ASSERT_TRUE(root);
        EXPECT_EQ(root->children.capacity(), root->children.size());
        for (const auto& child : root->children) EXPECT_EQ(child.children.capacity(), child.children.size());
    }
}
