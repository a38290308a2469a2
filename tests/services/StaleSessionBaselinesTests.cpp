#include "services/StaleSessionBaselines.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace brindleaf;
using brindleaf::testing::TempDir;

namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

ProviderSnapshot providerWithStale(const std::string& name, std::int64_t stale) {
    return ProviderSnapshot::make(name, AgentRunState::complete, std::nullopt, {}, stale, 0, {});
}

} // namespace

TEST(StaleSessionBaselines, LoadingKeepsIntegerPartsAndSkipsTheRest) {
    TempDir dir;
    // Written by hand, as another version or a user might leave it.
    dir.write("s.json", R"({"Brindleaf.signalHealthClearedStaleBaselines.v1": {
        "codex": 3, "Claude Code": 2.9, "hermes": -1.5, "text": "4", "flag": true,
        "huge": 1e30, "tooBig": 9223372036854775808, "top": 9223372036854775807,
        "bottom": -9223372036854775808, "list": [1]}})");
    auto defaults = UserDefaults::open("s", dir.path());
    ASSERT_TRUE(defaults);
    // A negative baseline ("hermes", "bottom") counts as absent.
    EXPECT_EQ(loadClearedStaleBaselines(*defaults),
              (ClearedStaleBaselines{{"codex", 3}, {"Claude Code", 2}, {"top", int64Max}}));

    defaults->set(clearedStaleBaselinesKey, DefaultsValue::strings({"codex"}));
    EXPECT_TRUE(loadClearedStaleBaselines(*defaults).empty());
    defaults->remove(clearedStaleBaselinesKey);
    EXPECT_TRUE(loadClearedStaleBaselines(*defaults).empty());
}

TEST(StaleSessionBaselines, HiddenCountIsStaleBeyondTheBaselineNeverNegative) {
    const ClearedStaleBaselines baselines{{"claude code", 3}, {"Codex", 4}, {"low", int64Min},
                                          {"minus", -5},      {"zero", 0},  {"high", int64Max}};
    EXPECT_EQ(hiddenStaleCountForProvider("Claude Code", 5, baselines), 2);
    EXPECT_EQ(hiddenStaleCountForProvider(" Claude Code\n", 1, baselines), 0);
    EXPECT_EQ(hiddenStaleCountForProvider("Codex", 5, baselines), 5) << "a stored key in other case never matches";
    EXPECT_EQ(hiddenStaleCountForProvider("Hermes", 7, {}), 7);
    // A negative baseline counts as absent; extreme values never overflow.
    EXPECT_EQ(hiddenStaleCountForProvider("low", 5, baselines), 5);
    EXPECT_EQ(hiddenStaleCountForProvider("minus", 2, baselines), 2);
    EXPECT_EQ(hiddenStaleCountForProvider("zero", 2, baselines), 2);
    EXPECT_EQ(hiddenStaleCountForProvider("zero", int64Min, baselines), 0);
    EXPECT_EQ(hiddenStaleCountForProvider("Claude Code", int64Min, baselines), 0);
    EXPECT_EQ(hiddenStaleCountForProvider("high", -5, baselines), 0);
    EXPECT_EQ(hiddenStaleCountForProvider("high", int64Max, baselines), 0);
}

TEST(StaleSessionBaselines, ClearingRaisesOnlyProvidersWithStaleSessionsAndPersists) {
    TempDir dir;
    auto defaults = UserDefaults::open("s", dir.path());
    const ClearedStaleBaselines before{{"codex", 4}, {"claude code", 9}};
    auto after = baselinesAfterClearing(before, {providerWithStale("Codex", 0), providerWithStale("Claude Code", 2),
                                                 providerWithStale("Hermes", 6)});
    EXPECT_EQ(after, (ClearedStaleBaselines{{"codex", 4}, {"claude code", 2}, {"hermes", 6}}));
    saveClearedStaleBaselines(*defaults, after);
    EXPECT_EQ(loadClearedStaleBaselines(*UserDefaults::open("s", dir.path())), after);
    EXPECT_EQ(hiddenStaleCountForProvider("Hermes", 8, after), 2);
}
