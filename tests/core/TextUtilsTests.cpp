#include "core/TextUtils.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace brindleaf;

TEST(TextUtilsTests, firstLineTakesTheFirstNonEmptyLineAtEveryLineBreak) {
    EXPECT_EQ(firstLineTruncated(80, "hello\nworld"), "hello");
    EXPECT_EQ(firstLineTruncated(80, "\n\n  \nsecond"), "  ");
    EXPECT_EQ(firstLineTruncated(80, "\r\n\r\ntitle\r\nrest"), "title");
    EXPECT_EQ(firstLineTruncated(80, "\vA\fB"), "A");
    EXPECT_EQ(firstLineTruncated(80, "\rA\rB"), "A");
    EXPECT_EQ(firstLineTruncated(80, "\xC2\x85next line\xC2\x85x"), "next line");
    EXPECT_EQ(firstLineTruncated(80, "one\xE2\x80\xA8two"), "one");
    EXPECT_EQ(firstLineTruncated(80, "\xE2\x80\xA9para\xE2\x80\xA9x"), "para");
    // Bytes that only look like the start of a break are kept.
    EXPECT_EQ(firstLineTruncated(80, "\xE2\x80\x94 dash"), "\xE2\x80\x94 dash");
    EXPECT_EQ(firstLineTruncated(80, "caf\xC3\xA9"), "caf\xC3\xA9");
    // No non-empty line: the whole text.
    EXPECT_EQ(firstLineTruncated(80, "\n\n"), "\n\n");
    EXPECT_EQ(firstLineTruncated(80, ""), "");
}

TEST(TextUtilsTests, truncationCountsUserPerceivedCharacters) {
    EXPECT_EQ(firstLineTruncated(5, "12345"), "12345");
    EXPECT_EQ(firstLineTruncated(5, "123456"), "12345...");
    EXPECT_EQ(firstLineTruncated(0, "abc"), "...");

    // A family emoji joined with ZWJ is one character.
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    EXPECT_EQ(firstLineTruncated(2, family + "a"), family + "a");
    EXPECT_EQ(firstLineTruncated(1, family + "ab"), family + "...");
    // Flags (regional indicator pairs) and skin tones are single characters.
    const std::string flag = "\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5";
    const std::string thumb = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";
    EXPECT_EQ(firstLineTruncated(2, flag + thumb + flag), flag + thumb + "...");
    // A letter with a combining accent is one character.
    const std::string eAccent = "e\xCC\x81";
    EXPECT_EQ(firstLineTruncated(3, eAccent + eAccent + eAccent), eAccent + eAccent + eAccent);
    EXPECT_EQ(firstLineTruncated(2, eAccent + eAccent + eAccent), eAccent + eAccent + "...");
    // CR LF alone is one character when it is the whole text.
    EXPECT_EQ(firstLineTruncated(1, "\r\n"), "\r\n");
    // Ill-formed bytes become U+FFFD, each one character.
    EXPECT_EQ(firstLineTruncated(2, "a\xFF" "bc"), "a\xEF\xBF\xBD...");

    // Safe from several threads at once.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i)
                if (firstLineTruncated(1, family + "x") != family + "...") ++wrong;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(TextUtilsTests, utf8ValidationAndRepair) {
    EXPECT_TRUE(isValidUTF8(""));
    EXPECT_TRUE(isValidUTF8("plain ascii text that is longer than eight bytes"));
    EXPECT_TRUE(isValidUTF8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
    EXPECT_FALSE(isValidUTF8("\xC0\xAF"));            // overlong
    EXPECT_FALSE(isValidUTF8("\xE0\x80\xAF"));        // overlong
    EXPECT_FALSE(isValidUTF8("\xED\xA0\x80"));        // surrogate
    EXPECT_FALSE(isValidUTF8("\xF4\x90\x80\x80"));    // beyond U+10FFFF
    EXPECT_FALSE(isValidUTF8("abcdefgh\xC3"));        // truncated at the end
    EXPECT_FALSE(isValidUTF8("\x80"));
    EXPECT_FALSE(isValidUTF8("\xF5\x80\x80\x80"));

    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(repairUTF8("ok \xC3\xA9"), "ok \xC3\xA9");
    EXPECT_EQ(repairUTF8("a\xFF" "b"), "a" + fffd + "b");
    // A truncated sequence is one replacement (its maximal subpart).
    EXPECT_EQ(repairUTF8("\xE2\x82" "x"), fffd + "x");
    EXPECT_EQ(repairUTF8("\xF0\x9F\x98"), fffd);
    // Bytes that can never start a valid sequence are one replacement each.
    EXPECT_EQ(repairUTF8("\xC0\xAF"), fffd + fffd);
    EXPECT_EQ(repairUTF8("\xED\xA0\x80"), fffd + fffd + fffd);
    EXPECT_EQ(repairUTF8(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_TRUE(isValidUTF8(repairUTF8("\xFF\xFE\xE2\x28\xA1\xF0\x28\x8C\x28")));
}

TEST(TextUtilsTests, trimmingRemovesUnicodeWhiteSpaceAndLineBreaksAtBothEnds) {
    EXPECT_EQ(trimmedWhitespaceAndNewlines(" \t\r\n\v\f Claude Code \n"), "Claude Code");
    // U+0085, U+00A0, U+2028, U+2029, U+3000 around the text; inner spaces stay.
    EXPECT_EQ(trimmedWhitespaceAndNewlines("\xC2\x85\xC2\xA0" "a  b" "\xE2\x80\xA8\xE2\x80\xA9\xE3\x80\x80"), "a  b");
    EXPECT_EQ(trimmedWhitespaceAndNewlines(" \n\xC2\xA0 "), "");
    EXPECT_EQ(trimmedWhitespaceAndNewlines(""), "");
    // A zero-width space is not white space; ill-formed UTF-8 stops the trim.
    EXPECT_EQ(trimmedWhitespaceAndNewlines("\xE2\x80\x8Bx "), "\xE2\x80\x8Bx");
    EXPECT_EQ(trimmedWhitespaceAndNewlines(" \xFF x \xC3"), "\xFF x \xC3");
}

TEST(TextUtilsTests, lengthCountsUserPerceivedCharacters) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"", 0},
        {"abc", 3},
        {"a\r\nb", 3},                // CR LF is one character
        {"\u00e9t\u00e9", 3},         // two-byte letters
        {"e\u0301", 1},               // a letter with a combining accent
        {"\U0001F44D\U0001F3FD", 1},  // an emoji with a skin tone
        {"\U0001F1EB\U0001F1F7!", 2}, // a flag
        {std::string("a\xff") + "b", 3}, // an ill-formed byte counts as one replacement character
    };
    for (const auto& [text, length] : cases) EXPECT_EQ(userPerceivedLength(text), length) << text;
}
