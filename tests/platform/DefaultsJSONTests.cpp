#include "platform/DefaultsJSON.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace brindleaf;

namespace {

using Foreign = DefaultsValue::Foreign;

std::optional<DefaultsValue> valueIn(std::string_view json) {
    auto document = DefaultsJSON::read("{\"k\":" + std::string(json) + "}");
    if (!document) return std::nullopt;
    return document->values.at("k");
}

std::string nested(std::size_t depth, std::string_view inner = "1") {
    return std::string(depth, '[') + std::string(inner) + std::string(depth, ']');
}

} // namespace

TEST(DefaultsJSON, ReadsEveryValidTextAndRefusesTheRest) {
    for (const char* valid : {"{}", " {\"a\" : [ ] , \"b\":{}}\n", "\xEF\xBB\xBF{}", R"({"a":"\u00e9\ud83d\ude00\/"})",
                              R"({"a":-0.5e-3,"b":0,"c":-0,"d":1E+2})", R"({"a":[true,false,null]})"}) {
        EXPECT_TRUE(DefaultsJSON::read(valid)) << valid;
    }
    for (const char* invalid : {"",
                                "[]",
                                "1",
                                "{",
                                "{}{}",
                                "{\"a\":1,}",
                                "{\"a\":[1,]}",
                                "{\"a\" 1}",
                                "{a:1}",
                                "{\"a\":01}",
                                "{\"a\":1.}",
                                "{\"a\":.5}",
                                "{\"a\":1e}",
                                "{\"a\":+1}",
                                "{\"a\":tru}",
                                "{\"a\":\"\t\"}",
                                "{\"a\":\"\\x\"}",
                                "{\"a\":\"\\u12g4\"}",
                                "{\"a\":\"open}",
                                "{\"a\":[[[[]]]}",
                                "{\"a\":[[[[]]]]]}"}) {
        EXPECT_FALSE(DefaultsJSON::read(invalid)) << invalid;
    }
}

TEST(DefaultsJSON, ValuesThisProgramCannotHoldAreForeignAndKeepTheirText) {
    struct Case {
        const char* json;
        std::optional<DefaultsValue> value; // absent: foreign, holding the json text
    };
    const Case cases[] = {
        {"null", std::nullopt},
        {"1e400", std::nullopt},
        {"-1e400", std::nullopt},
        {R"("\ud800x")", std::nullopt},
        {R"("\udc00")", std::nullopt},
        {R"({"$data": "!!"})", std::nullopt},
        {R"({"$data": 5})", std::nullopt},
        {R"({"$double": "e"})", std::nullopt},
        {R"({"$dict": []})", std::nullopt},
        {"9223372036854775807", DefaultsValue(std::numeric_limits<std::int64_t>::max())},
        {"-9223372036854775808", DefaultsValue(std::numeric_limits<std::int64_t>::min())},
        {"9223372036854775808", DefaultsValue(9223372036854775808.0)},
        {"1e5", DefaultsValue(100000.0)},
        {"2.0", DefaultsValue(2.0)},
        {R"({"$data": "aGk="})", DefaultsValue::data("hi")},
        {R"({"$double": "-inf"})", DefaultsValue(-std::numeric_limits<double>::infinity())},
        {R"({"$dict": {"$data": 1}})", DefaultsValue(DefaultsValue::Dictionary{{"$data", DefaultsValue(1)}})},
        {R"({"$dict": {"$dict": {}}})",
         DefaultsValue(DefaultsValue::Dictionary{{"$dict", DefaultsValue::Dictionary{}}})},
        {R"({"a": 1, "a": 2})", DefaultsValue(DefaultsValue::Dictionary{{"a", DefaultsValue(2)}})},
    };
    for (const auto& c : cases) {
        auto value = valueIn(c.json);
        ASSERT_TRUE(value) << c.json;
        EXPECT_EQ(*value, c.value.value_or(DefaultsValue(Foreign{c.json}))) << c.json;
    }
    auto list = valueIn(R"(["codex", null])");
    EXPECT_EQ(list, DefaultsValue(DefaultsValue::Array{DefaultsValue("codex"), DefaultsValue(Foreign{"null"})}));
    EXPECT_FALSE(list->asStringArray()) << "an array holding something other than texts is not a text array";
}

TEST(DefaultsJSON, NestingStopsAtTheLimitWithoutRecursingFurther) {
    // The suite's object is the first level, so the value may open limit - 1 containers.
    const std::size_t allowed = DefaultsJSON::maximumNestingDepth - 1;
    auto deepest = valueIn(nested(allowed));
    ASSERT_TRUE(deepest);
    EXPECT_EQ(DefaultsJSON::nestingDepth(*deepest), allowed);

    auto over = valueIn(nested(allowed + 1));
    ASSERT_TRUE(over);
    const DefaultsValue* inner = &*over;
    for (std::size_t level = 1; level < allowed; ++level) inner = &inner->asArray()->front();
    ASSERT_TRUE(inner->isArray());
    EXPECT_EQ(inner->asArray()->front(), DefaultsValue(Foreign{"[1]"}));

    // A file nested far past any stack, as a damaged or hand-edited file may be.
    const std::string deep = nested(200000);
    auto document = DefaultsJSON::read("{\"a\":" + deep + ",\"b\":2}");
    ASSERT_TRUE(document);
    EXPECT_EQ(document->values.at("b"), DefaultsValue(2));
    EXPECT_EQ(DefaultsJSON::write(document->values, &*document), "{\n  \"a\": " + deep + ",\n  \"b\": 2\n}\n");
    EXPECT_FALSE(DefaultsJSON::read("{\"a\":" + nested(200000).substr(1) + "}")) << "unbalanced";
}

TEST(DefaultsJSON, WritingIsCompactAndReadsBackEqual) {
    const DefaultsValue::Dictionary values{
        {"list", DefaultsValue(DefaultsValue::Array{DefaultsValue(1), DefaultsValue(-0.0), DefaultsValue(1e22),
                                                    DefaultsValue(std::numeric_limits<double>::quiet_NaN())})},
        {"map", DefaultsValue(DefaultsValue::Dictionary{{"$double", DefaultsValue("x")}})},
        {"text", DefaultsValue(std::string("q\"\\\n\x01\x7f\xff", 7))},
        {"kept", DefaultsValue(Foreign{"[ null ]"})},
    };
    const std::string text = DefaultsJSON::write(values);
    EXPECT_EQ(text, "{\n"
                    "  \"kept\": [ null ],\n"
                    "  \"list\": [1,-0.0,1e+22,{\"$double\":\"nan\"}],\n"
                    "  \"map\": {\"$dict\":{\"$double\":\"x\"}},\n"
                    "  \"text\": \"q\\\"\\\\\\n\\u0001\x7f\xff\"\n"
                    "}\n");
    auto document = DefaultsJSON::read(text);
    ASSERT_TRUE(document);
    EXPECT_TRUE(std::isnan(*document->values.at("list").asArray()->at(3).asDouble()));
    EXPECT_EQ(document->values.at("list"), values.at("list"))
        << "a NaN equals a NaN, so nothing is rewritten needlessly";
    EXPECT_FALSE(DefaultsValue(0.0) == DefaultsValue(-0.0));
    EXPECT_EQ(document->values.at("text"), values.at("text"));
    EXPECT_EQ(document->values.at("map"), values.at("map"));
    EXPECT_EQ(document->values.at("kept"), DefaultsValue(DefaultsValue::Array{DefaultsValue(Foreign{"null"})}));
    EXPECT_EQ(document->texts.at("kept"), "[ null ]");
    EXPECT_EQ(DefaultsJSON::write({}), "{}\n");
}
