// Integers beyond 64 bits and numbers beyond the double range in Claude's JSON
// cost only that value, never the record that holds it.
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "providers/claude/ClaudeTranscriptAnalyzer.hpp"
#include "tests/providers/claude/ClaudeScanSupport.hpp"
#include "tests/support/ChildProcess.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::claudefixtures;
using brindleaf::testing::ChildProcess;

namespace {

const std::string sid = "7d1c0a9e-2222-4b3c-8d4e-6f7a8b9c0d1e";

// The text with the JSON texts "BIG" and "HUGE" turned into the numbers simdjson refuses.
std::string withLargeNumbers(std::string text) {
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"\"BIG\"", "98765432109876543210"},
                                   std::pair<std::string, std::string>{"\"HUGE\"", "1e400"}}) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    }
    return text;
}

} // namespace

TEST(ClaudeLargeNumbers, FinishedTurnWhoseToolResultCarriesOneIsOver) {
    ClaudeHome home;
    const Date now = wholeNow();
    const std::string cwd = home.workDir("shop");
    ChildProcess engine("/bin/sleep", {"claude", "60"}, cwd);
    Transcript t(sid, cwd);
    t.prompt("look up the run", now - 40)
        .toolUse("msg_1", "toolu_1", "Bash", {{"command", "gh run view"}}, now - 35)
        .userBlocks(json::array({{{"tool_use_id", "toolu_1"}, {"type", "tool_result"}, {"content", "run found"}}}),
                    now - 32, {{"toolUseResult", {{"runId", "BIG"}, {"ratio", "HUGE"}, {"stdout", "run found"}}}})
        .assistantText("msg_2", "The run passed.", now - 30);
    const auto path = home.write(home.projectDir(cwd) / (sid + ".jsonl"), withLargeNumbers(t.text()), now - 30);
    ASSERT_NE(withLargeNumbers(t.text()), t.text());

    ClaudeTranscriptAnalyzer analyzer;
    const auto state = analyzer.parse(path.string());
    EXPECT_FALSE(state.hasPendingToolUse);
    EXPECT_FALSE(state.hasOpenTurn);
    EXPECT_EQ(state.lastConversationRole, "assistant");

    ClaudeStatusProvider provider(home.config(), ownProcesses);
    const auto snapshot = provider.snapshot(now);
    EXPECT_TRUE(snapshot.activeSessions.empty()) << snapshot.activeSessions[0].evidence;
}

TEST(ClaudeLargeNumbers, RegistryDesktopTitlesAndSubagentMetaKeepTheirFields) {
    ClaudeHome home;
    const auto sessions = home.claudeHome() / "sessions";
    home.write(sessions / "1.json", withLargeNumbers(R"({"pid": 4242, "sessionId": "abc", "startedAt": "BIG",
                                                        "extra": {"n": "HUGE"}})"));
    home.write(sessions / "2.json", withLargeNumbers(R"({"pid": "BIG", "sessionId": "too large"})"));
    home.write(sessions / "3.json", withLargeNumbers(R"({"pid": "HUGE", "sessionId": "beyond range"})"));
    ClaudeStatusProvider provider(home.config(), [] { return std::vector<ProcessResourceSample>{}; });
    EXPECT_EQ(provider.readSessionPIDs(sessions.string()), (std::map<int64_t, std::string>{{4242, "abc"}}));

    EXPECT_EQ(ClaudeStatusProvider::parseDesktopTitle(
                  withLargeNumbers(R"({"cliSessionId":"s1","createdAt":"BIG","n":"HUGE","title":"Fix the build"})")),
              (ClaudeStatusProvider::DesktopTitleEntry{"s1", "Fix the build"}));
    EXPECT_EQ(ClaudeStatusProvider::parseSubagentToolUseID(
                  withLargeNumbers(R"({"agentType":"Explore","toolUseId":"toolu_9","tokens":["BIG","HUGE"]})")),
              "toolu_9");
}
