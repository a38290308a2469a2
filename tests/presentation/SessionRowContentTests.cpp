// A session card's lines, menu and diagnostic block, and the dashboard's height rule.
#include "presentation/DashboardLayout.hpp"
#include "presentation/SessionRowContent.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace brindleaf;

namespace {

using Kind = SessionRowContent::DetailKind;

std::vector<Kind> kinds(const SessionRowContent& content) {
    std::vector<Kind> result;
    for (const auto& line : content.details) result.push_back(line.kind);
    return result;
}

std::vector<std::string> menuTitles(const SessionRowContent& content) {
    std::vector<std::string> result;
    for (const auto& entry : content.menu) result.push_back(entry.title);
    return result;
}

AgentSession full() {
    return AgentSession(
        {.id = "s-1",
         .provider = "Codex",
         .parentID = "p-9",
         .agentNickname = "Ada",
         .agentRole = "reviewer",
         .parentTitle = "Main thread",
         .parentAgentNickname = "Boss",
         .threadSource = "cli",
         .title = "Fix the parser",
         .cwd = "/a/b/",
         .lastActivityAt = 1000 - 5,
         .evidence = "tool call running",
         .needsUserAttention = false,
         .resourceUsage = SessionResourceUsage(4242, 18.4, 212 * 1024 * 1024, 3),
         .runtimeProfile = SessionRuntimeProfile("gpt-5", "high", SessionRuntimeProfileSource::codexThreadStore),
         .backgroundTaskSummary = "npm test"});
}

} // namespace

TEST(SessionRowContent, LinesOfAFullSession) {
    const auto content = SessionRowContent::make(full(), 1000);
    EXPECT_EQ(content.displayTitle, "Fix the parser");
    EXPECT_EQ(content.activity, "Running a tool \u00B7 just now");
    EXPECT_EQ(kinds(content),
              (std::vector<Kind>{Kind::model, Kind::folder, Kind::parent, Kind::background, Kind::resources}));
    EXPECT_EQ(content.details[0].text, "gpt-5 \u00B7 high");
    EXPECT_EQ(content.details[1].text, "b");
    EXPECT_EQ(content.details[1].help, "/a/b/");
    EXPECT_EQ(content.details[2].text, "Subagent of \u201CBoss\u201D"); // the nickname before the title
    EXPECT_EQ(content.details[3].text, "Background: npm test");
    EXPECT_EQ(content.details[4].text, "CPU 18% \u00B7 212 MB \u00B7 3 processes");
    EXPECT_TRUE(content.details[4].monospacedDigits);
    EXPECT_EQ(menuTitles(content), (std::vector<std::string>{"Copy Title", "Copy Session ID", "Copy Project Path",
                                                             "Copy Process ID", "Copy Diagnostic Details"}));
    EXPECT_TRUE(content.menu.back().separatorBefore);
    EXPECT_EQ(content.menu[3].copiedText, "4242");
    EXPECT_EQ(content.processID, 4242);
    EXPECT_EQ(content.menu.back().copiedText, "Title: Fix the parser\n"
                                              "Agent: Codex\n"
                                              "Session ID: s-1\n"
                                              "Evidence: tool call running\n"
                                              "Parent ID: p-9\n"
                                              "Source: cli\n"
                                              "Agent name: Ada\n"
                                              "Agent role: reviewer\n"
                                              "Path: /a/b/\n"
                                              "PID: 4242");
}

TEST(SessionRowContent, LinesOfABareSession) {
    const auto content = SessionRowContent::make(
        AgentSession({.id = "bare", .provider = "Hermes", .evidence = "", .needsUserAttention = true}), 1000);
    EXPECT_EQ(content.displayTitle, "bare");
    EXPECT_EQ(content.activity, "Waiting for your choice"); // no time without a last activity
    EXPECT_TRUE(content.details.empty());
    EXPECT_EQ(menuTitles(content),
              (std::vector<std::string>{"Copy Title", "Copy Session ID", "Copy Diagnostic Details"}));
    EXPECT_EQ(content.menu.back().copiedText, "Title: bare\nAgent: Hermes\nSession ID: bare\nEvidence: ");
    EXPECT_FALSE(content.processID);
    EXPECT_EQ(SessionRowContent::statusLabel(true), "Waiting for your choice");
    EXPECT_EQ(SessionRowContent::statusLabel(false), "Working");
}

TEST(SessionRowContent, OptionalFieldsOneByOne) {
    struct Case {
        AgentSessionFields fields;
        std::vector<Kind> kinds;
        std::string firstText;
    };
    const Case cases[] = {
        {{.id = "e",
          .runtimeProfile = SessionRuntimeProfile(" ", "high", SessionRuntimeProfileSource::claudeTranscript)},
         {Kind::model},
         "Effort: high"},
        {{.id = "m",
          .runtimeProfile = SessionRuntimeProfile("opus", {}, SessionRuntimeProfileSource::claudeTranscript)},
         {Kind::model},
         "opus"},
        {{.id = "root", .cwd = "/"}, {Kind::folder}, "/"},
        {{.id = "rel", .cwd = "project"}, {Kind::folder}, "project"},
        {{.id = "pt", .parentTitle = "Plan"}, {Kind::parent}, "Subagent of \u201CPlan\u201D"},
        {{.id = "pe", .parentTitle = "Plan", .parentAgentNickname = ""}, {}, ""},
        {{.id = "bg", .backgroundTaskSummary = ""}, {}, ""},
        {{.id = "one", .resourceUsage = SessionResourceUsage(7, std::nullopt, std::nullopt, 1)}, {}, ""},
        {{.id = "many", .resourceUsage = SessionResourceUsage(7, std::nullopt, std::nullopt, 3)},
         {Kind::resources},
         "3 processes"},
    };
    for (const auto& c : cases) {
        const auto content = SessionRowContent::make(AgentSession(c.fields), 0);
        EXPECT_EQ(kinds(content), c.kinds) << c.fields.id;
        if (!c.kinds.empty()) {
            EXPECT_EQ(content.details[0].text, c.firstText) << c.fields.id;
        }
    }
    // A process id is offered even without a resource line.
    const auto oneProcess = SessionRowContent::make(
        AgentSession({.id = "one", .resourceUsage = SessionResourceUsage(7, std::nullopt, std::nullopt, 1)}), 0);
    EXPECT_EQ(menuTitles(oneProcess)[2], "Copy Process ID");
}

TEST(SessionRowContent, DisplayTitleAndFolderName) {
    EXPECT_EQ(SessionRowContent::titleOf(
                  AgentSession({.id = "r", .title = "The following is the Codex agent history of a review"})),
              "Codex review session");
    EXPECT_EQ(SessionRowContent::titleOf(AgentSession({.id = "r", .title = "the following is the Codex"})),
              "the following is the Codex");
    EXPECT_EQ(SessionRowContent::folderName("/a/b/"), "b");
    EXPECT_EQ(SessionRowContent::folderName("/a/b"), "b");
    EXPECT_EQ(SessionRowContent::folderName("/"), "/");
    EXPECT_EQ(SessionRowContent::folderName("//"), "/");
}

TEST(DashboardLayout, ScrollHeightFollowsContentUpToTheCap) {
    EXPECT_EQ(DashboardLayout::scrollAreaHeight(0, 900), 60);
    EXPECT_EQ(DashboardLayout::scrollAreaHeight(59, 900), 60);
    EXPECT_EQ(DashboardLayout::scrollAreaHeight(200, 900), 200);
    EXPECT_EQ(DashboardLayout::scrollAreaHeight(2000, 900), 630);
    EXPECT_EQ(DashboardLayout::scrollAreaHeight(2000, 300), 240); // never capped below 240
    EXPECT_EQ(DashboardLayout::scrollAreaHeight(2000, 400), 280);
    EXPECT_EQ(DashboardLayout::scrollAreaHeight(2000, std::nullopt), 630);
    EXPECT_EQ(DashboardLayout::scrollAreaHeight(std::numeric_limits<double>::quiet_NaN(), 900), 60);
}
