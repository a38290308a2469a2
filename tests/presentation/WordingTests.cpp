// The wording and number formats, as tables of input and expected text.
#include "presentation/SessionActivityText.hpp"
#include "presentation/StatusFormatting.hpp"
#include "presentation/StatusWording.hpp"
#include "presentation/TimeOfDayPattern.hpp"
#include "presentation/WorkspacePathDisplay.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <clocale>
#include <cmath>
#include <limits>

using namespace brindleaf;
using Mood = StatusWording::Mood;
using brindleaf::testing::TempDir;

TEST(StatusWording, TitlesAndSummaries) {
    EXPECT_EQ(StatusWording::title(Mood::working), "Working");
    EXPECT_EQ(StatusWording::title(Mood::waiting), "Waiting for You");
    EXPECT_EQ(StatusWording::title(Mood::idle), "Idle");
    EXPECT_EQ(StatusWording::title(Mood::unavailable), "Status Unavailable");
    EXPECT_EQ(StatusWording::title(Mood::notUpdated), "Not Updated");

    const Date now = 1000000;
    struct Case {
        Mood mood;
        std::int64_t running, waiting;
        std::optional<Date> last;
        const char* expected;
    } cases[] = {
        {Mood::working, 1, 0, {}, "1 session running"},
        {Mood::working, 3, 1, {}, "3 sessions running \u00B7 1 waiting for you"},
        {Mood::working, 0, 0, {}, "0 sessions running"},
        {Mood::working, 1, 2, {}, "1 session running \u00B7 2 waiting for you"},
        {Mood::waiting, 5, 1, {}, "1 session needs your input"},
        {Mood::waiting, 0, 0, {}, "0 sessions need your input"},
        {Mood::waiting, 0, 4, {}, "4 sessions need your input"},
        {Mood::idle, 2, 2, {}, "No agents are running."},
        {Mood::unavailable, 0, 0, {}, "This computer couldn\u2019t read agent activity."},
        {Mood::notUpdated, 0, 0, {}, "Waiting for this computer."},
        {Mood::notUpdated, 0, 0, now - 9.9, "Last updated just now"},
        {Mood::notUpdated, 0, 0, now - 10.0, "Last updated 10 seconds ago"},
        {Mood::notUpdated, 0, 0, std::nan(""), "Waiting for this computer."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StatusWording::summary(c.mood, c.running, c.waiting, c.last, now), c.expected) << c.expected;

    EXPECT_EQ(StatusWording::sessionCount(0), "0 sessions");
    EXPECT_EQ(StatusWording::sessionCount(1), "1 session");
    EXPECT_EQ(StatusWording::sessionCount(12), "12 sessions");
    EXPECT_EQ(StatusWording::staleSessionsHelp(), "Sessions that stopped mid-task \u2014 for example because the agent "
                                                  "quit \u2014 and are no longer shown as running.");
}

TEST(StatusWording, MoodOfASnapshot) {
    struct Case {
        AgentRunState state;
        int running, waiting;
        Mood mood;
    } cases[] = {
        {AgentRunState::inProgress, 1, 1, Mood::working},
        {AgentRunState::complete, 0, 1, Mood::waiting},
        {AgentRunState::complete, 0, 0, Mood::idle},
        {AgentRunState::inProgress, 0, 0, Mood::idle},
        // "unknown": no agent could be read in the refresh.
        {AgentRunState::unknown, 0, 0, Mood::unavailable},
        {AgentRunState::unknown, 0, 2, Mood::waiting},
        {AgentRunState::unknown, 1, 0, Mood::working},
    };
    for (const auto& c : cases) {
        AgentStatusSnapshot snapshot;
        snapshot.state = c.state;
        for (int i = 0; i < c.running + c.waiting; ++i)
            snapshot.activeSessions.push_back(
                AgentSession({.id = std::to_string(i), .provider = "Codex", .needsUserAttention = i >= c.running}));
        EXPECT_EQ(StatusWording::mood(snapshot), c.mood) << toString(c.state) << c.running << c.waiting;
    }
}

TEST(SessionActivityText, RulesInOrder) {
    struct Case {
        const char* activity;
        bool attention;
        const char* expected;
    } cases[] = {
        {"rollout has pending tool call", true, "Waiting for your choice"},
        {"tool call awaiting user authorization", false, "Waiting for your choice"},
        {"Claude is Waiting For Your Choice", false, "Waiting for your choice"},
        {"scheduled wakeup at noon", false, "Waiting to resume"},
        {"agent sleeping", false, "Waiting to resume"},
        {"background task running (tool)", false, "Running a background task"},
        {"subagent running a tool", false, "Running a subagent"},
        {"open delegation", false, "Running a subagent"},
        {"active child process", false, "Running a subagent"},
        {"context compression in progress", false, "Compacting context"},
        {"rollout has pending tool call", false, "Running a tool"},
        {"Open Turn since 10:00", false, "Thinking\u2026"},
        {"Claude turn awaiting assistant response", false, "Thinking\u2026"},
        {"waiting on backend response", false, "Thinking\u2026"},
        {"", false, "Working"},
        {"recent runtime log activity", false, "Working"},
    };
    for (const auto& c : cases) EXPECT_EQ(SessionActivityText::text(c.activity, c.attention), c.expected) << c.activity;
}

TEST(StatusFormatting, RelativeTimes) {
    const Date now = 2000000000;
    EXPECT_EQ(StatusFormatting::relativeTime(now - 9.99, now), "just now");
    EXPECT_EQ(StatusFormatting::relativeTime(now + 9.99, now), "just now");
    EXPECT_EQ(StatusFormatting::relativeTime(now - 10, now), "10 seconds ago");
    EXPECT_EQ(StatusFormatting::relativeTime(now + 30, now), "in 30 seconds");
    EXPECT_EQ(StatusFormatting::relativeTime(now - 95, now), "1 minute ago");
    EXPECT_EQ(StatusFormatting::relativeTime(now - 7200, now), "2 hours ago");
    EXPECT_EQ(StatusFormatting::relativeTime(now - 3 * 86400, now), "3 days ago");
    EXPECT_EQ(StatusFormatting::relativeTime(std::nan(""), now), "");
    EXPECT_EQ(StatusFormatting::relativeTime(now, std::numeric_limits<double>::infinity()), "");
}

TEST(StatusFormatting, ModelAndEffort) {
    using StatusFormatting::modelEffort;
    EXPECT_EQ(modelEffort("gpt-5-codex", "high"), "gpt-5-codex \u00B7 high");
    EXPECT_EQ(modelEffort(" claude-opus-5\n", std::nullopt), "claude-opus-5");
    EXPECT_EQ(modelEffort("   ", "high"), "Effort: high");
    EXPECT_EQ(modelEffort(std::nullopt, "\n"), std::nullopt);
}

TEST(StatusFormatting, CPUAndMemory) {
    using namespace StatusFormatting;
    struct Case {
        double value;
        const char* expected;
    } cpu[] = {{-3, "<0.1%"},   {0, "<0.1%"}, {0.0999, "<0.1%"}, {0.1, "0.1%"},   {9.94, "9.9%"},
               {9.96, "10.0%"}, {10, "10%"},  {18.4, "18%"},     {250.5, "250%"}, {std::nan(""), ""}};
    for (const auto& c : cpu) EXPECT_EQ(cpuPercent(c.value), c.expected) << c.value;

    struct MemoryCase {
        std::int64_t bytes;
        const char* expected;
    } memoryCases[] = {{0, "Zero KB"},
                       {1, "1 byte"},
                       {1023, "1023 bytes"},
                       {1536, "2 KB"},
                       {222298112, "212 MB"},
                       {319815680, "305 MB"},
                       {1234567, "1.2 MB"},
                       {1610612736, "1.5 GB"},
                       {-1536, "-2 KB"},
                       {INT64_MIN, "-8 EB"},
                       // The unit is chosen after rounding: just under a boundary reads as the next unit.
                       {1048063, "1023 KB"},
                       {1048575, "1 MB"},
                       {1073689395, "1023.9 MB"},
                       {1073741823, "1 GB"},
                       {-1048575, "-1 MB"}};
    for (const auto& c : memoryCases) EXPECT_EQ(memory(c.bytes), c.expected) << c.bytes;

    EXPECT_EQ(resourceLine(18.4, 222298112, 3), "CPU 18% \u00B7 212 MB \u00B7 3 processes");
    EXPECT_EQ(resourceLine(6.2, std::nullopt, 1), "CPU 6.2%");
    EXPECT_EQ(resourceLine(std::nullopt, std::nullopt, 1), std::nullopt);
    EXPECT_EQ(resourceLine(std::nullopt, std::nullopt, 3), "3 processes");
    // What cannot be shown is left out rather than printed as nonsense.
    EXPECT_EQ(resourceLine(std::nan(""), -5, 1), std::nullopt);
    EXPECT_EQ(resourceLine(std::numeric_limits<double>::infinity(), 2048, 2), "2 KB \u00B7 2 processes");
}

TEST(StatusFormatting, NumbersIgnoreTheProcessLocale) {
    // A German numeric locale, compiled for this test when the system has none.
    TempDir dir;
    const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (!german) {
        const std::string command = "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' 2>/dev/null";
        if (std::system(command.c_str()) == 0) {
            setenv("LOCPATH", dir.path().c_str(), 1);
            german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        }
    }
    if (!german) GTEST_SKIP() << "no German locale available";
    char printed[32];
    std::snprintf(printed, sizeof printed, "%.1f", 18.4);
    EXPECT_STREQ(printed, "18,4"); // the trap the formats avoid
    EXPECT_EQ(StatusFormatting::cpuPercent(8.4), "8.4%");
    EXPECT_EQ(StatusFormatting::cpuPercent(9.96), "10.0%");
    EXPECT_EQ(StatusFormatting::memory(1234567), "1.2 MB");
    EXPECT_EQ(StatusFormatting::resourceLine(8.4, 1610612736, 1), "CPU 8.4% \u00B7 1.5 GB");
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
}

TEST(TimeOfDayPattern, LongPatternsLoseOnlyTheirZone) {
    struct Case {
        const char* longPattern;
        const char* expected;
    } cases[] = {
        {"h:mm:ss AP t", "h:mm:ss AP"},
        {"HH:mm:ss t", "HH:mm:ss"},
        {"t HH:mm:ss", "HH:mm:ss"},
        {"H:mm:ss (t)", "H:mm:ss"},
        {"H:mm:ss 'ч'. t", "H:mm:ss 'ч'."},
        {"AP h시 m분 s초 tttt", "AP h시 m분 s초"},
        {"h:mm:ss\u202FAP\u202Ft", "h:mm:ss\u202FAP"},
        {"HH:mm:ss 'at' t", "HH:mm:ss 'at'"}, // a quoted t is text
        {"HH:mm:ss", "HH:mm:ss"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimeOfDayPattern::withoutTimeZone(c.longPattern), c.expected) << c.longPattern;
}

TEST(WorkspacePathDisplay, Parts) {
    using WorkspacePathDisplay::Parts;
    struct Case {
        const char* path;
        Parts expected;
    } cases[] = {
        {"/Users/me/project/", {"/Users/me/", "project"}},
        {"/project", {"/", "project"}},
        {"project", {"", "project"}},
        {"/", {"", "/"}},
        {"//", {"", "/"}},
        {"", {"", ""}},
        {"a/", {"", "a"}},
        {"/home/me//", {"/home/", "me"}},
    };
    for (const auto& c : cases) EXPECT_EQ(WorkspacePathDisplay::parts(c.path), c.expected) << c.path;

    using Run = WorkspacePathDisplay::Run;
    EXPECT_EQ(WorkspacePathDisplay::text("/srv/app"), (std::vector<Run>{{"/srv/", false}, {"app", true}}));
    EXPECT_EQ(WorkspacePathDisplay::text("app"), (std::vector<Run>{{"app", true}}));
}
