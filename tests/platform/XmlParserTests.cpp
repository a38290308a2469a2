#include "platform/XmlParser.hpp"

#include <gtest/gtest.h>

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
