#include "presentation/UpdatePrompt.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

TEST(UpdatePrompt, ReleaseNotesBecomePlainText) {
    struct Case {
        const char* notes;
        const char* text;
    };
    const Case cases[] = {
        {"Plain notes.", "Plain notes."},
        {"AT&T < 3 & more", "AT&T < 3 & more"},
        {"<h2>1.10</h2><ul><li>Faster</li><li>Fixed <b>crash</b></li></ul>", "1.10\n\u2022 Faster\n\u2022 Fixed crash"},
        {"<p>One</p>\n\n\n<p>Two&nbsp;&amp;&#x20AC;&#8364;</p>", "One\n\nTwo &\u20AC\u20AC"},
        {"<script>alert('x')</script><style>p{}</style>Safe", "Safe"},
        {"<SCRIPT>alert(1)</Script>After", "After"},
        {"<!-- hidden -->Shown<br/>Next", "Shown\nNext"},
        {"  spaced    out  \r\n\t text ", "spaced out\ntext"},
        {"&#0;&#x1;bell&#xD800;&#x110000;", "bell"},
        {"<a href=\"javascript:alert(1)\">link</a>", "link"},
        {"open <b", "open"},
        {"&#x010FFFF;|&#x0010FFFF;|&hellip;", "\U0010FFFF|&#x0010FFFF;|\u2026"}, // the longest entity, one longer
        {"&&&amp; R&D&amp", "&&& R&D&amp"},
        {" <br> <br> <p> </p> x<br>  <br>y", "x\ny"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.notes);
        EXPECT_EQ(UpdatePrompt::plainText(c.notes), c.text);
    }
    const std::string longNotes(UpdatePrompt::maxNotesCharacters + 10, 'x');
    const std::string shortened = UpdatePrompt::plainText(longNotes);
    EXPECT_EQ(shortened.substr(0, UpdatePrompt::maxNotesCharacters),
              std::string(UpdatePrompt::maxNotesCharacters, 'x'));
    EXPECT_NE(shortened.find("shortened"), std::string::npos);
}

TEST(UpdatePrompt, OnlyHttpsLinksAreOffered) {
    AppcastItem item{"Brindleaf 1.10", "1.10.0", "1.10", "<p>Fixes</p>", "", "https://quorvale.com/en/brindleaf/", ""};
    UpdatePrompt prompt = UpdatePrompt::make(item, "1.0.0");
    EXPECT_EQ(prompt.versionLine,
              "Brindleaf 1.10 is now available\u2014you have 1.0.0. Would you like to download it now?");
    EXPECT_EQ(prompt.releaseNotes, "Fixes");
    EXPECT_EQ(prompt.downloadAddress, "https://quorvale.com/en/brindleaf/");

    for (const char* link : {"http://quorvale.com/", "javascript:alert(1)", "file:///etc/passwd", ""}) {
        SCOPED_TRACE(link);
        item.downloadLink = link;
        EXPECT_FALSE(UpdatePrompt::make(item, "1.0.0").downloadAddress);
    }

    item.releaseNotes = "";
    item.releaseNotesLink = "https://quorvale.com/notes";
    EXPECT_EQ(UpdatePrompt::make(item, "1.0.0").releaseNotes, "The release notes are at https://quorvale.com/notes");
    item.releaseNotesLink = "http://quorvale.com/notes";
    EXPECT_EQ(UpdatePrompt::make(item, "1.0.0").releaseNotes, "No release notes were given.");
}
