#include "core/TimestampParsing.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace brindleaf;

TEST(TimestampParsingTests, fastParserAcceptsTheUTCShapes) {
    EXPECT_EQ(parseISO8601Timestamp("1970-01-01T00:00:00Z"), 0.0);
    EXPECT_EQ(parseISO8601Timestamp("1970-01-01 00:00:00Z"), 0.0);
    EXPECT_EQ(parseISO8601Timestamp("2000-03-01T00:00:00.5Z"), 951868800.5);
    EXPECT_EQ(parseISO8601Timestamp("2024-05-06T07:08:09Z"), 1714979289.0);
    EXPECT_EQ(parseISO8601Timestamp("1969-12-31T23:59:59Z"), -1.0);
    EXPECT_EQ(parseISO8601Timestamp("0000-03-01T00:00:00Z"), -62162035200.0);
    EXPECT_EQ(parseISO8601Timestamp("0000-01-01T00:00:00Z"), -62167219200.0);
    EXPECT_EQ(parseISO8601Timestamp("9999-12-31T23:59:59Z"), 253402300799.0);

    // Fractions of any length, weights 0.1, 0.01, ...
    auto millis = parseISO8601Timestamp("2024-05-06T07:08:09.123Z");
    ASSERT_TRUE(millis);
    EXPECT_NEAR(*millis, 1714979289.123, 1e-6);
    auto nanos = parseISO8601Timestamp("2024-05-06T07:08:09.123456789Z");
    ASSERT_TRUE(nanos);
    EXPECT_NEAR(*nanos, 1714979289.123456789, 1e-6);
    EXPECT_EQ(parseISO8601Timestamp("2024-05-06T07:08:09.0000000000000000000000Z"), 1714979289.0);

    // Days beyond the month's end count forward; second 60 is the next minute.
    EXPECT_TRUE(parseISO8601Timestamp("2024-02-29T12:00:00Z"));
    EXPECT_EQ(parseISO8601Timestamp("2023-02-29T12:00:00Z"), parseISO8601Timestamp("2023-03-01T12:00:00Z"));
    EXPECT_EQ(parseISO8601Timestamp("2024-04-31T00:00:00Z"), parseISO8601Timestamp("2024-05-01T00:00:00Z"));
    EXPECT_EQ(parseISO8601Timestamp("2024-01-01T23:59:60Z"), parseISO8601Timestamp("2024-01-02T00:00:00Z"));
    EXPECT_EQ(parseISO8601Timestamp("2024-12-31T23:59:60Z"), parseISO8601Timestamp("2025-01-01T00:00:00Z"));
}

TEST(TimestampParsingTests, fastParserRejectsEverythingElse) {
    const char* rejected[] = {
        "",
        "2024-01-01T00:00:00",        // no Z
        "2024-01-01T00:00Z",          // no seconds
        "2024-01-01T24:00:00Z",       // hour
        "2024-01-01T00:60:00Z",       // minute
        "2024-01-01T00:00:61Z",       // second
        "2024-13-01T00:00:00Z",       // month
        "2024-00-01T00:00:00Z",       // month
        "2024-01-00T00:00:00Z",       // day
        "2024-01-32T00:00:00Z",       // day
        "2024-01-01T00:00:00.Z",      // 21 bytes
        "2024-01-01T00:00:00+00:00",  // offset
        "2024-01-01T00:00:00.12aZ",   // non-digit fraction
        "2024-01-01T00:00:00,5Z",     // comma
        "2024-01-01t00:00:00Z",       // lower-case t
        "2024-01-01T00:00:00z",       // lower-case z
        "2024/01/01T00:00:00Z",       // separators
        "2024-01-01T00-00-00Z",
        "2024-01-01X00:00:00Z",
        "２０24-01-01T00:00:00Z",     // non-ASCII digits
        "20a4-01-01T00:00:00Z",
        "2024-0a-01T00:00:00Z",
        "2024-01-0aT00:00:00Z",
        "2024-01-01T0a:00:00Z",
        "2024-01-01T00:0a:00Z",
        "2024-01-01T00:00:0aZ",
        "2024-01-01T00:00:00.5 Z",
        "2024-W01-1T00:00:00Z",       // week date
        "2024-001T00:00:00Z",         // ordinal date
        " 2024-01-01T00:00:00Z",
        "2024-01-01T00:00:00Z ",
    };
    for (const char* text : rejected) EXPECT_FALSE(parseISO8601Timestamp(text)) << text;
    // The 20-byte shape with a stray byte where the fraction dot goes.
    EXPECT_FALSE(parseISO8601Timestamp("2024-01-01T00:00:00xxZ"));
}

TEST(TimestampParsingTests, fallbackParserReadsOffsetsAndFractions) {
    EXPECT_EQ(parseISO8601Fallback("2024-05-06T09:08:09+02:00"), 1714979289.0);
    EXPECT_EQ(parseISO8601Fallback("2024-05-06T01:38:09-0530"), 1714979289.0);
    EXPECT_EQ(parseISO8601Fallback("2024-05-06T07:08:09Z"), 1714979289.0);
    EXPECT_EQ(parseISO8601Fallback("2024-05-06T07:08:09.25Z"), 1714979289.25);
    EXPECT_EQ(parseISO8601Fallback("2024-05-06T08:08:09.5+01:00"), 1714979289.5);
    EXPECT_EQ(parseISO8601Fallback("2024-05-06T07:08:09+00"), 1714979289.0);

    EXPECT_FALSE(parseISO8601Fallback("2024-05-06T07:08:09"));        // no zone
    EXPECT_FALSE(parseISO8601Fallback("2024-02-30T07:08:09Z"));       // no such day
    EXPECT_FALSE(parseISO8601Fallback("2024-05-06T07:08:09+2:00"));
    EXPECT_FALSE(parseISO8601Fallback("2024-05-06T07:08:09+24:00"));
    EXPECT_FALSE(parseISO8601Fallback("2024-05-06T07:08:09.Z"));
    EXPECT_FALSE(parseISO8601Fallback("2024-05-06T07:08:09Zjunk"));
    EXPECT_FALSE(parseISO8601Fallback("yesterday"));

    // The combined parser tries the fast one first, then the fallback.
    EXPECT_EQ(parseISO8601Date("2023-02-29T12:00:00Z"), parseISO8601Timestamp("2023-03-01T12:00:00Z"));
    EXPECT_EQ(parseISO8601Date("2024-05-06T09:08:09+02:00"), 1714979289.0);
    EXPECT_FALSE(parseISO8601Date("not a date"));
}

TEST(TimestampParsingTests, numericTimestampsAreSecondsOrMillisecondsAndNeverUndefined) {
    EXPECT_EQ(dateFromNumericTimestamp(1714979289), 1714979289.0);
    EXPECT_EQ(dateFromNumericTimestamp(1714979289500), 1714979289.5);
    EXPECT_EQ(dateFromNumericTimestamp(1e10), 1e10); // exactly 1e10 still counts as seconds
    EXPECT_EQ(dateFromNumericTimestamp(10000000001), 10000000.001);
    EXPECT_EQ(dateFromNumericTimestamp(0), 0.0);

    EXPECT_FALSE(dateFromNumericTimestamp(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(dateFromNumericTimestamp(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(dateFromNumericTimestamp(-std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(dateFromNumericTimestamp(std::strtod("1e999", nullptr)));
    EXPECT_FALSE(dateFromNumericTimestamp(1e19)); // beyond 64 bits of milliseconds
    EXPECT_FALSE(dateFromNumericTimestamp(1e300));
    EXPECT_FALSE(dateFromNumericTimestamp(-1e300));
}
