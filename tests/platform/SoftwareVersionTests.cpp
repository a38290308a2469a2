#include "platform/SoftwareVersion.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

TEST(SoftwareVersion, ComparesNumberByNumber) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"1.10", "1.9", 1},  {"1.9", "1.10", -1}, {"1.2", "1.2.0", 0},   {"1.2.0.1", "1.2", 1},
        {"2", "1.99.99", 1}, {"01.2", "1.2", 0},  {"1.0.0", "1.0.0", 0}, {"123456789012345678", "9", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const auto a = SoftwareVersion::parse(c.a);
        const auto b = SoftwareVersion::parse(c.b);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->compare(*b), c.order);
    }
}

TEST(SoftwareVersion, RefusesOtherText) {
    for (const char* text : {"", ".", "1.", ".1", "1..2", "1.2a", "v1.2", "-1", "1 .2", "1.2-beta",
                             "1234567890123456789", "1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(SoftwareVersion::parse(text));
    }
}
