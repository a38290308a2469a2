#include "platform/DecimalText.hpp"
#include "tests/support/ScopedGermanLocale.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

using namespace brindleaf;
using brindleaf::testing::ScopedGermanLocale;

TEST(DecimalText, WritesAndReadsWithAPointUnderAGermanLocale) {
    ScopedGermanLocale german;
    ASSERT_TRUE(german.active()) << german.problem();
    char printed[32];
    std::snprintf(printed, sizeof printed, "%f", 30.0);
    ASSERT_STREQ(printed, "30,000000"); // what the C library does here

    struct Written {
        double value;
        int digits;
        const char* fixed;
        const char* general;
    };
    const Written written[] = {
        {30, 6, "30.000000", "30"},
        {2.5, 2, "2.50", "2.5"},
        {0.125, 2, "0.12", "0.12"}, // halves round to even, as printf does
        {0.375, 2, "0.38", "0.38"},
        {-3.25, 1, "-3.2", "-3"},
        {-0.0, 1, "-0.0", "-0"},
        {1234.0, 0, "1234", "1e+03"},
        {0.1, 17, "0.10000000000000001", "0.10000000000000001"},
        {1e21, 17, "1000000000000000000000.00000000000000000", "1e+21"},
        {std::numeric_limits<double>::infinity(), 2, "inf", "inf"},
    };
    for (const auto& w : written) {
        SCOPED_TRACE(w.fixed);
        EXPECT_EQ(DecimalText::fixed(w.value, w.digits), w.fixed);
        EXPECT_EQ(DecimalText::general(w.value, w.digits), w.general);
    }
    // The longest fixed form there is.
    EXPECT_EQ(DecimalText::fixed(-std::numeric_limits<double>::max(), 6).size(), 1 + 309 + 1 + 6);

    struct Read {
        const char* text;
        std::optional<double> value;
        std::size_t used;
    };
    const Read reads[] = {
        {"12.5", 12.5, 4},
        {"12,5", 12, 2},
        {"+3e2}", 300, 4},
        {"-.5, 1", -0.5, 3},
        {"7", 7, 1},
        {"", std::nullopt, 0},
        {"+", std::nullopt, 0},
        {"+-1", std::nullopt, 0},
        {" 1", std::nullopt, 0},
        {"x1", std::nullopt, 0},
        {"1e999", std::nullopt, 0},
    };
    for (const auto& r : reads) {
        SCOPED_TRACE(r.text);
        std::size_t used = 0;
        EXPECT_EQ(DecimalText::read(r.text, used), r.value);
        EXPECT_EQ(used, r.used);
    }
    std::size_t used = 0;
    EXPECT_TRUE(std::isinf(*DecimalText::read("inf", used)));
    EXPECT_TRUE(std::isnan(*DecimalText::read("nan", used)));
}
