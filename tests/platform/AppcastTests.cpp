#include "platform/Appcast.hpp"
#include "platform/XmlParser.hpp"
#include "tests/support/AppcastFixture.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using brindleaf::testing::appcastDocument;
using brindleaf::testing::appcastItem;

TEST(Appcast, ReadsTheUpdateFields) {
    const auto items = Appcast::parse(appcastDocument(
        {appcastItem("1.10.0", "1.10", "https://quorvale.com/en/brindleaf/", "<p>New &amp; better</p>"),
         "<item><sparkle:version>2.0</sparkle:version><sparkle:releaseNotesLink>https://quorvale.com/notes"
         "</sparkle:releaseNotesLink><enclosure url='https://quorvale.com/b.tar.gz'/></item>"}));
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    const AppcastItem& first = (*items)[0];
    EXPECT_EQ(first.title, "Brindleaf 1.10");
    EXPECT_EQ(first.version, "1.10.0");
    EXPECT_EQ(first.displayVersion, "1.10");
    EXPECT_EQ(first.releaseNotes, "<p>New &amp; better</p>"); // CDATA stays as written
    EXPECT_EQ(first.downloadLink, "https://quorvale.com/en/brindleaf/");
    const AppcastItem& second = (*items)[1];
    EXPECT_EQ(second.version, "2.0");
    EXPECT_EQ(second.displayVersion, "2.0");
    EXPECT_EQ(second.releaseNotesLink, "https://quorvale.com/notes");
    EXPECT_EQ(second.downloadLink, "https://quorvale.com/b.tar.gz");
}

TEST(Appcast, LeavesOutMalformedItemsAndRefusesOtherDocuments) {
    const auto items = Appcast::parse(appcastDocument({
        appcastItem("abc", "abc"),                                 // no numeric version
        appcastItem("", ""),                                       // no version at all
        appcastItem("3.0", "3.0", "http://quorvale.com/download"), // plain http link and enclosure
        "<item><sparkle:version>4.0</sparkle:version><link>javascript:alert(1)</link></item>",
        "<item><sparkle:version>5.0</sparkle:version></item>", // no link at all
        appcastItem("1.1", "1.1"),
    }));
    ASSERT_TRUE(items);
    // The http item still has an https enclosure, so it stays with that link.
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[0].downloadLink, "https://quorvale.com/downloads/brindleaf-3.0.tar.gz");
    EXPECT_EQ((*items)[1].version, "1.1");

    EXPECT_FALSE(Appcast::parse("<feed><entry/></feed>"));
    EXPECT_FALSE(Appcast::parse("<rss/>"));
    EXPECT_FALSE(Appcast::parse("not xml"));
    EXPECT_FALSE(Appcast::parse(appcastDocument({}) + std::string(Appcast::maxBytes, ' ')));
    ASSERT_TRUE(Appcast::parse(appcastDocument({})));
    EXPECT_TRUE(Appcast::parse(appcastDocument({}))->empty());
}

TEST(Appcast, PicksTheNewestItemAboveTheRunningVersion) {
    auto item = [](const char* version) { return AppcastItem{"", version, version, "", "", "https://x/", ""}; };
    const std::vector<AppcastItem> items{item("1.9"), item("1.10"), item("1.2"), item("0.9")};
    struct Case {
        const char* running;
        std::optional<std::string> skipped;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"1.0", std::nullopt, "1.10"},        // newer items: the newest wins, numerically
        {"1.10", std::nullopt, std::nullopt}, // equal is no update
        {"1.10.0", std::nullopt, std::nullopt}, {"2.0", std::nullopt, std::nullopt}, // all older
        {"1.9.5", std::nullopt, "1.10"},        {"1.0", "1.10", std::nullopt},       // the newest is skipped
        {"1.0", "1.10.0", std::nullopt},        {"1.0", "1.9", "1.10"}, // an older skipped version does not matter
        {"junk", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.running) + " skipped " + c.skipped.value_or("-"));
        const auto best = Appcast::bestUpdate(items, c.running, c.skipped);
        ASSERT_EQ(best.has_value(), c.expected.has_value());
        if (best) {
            EXPECT_EQ(best->version, *c.expected);
        }
    }
}

TEST(Appcast, KeepsTheFirstThousandUsableItems) {
    auto feed = [](int leftOut, int usable) {
        std::vector<std::string> items(static_cast<std::size_t>(leftOut), appcastItem("abc", "abc"));
        for (int i = 1; i <= usable; ++i)
            items.push_back(appcastItem("1." + std::to_string(i), "1." + std::to_string(i)));
        return appcastDocument(items);
    };
    struct Case {
        int leftOut;
        int usable;
        std::size_t kept;
    };
    const Case cases[] = {{0, 999, 999}, {0, 1000, 1000}, {0, 1001, 1000}, {5, 1000, 1000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.leftOut) + " left out, " + std::to_string(c.usable) + " usable");
        const auto items = Appcast::parse(feed(c.leftOut, c.usable));
        ASSERT_TRUE(items);
        ASSERT_EQ(items->size(), c.kept);
        EXPECT_EQ(items->front().version, "1.1");
        EXPECT_EQ(items->back().version, "1." + std::to_string(c.kept));
    }
}

TEST(Appcast, RefusesAFeedOverTheElementCap) {
    // rss, channel and title, then empty elements up to the cap and one more.
    std::string fill;
    for (std::size_t i = 3; i < XmlParser::Limits{}.maxElements; ++i) fill += "<x/>";
    EXPECT_TRUE(Appcast::parse(appcastDocument({fill})));
    EXPECT_FALSE(Appcast::parse(appcastDocument({fill + "<x/>"})));
}
