#include "core/TolerantJSON.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace brindleaf;

namespace {

// The document as simdjson writes it back, or the parse error's text.
std::string readBack(const std::string& text) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (auto error = TolerantJSON::parse(parser, text).get(root); error != simdjson::SUCCESS)
        return std::string("error: ") + simdjson::error_message(error);
    return simdjson::minify(root);
}

} // namespace

TEST(TolerantJSON, NumbersBeyondSimdjsonReadAsAGeneralReaderReadsThem) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases{
        // Integers beyond 64 bits become the nearest double; the rest stays.
        {R"({"id":99999999999999999999,"name":"x"})", R"({"id":1e+20,"name":"x"})"},
        {R"({"id":-9223372036854775809})", R"({"id":-9.223372036854776e+18})"},
        {R"([18446744073709551616])", R"([1.8446744073709552e+19])"},
        // The largest integers simdjson holds are read as they are.
        {R"([18446744073709551615,-9223372036854775808])", R"([18446744073709551615,-9223372036854775808])"},
        // Beyond the double range: the member is absent, with one of its commas.
        {R"({"a":1e400,"b":2})", R"({"b":2})"},
        {R"({"b":2,"a":-1E+400})", R"({"b":2})"},
        {R"({"b":2, "a" : 0.5e400 , "c":3})", R"({"b":2,"c":3})"},
        {R"({"a":1e400,"a2":1e401,"b":true})", R"({"b":true})"},
        {R"({"a":1e400})", R"({})"},
        {"{\"a\":1" + std::string(400, '0') + "}", "{}"},
        // In an array the element reads as null; nesting is followed.
        {R"([1,1e400,3])", R"([1,null,3])"},
        {R"({"o":{"x":1e999,"y":[1e999]},"z":[{"n":123456789012345678901234}]})",
         R"({"o":{"y":[null]},"z":[{"n":1.2345678901234569e+23}]})"},
        // Below the double range a number is zero, as simdjson reads it.
        {R"({"tiny":1e-400,"a":1e400})", R"({"tiny":0.0})"},
        // Numbers inside strings are text.
        {R"({"s":"1e400 \" 99999999999999999999","n":1e400})", R"({"s":"1e400 \" 99999999999999999999"})"},
        // A document that is not JSON stays refused.
        {R"({"a":01,"b":1e400})", "error"},
        {R"({"a":1e400,)", "error"},
    };
    for (const auto& c : cases) {
        if (c.expected == "error")
            EXPECT_TRUE(readBack(c.text).starts_with("error: ")) << c.text;
        else
            EXPECT_EQ(readBack(c.text), c.expected) << c.text;
    }
}

TEST(TolerantJSON, OrdinaryDocumentsAreLeftToSimdjson) {
    EXPECT_FALSE(TolerantJSON::withRepresentableNumbers(R"({"a":1.5,"b":[-3,1e300,1e-400],"c":"1e400"})"));
    EXPECT_FALSE(TolerantJSON::withRepresentableNumbers("not json at all 01"));
    EXPECT_EQ(TolerantJSON::withRepresentableNumbers("[1e400"), "[null");

    // In place over padded bytes, as the line readers parse.
    const simdjson::padded_string padded(std::string(R"({"a":99999999999999999999} trailing)"));
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    ASSERT_EQ(TolerantJSON::parse(parser, padded.data(), 26, true).get(root), simdjson::SUCCESS);
    EXPECT_DOUBLE_EQ(double(root["a"]), 1e20);
}
