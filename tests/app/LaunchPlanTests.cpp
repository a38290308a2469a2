#include "app/LaunchPlan.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using Kind = LaunchPlan::LaunchAction::Kind;

TEST(LaunchPlanTests, ActionTable) {
    struct Row {
        std::vector<std::string> arguments;
        Kind kind;
        std::optional<std::string> pane;
        double delay;
    } rows[] = {
        {{"brindleaf"}, Kind::showWelcomeIfNeeded, std::nullopt, 0.5},
        {{"brindleaf", "--show-settings"}, Kind::showSettings, std::nullopt, 0.8},
        {{"brindleaf", "--show-settings="}, Kind::showSettings, std::nullopt, 0.8},
        {{"brindleaf", "--show-settings=agents"}, Kind::showSettings, "agents", 0.8},
        {{"brindleaf", "--show-settings==agents"}, Kind::showSettings, "agents", 0.8},
        {{"brindleaf", "--show-settings=iCloud=x"}, Kind::showSettings, "iCloud", 0.8},
        {{"brindleaf", "--show-settings=bananas"}, Kind::showSettings, std::nullopt, 0.8},
        {{"brindleaf", "--show-settingsX=about"}, Kind::showSettings, "about", 0.8},
        {{"brindleaf", "--show-glance", "--show-settings=about"}, Kind::showSettings, "about", 0.8},
        {{"brindleaf", "--show-settings=agents", "--show-settings=about"}, Kind::showSettings, "agents", 0.8},
        {{"brindleaf", "--show-glance", "--show-popover"}, Kind::showPopover, std::nullopt, 0.8},
        {{"brindleaf", "--show-glance"}, Kind::showGlance, std::nullopt, 0.8},
        {{"brindleaf", "--sample-data", "--show-welcome"}, Kind::showWelcome, std::nullopt, 0.5},
        {{"brindleaf", "--check-for-updates", "--show-welcome"}, Kind::showWelcome, std::nullopt, 0.5},
        {{"brindleaf", "--check-for-updates"}, Kind::checkForUpdates, std::nullopt, 0.8},
        {{"brindleaf", "--show-popover=1"}, Kind::showWelcomeIfNeeded, std::nullopt, 0.5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments.back());
        auto action = LaunchPlan::chooseAction(row.arguments);
        EXPECT_EQ(action.kind, row.kind);
        EXPECT_EQ(action.settingsPane, row.pane);
        EXPECT_DOUBLE_EQ(action.delaySeconds, row.delay);
    }
    EXPECT_TRUE(LaunchPlan::wantsSampleData({"brindleaf", "--sample-data", "--show-welcome"}));
    EXPECT_FALSE(LaunchPlan::wantsSampleData({"brindleaf", "--sample-data=1"}));
}

TEST(LaunchPlanTests, WelcomeDecision) {
    EXPECT_TRUE(LaunchPlan::shouldShowWelcome(false, false));
    EXPECT_TRUE(LaunchPlan::shouldShowWelcome(false, true));
    EXPECT_TRUE(LaunchPlan::shouldShowWelcome(true, true));
    EXPECT_FALSE(LaunchPlan::shouldShowWelcome(true, false));
}

TEST(LaunchPlanTests, DisplayChoice) {
    const std::map<std::string, std::string> x{{"DISPLAY", ":0"}}, both{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "w-0"}};
    struct Row {
        std::map<std::string, std::string> environment;
        bool xAnswers;
        bool hasDisplay;
        std::optional<std::string> forced;
        bool asksX;
    } rows[] = {
        {{}, true, false, std::nullopt, false},
        {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, true, false, std::nullopt, false},
        {x, true, true, std::nullopt, true},
        {x, false, false, std::nullopt, true},
        {{{"WAYLAND_DISPLAY", "w-0"}}, false, true, std::nullopt, false},
        {both, true, true, "xcb", true},
        // An X display that does not answer beside a Wayland one: Wayland.
        {both, false, true, "wayland", true},
        {{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "w-0"}, {"QT_QPA_PLATFORM", "wayland"}},
         false,
         true,
         std::nullopt,
         false},
        {{{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "xcb"}}, false, false, std::nullopt, true},
        {{{"QT_QPA_PLATFORM", "offscreen"}}, false, true, std::nullopt, false},
    };
    for (const auto& row : rows) {
        bool asked = false;
        auto choice = LaunchPlan::chooseDisplay(row.environment, [&] {
            asked = true;
            return row.xAnswers;
        });
        EXPECT_EQ(choice.hasDisplay, row.hasDisplay);
        EXPECT_EQ(choice.forcedPlatform, row.forced);
        EXPECT_EQ(asked, row.asksX);
    }
}

TEST(LaunchPlanTests, SecondStartHandsOverItsLaunchFlagsOnly) {
    // Argument 0, Qt's options, words and near misses stay behind.
    EXPECT_EQ(LaunchPlan::launchFlags({"--show-glance", "-platform", "xcb", "--show-settingsX=about", "word",
                                       "--sample-data", "--show-popover=1", "--dump-status", "--check-for-updates"}),
              (std::vector<std::string>{"--show-settingsX=about", "--sample-data", "--check-for-updates"}));
    for (const std::vector<std::string>& flags : std::vector<std::vector<std::string>>{
             {}, {"--show-settings=about"}, {"--sample-data", "--show-welcome", "--show-settings="}}) {
        EXPECT_EQ(LaunchPlan::parseHandoff(LaunchPlan::handoffMessage(flags)), flags);
    }
    using namespace std::string_literals;
    const std::string header = "brindleaf-launch/1\0"s;
    EXPECT_EQ(LaunchPlan::parseHandoff(header + "--show-popover\0--evil\0word\0"s),
              std::vector<std::string>{"--show-popover"});
    const std::string notMessages[] = {
        ""s,
        "brindleaf-launch/1"s,
        "brindleaf-launch/2\0"s,
        "\0brindleaf-launch/1\0"s,
        header + "--show-glance"s,
        header + std::string(LaunchPlan::handoffMessageLimit, 'x') + "\0"s,
    };
    for (const auto& message : notMessages) EXPECT_EQ(LaunchPlan::parseHandoff(message), std::nullopt) << message;
    // The limit counts the whole message: one of exactly that size is read, one byte more is not.
    const std::string flag = "--show-glance\0"s;
    const std::size_t filler = LaunchPlan::handoffMessageLimit - header.size() - flag.size() - 1;
    const std::string atLimit = header + std::string(filler, 'x') + "\0"s + flag;
    ASSERT_EQ(atLimit.size(), LaunchPlan::handoffMessageLimit);
    EXPECT_EQ(LaunchPlan::parseHandoff(atLimit), std::vector<std::string>{"--show-glance"});
    EXPECT_EQ(LaunchPlan::parseHandoff(header + std::string(filler + 1, 'x') + "\0"s + flag), std::nullopt);
}

TEST(LaunchPlanTests, HandedFlagsActAtOnceAndOpenTheDashboardByDefault) {
    struct Row {
        std::vector<std::string> flags;
        Kind kind;
        std::optional<std::string> pane;
    } rows[] = {
        {{}, Kind::showPopover, std::nullopt},
        {{"--sample-data"}, Kind::showPopover, std::nullopt},
        {{"--show-settings=about"}, Kind::showSettings, "about"},
        {{"--show-glance", "--show-popover"}, Kind::showPopover, std::nullopt},
        {{"--show-glance"}, Kind::showGlance, std::nullopt},
        {{"--sample-data", "--show-welcome"}, Kind::showWelcome, std::nullopt},
        {{"--check-for-updates"}, Kind::checkForUpdates, std::nullopt},
    };
    for (const auto& row : rows) {
        auto action = LaunchPlan::chooseHandedAction(row.flags);
        EXPECT_EQ(action.kind, row.kind);
        EXPECT_EQ(action.settingsPane, row.pane);
        EXPECT_DOUBLE_EQ(action.delaySeconds, 0);
    }
}
