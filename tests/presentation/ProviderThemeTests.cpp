#include "presentation/ProviderTheme.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

TEST(ProviderTheme, NamesAreNormalisedAndUnknownOnesFallBack) {
    const auto codex = ThemeColor::rgb(0.16, 0.36, 0.98);
    for (const char* name : {"Codex", " Codex\n", "CODEX"}) {
        EXPECT_EQ(ProviderTheme::accentColor(name, Appearance::light), codex) << name;
        EXPECT_EQ(ProviderTheme::badgeFill(name)->kind, ProviderTheme::BadgeFill::Kind::linearGradient);
    }
    EXPECT_EQ(ProviderTheme::badgeFill("Codex")->leading, ThemeColor::rgb(0.04, 0.43, 1.0));
    EXPECT_EQ(ProviderTheme::badgeFill("Codex")->trailing, ThemeColor::rgb(0.5, 0.24, 0.96));
    EXPECT_EQ(ProviderTheme::badgeFill("claude code")->leading, ThemeColor::rgb(0.8, 0.31, 0.12));

    EXPECT_EQ(ProviderTheme::accentColor("Claude", Appearance::dark),
              ThemeColor::system(ThemeColor::Role::secondaryLabel));
    EXPECT_FALSE(ProviderTheme::badgeFill("Claude"));
    EXPECT_FALSE(ProviderTheme::badgeStroke("Claude", Appearance::dark));
    EXPECT_EQ(ProviderBadgeLayout::textColor("Claude"), ThemeColor::system(ThemeColor::Role::primaryLabel));
    EXPECT_EQ(ProviderBadgeLayout::textColor("Hermes"), ThemeColor::rgb(1, 1, 1));
}

TEST(ProviderTheme, HermesFollowsTheAppearance) {
    EXPECT_EQ(ProviderTheme::accentColor("Hermes", Appearance::dark), ThemeColor::rgb(1, 1, 1));
    EXPECT_EQ(ProviderTheme::accentColor("Hermes", Appearance::light), ThemeColor::rgb(0.08, 0.08, 0.09));
    EXPECT_EQ(ProviderTheme::badgeFill("hermes")->leading, ThemeColor::rgb(0.08, 0.08, 0.09));
    EXPECT_EQ(ProviderTheme::badgeStroke("Hermes", Appearance::dark), ThemeColor::rgb(1, 1, 1, 0.55));
    EXPECT_EQ(ProviderTheme::badgeStroke("Hermes", Appearance::light), ThemeColor::rgb(0, 0, 0, 0.12));
    EXPECT_FALSE(ProviderTheme::badgeStroke("Codex", Appearance::dark));
}
