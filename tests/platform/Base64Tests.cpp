#include "platform/Base64.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace brindleaf;

TEST(Base64, EncodesAndDecodesTheStandardVectorsWithPadding) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(Base64::encode(plain), encoded);
        EXPECT_EQ(Base64::decode(encoded), plain) << encoded;
    }
    EXPECT_EQ(Base64::encode(std::string("\xFB\xFF", 2)), "+/8=");
    EXPECT_EQ(Base64::decode("+/8="), std::string("\xFB\xFF", 2));
}

TEST(Base64, EveryByteValueAndLengthRoundTrips) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    for (std::size_t length = 0; length <= all.size(); ++length) {
        const std::string bytes = all.substr(all.size() - length);
        const std::string text = Base64::encode(bytes);
        EXPECT_EQ(text.size() % 4, 0u);
        ASSERT_EQ(Base64::decode(text), bytes) << length;
    }
}

TEST(Base64, RejectsMalformedTexts) {
    for (const char* bad : {"Zg", "Zg=", "Zm9vY", "Zm9v\n", " Zg==", "Zg==Zg==", "Zm=v", "Z===", "====", "=Zg=", "Zg=A",
                            "Zm9v!A==", "Zm-_"}) {
        EXPECT_EQ(Base64::decode(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(Base64::decode(std::string("Zg\0=", 4)), std::nullopt);
    // Unused low bits of the last digit are not checked.
    EXPECT_EQ(Base64::decode("Zh=="), "f");
}
