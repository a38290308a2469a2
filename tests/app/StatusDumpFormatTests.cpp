#include "app/BrindleafBarApp.hpp"
#include "app/CodexRuntimeWatchConfiguration.hpp"
#include "tests/support/ScopedGermanLocale.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

using namespace brindleaf;
using namespace brindleaf::BrindleafBarApp;
using brindleaf::testing::ScopedGermanLocale;

namespace {

std::size_t tabs(const std::string& line) {
    return static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t'));
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

} // namespace

TEST(StatusDumpFormat, NumbersFollowTheirThresholds) {
    EXPECT_EQ(formatCPUPercent(0.1), "0.1%");
    EXPECT_EQ(formatCPUPercent(12.5), "12.5%");
    EXPECT_EQ(formatCPUPercent(-3.25), "-3.2%");
    EXPECT_EQ(formatCPUPercent(0.05), "0.500\u2030");
    EXPECT_EQ(formatCPUPercent(0), "0.000\u2030");
    EXPECT_EQ(formatCPUPercent(1234.0), "1234.0%");

    EXPECT_EQ(formatByteCount(0), "0B");
    EXPECT_EQ(formatByteCount(1023), "1023B");
    EXPECT_EQ(formatByteCount(-5), "-5B");
    EXPECT_EQ(formatByteCount(1024), "1KB");
    EXPECT_EQ(formatByteCount(1048575), "1024KB");
    EXPECT_EQ(formatByteCount(1048576), "1MB");
    EXPECT_EQ(formatByteCount(315621376), "301MB");
    EXPECT_EQ(formatByteCount(1073741824), "1.0GB");
    EXPECT_EQ(formatByteCount(1073741823), "1024MB");
    EXPECT_EQ(formatByteCount(std::numeric_limits<std::int64_t>::max()), "8589934592.0GB");
}

TEST(StatusDumpFormat, NumbersKeepTheirDecimalPointUnderAGermanLocale) {
    ScopedGermanLocale german;
    ASSERT_TRUE(german.active()) << german.problem();
    EXPECT_EQ(processSummary(SessionResourceUsage(7, 12.5, 1610612736, 1)), "pid=7 cpu=12.5% mem=1.5GB");
    EXPECT_EQ(formatCPUPercent(0.05), "0.500\u2030");
}

TEST(StatusDumpFormat, ProcessSummaryListsOnlyWhatIsKnown) {
    EXPECT_EQ(processSummary(std::nullopt), "");
    EXPECT_EQ(processSummary(SessionResourceUsage(4242, 12.5, 315621376, 3)), "pid=4242 cpu=12.5% mem=301MB procs=3");
    EXPECT_EQ(processSummary(SessionResourceUsage(7, std::nullopt, std::nullopt, 1)), "pid=7");
    EXPECT_EQ(processSummary(SessionResourceUsage(7, 0.0, std::nullopt, 2)), "pid=7 cpu=0.000\u2030 procs=2");
    EXPECT_EQ(processSummary(SessionResourceUsage(7, std::nullopt, 2048, 0)), "pid=7 mem=2KB");
}

TEST(StatusDumpFormat, SessionLinesHaveElevenFieldsInOrder) {
    AgentSession full(
        {.id = "t-1",
         .provider = "Codex",
         .agentNickname = "Ada",
         .agentRole = "explorer",
         .parentTitle = "Parent title",
         .parentAgentNickname = "Grace",
         .parentAgentRole = "lead",
         .threadSource = "subagent",
         .title = "Fix the build",
         .cwd = "/work/x",
         .evidence = "Codex turn in progress",
         .resourceUsage = SessionResourceUsage(99, std::nullopt, 1024, 1),
         .runtimeProfile = SessionRuntimeProfile("gpt-5", "high", SessionRuntimeProfileSource::codexThreadStore)});
    EXPECT_EQ(split(sessionLine(full)),
              (std::vector<std::string>{"Codex", "t-1", "subagent", "Ada/explorer", "Fix the build", "/work/x",
                                        "Grace/lead", "gpt-5", "high", "Codex turn in progress", "pid=99 mem=1KB"}));

    AgentSession roleOnly(
        {.id = "c-2",
         .provider = "Claude Code",
         .agentRole = "general-purpose",
         .parentTitle = "Parent title",
         .parentAgentRole = "lead",
         .title = "",
         .cwd = "",
         .evidence = "Claude is working",
         .runtimeProfile = SessionRuntimeProfile(std::nullopt, "low", SessionRuntimeProfileSource::claudeTranscript)});
    EXPECT_EQ(split(sessionLine(roleOnly)),
              (std::vector<std::string>{"Claude Code", "c-2", "", "general-purpose", "", "", "Parent title/lead", "",
                                        "low", "Claude is working", ""}));

    AgentSession bare({.id = "h", .provider = "Hermes", .parentTitle = "Only title", .evidence = "e"});
    const auto line = sessionLine(bare);
    EXPECT_EQ(tabs(line), 10u);
    EXPECT_EQ(line, "Hermes\th\t\t\t\t\tOnly title\t\t\te\t") << "a missing usage leaves the line ending in a tab";

    AgentSession nicknameOnly({.id = "n", .provider = "Codex", .agentNickname = "Ada", .parentAgentRole = "lead"});
    EXPECT_EQ(split(sessionLine(nicknameOnly))[3], "Ada");
    EXPECT_EQ(split(sessionLine(nicknameOnly))[6], "lead");
}

TEST(StatusDumpFormat, DumpPrintsStateCountAndOneLinePerSession) {
    auto empty = AgentStatusSnapshot::make({}, 100);
    EXPECT_EQ(statusDump(empty), "complete\nactive=0\n");

    AgentSession running({.id = "a", .provider = "Codex", .title = "A", .evidence = "running"});
    AgentSession waiting(
        {.id = "b", .provider = "Codex", .title = "B", .evidence = "waiting", .needsUserAttention = true});
    auto snapshot = AgentStatusSnapshot::make(
        {ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {running, waiting}, 0, 100, {})}, 100);
    EXPECT_EQ(statusDump(snapshot),
              "inProgress\nactive=2\n" + sessionLine(running) + "\n" + sessionLine(waiting) + "\n");
}

TEST(HeadlessModeChoice, ArgumentsMatchWholeAndInFixedOrder) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(headlessMode(Args{"brindleaf", "--dump-status"}), HeadlessMode::dumpStatus);
    EXPECT_EQ(headlessMode(Args{"brindleaf", "--dump-status-json", "--dump-status"}), HeadlessMode::dumpStatus);
    EXPECT_EQ(headlessMode(Args{"brindleaf", "--fetch-cloud-status-json", "--sync-status-now"}),
              HeadlessMode::syncStatusNow);
    EXPECT_EQ(headlessMode(Args{"brindleaf", "--dump-status", "--self-test-settings-migration"}),
              HeadlessMode::selfTestSettingsMigration);
    EXPECT_EQ(headlessMode(Args{"--dump-status-json"}), HeadlessMode::dumpStatusJSON) << "argument 0 counts too";
    EXPECT_FALSE(headlessMode(
        Args{"brindleaf", "--dump-status=1", "--dump-statusx", "--Dump-Status", "dump-status", " --dump-status"}));
    EXPECT_FALSE(headlessMode(Args{}));
}

TEST(HeadlessModeChoice, WatchWithOrWithoutItsFormatComesLast) {
    using Args = std::vector<std::string>;
    using Format = StatusLine::Format;
    struct Row {
        Args arguments;
        std::optional<HeadlessMode> mode;
        std::optional<Format> format;
    } rows[] = {
        {{"brindleaf", "--watch"}, HeadlessMode::watch, Format::json},
        {{"brindleaf", "--watch=json"}, HeadlessMode::watch, Format::json},
        {{"brindleaf", "--watch=text", "--watch=json"}, HeadlessMode::watch, Format::text},
        {{"brindleaf", "--watch=foo"}, HeadlessMode::watch, std::nullopt},
        {{"brindleaf", "--watch="}, HeadlessMode::watch, std::nullopt},
        {{"brindleaf", "--watch", "--dump-status-json"}, HeadlessMode::dumpStatusJSON, Format::json},
        {{"brindleaf", "--watchx", "-watch", "--Watch", "watch"}, std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.arguments));
        EXPECT_EQ(headlessMode(row.arguments), row.mode);
        EXPECT_EQ(watchFormat(row.arguments), row.format);
    }
}

TEST(CodexRuntimeWatchConfiguration, EnvironmentOverridesOnlyWhenNotEmpty) {
    CodexRuntimeWatchConfiguration plain({}, "/home/ann");
    EXPECT_EQ(plain.codexHome, "/home/ann/.codex");
    EXPECT_EQ(plain.defaultCodexHome, "/home/ann/.codex");
    EXPECT_FALSE(plain.sqliteHome);

    CodexRuntimeWatchConfiguration empty({{"CODEX_HOME", ""}, {"CODEX_SQLITE_HOME", ""}}, "/home/ann");
    EXPECT_EQ(empty, plain);

    CodexRuntimeWatchConfiguration moved({{"CODEX_HOME", " /srv/codex/ "}, {"CODEX_SQLITE_HOME", "~/db"}},
                                         "/home/ann/");
    EXPECT_EQ(moved.codexHome, " /srv/codex/ ") << "values are used as given";
    EXPECT_EQ(moved.defaultCodexHome, "/home/ann//.codex");
    EXPECT_EQ(moved.sqliteHome, "~/db");
}
