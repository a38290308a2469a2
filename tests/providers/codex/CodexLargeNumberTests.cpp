// Integers beyond 64 bits and numbers beyond the double range in Codex's JSON
// cost only that value, never the record that holds it.
#include "providers/codex/CodexAppServerStatusParser.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "providers/codex/RolloutTailAnalyzer.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using brindleaf::testing::TempDir;

namespace {

constexpr const char* big = "98765432109876543210"; // beyond 64 bits
constexpr const char* huge = "1e400";               // beyond the double range

std::string withLargeNumbers(std::string text) {
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"BIG", big}, {"HUGE", huge}}) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    }
    return text;
}

} // namespace

TEST(CodexLargeNumbers, AppServerAnswerKeepsItsOfficialStatuses) {
    const auto statuses = CodexAppServerStatusParser::parseSnapshot(
        withLargeNumbers(R"({"requestId":BIG,"threads":[{"id":"a","status":"active","tokens":BIG,"cost":HUGE},)"
                         R"({"id":"b","status":"idle","lastActivityAt":HUGE}]})"),
        1000);
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0].id, "a");
    EXPECT_EQ(statuses[0].state, CodexOfficialThreadRunState::active);
    EXPECT_EQ(statuses[1].id, "b");
    EXPECT_EQ(statuses[1].state, CodexOfficialThreadRunState::idle);
}

TEST(CodexLargeNumbers, RolloutRecordsAreKept) {
    const std::string turn = withLargeNumbers(R"({"type":"turn.started","seq":BIG})");
    const std::string call =
        withLargeNumbers(R"({"type":"response_item","payload":{"type":"function_call","call_id":"c1","name":"shell",)"
                         R"("arguments":"{}","size":BIG,"ratio":HUGE}})");
    const std::string output = withLargeNumbers(
        R"({"type":"response_item","payload":{"type":"function_call_output","call_id":"c1","exit":HUGE,"id":BIG}})");
    const auto open = RolloutTailAnalyzer::foldTail(turn + "\n" + call + "\n", std::nullopt);
    EXPECT_TRUE(open.hasOpenTurn);
    EXPECT_TRUE(open.hasPendingFunctionCall);
    EXPECT_FALSE(
        RolloutTailAnalyzer::foldTail(turn + "\n" + call + "\n" + output + "\n", std::nullopt).hasPendingFunctionCall);
    EXPECT_TRUE(RolloutTailAnalyzer::requestsEscalation(
        withLargeNumbers(R"({"sandbox_permissions" : "require_escalated", "timeout_ms" : BIG})")));
}

TEST(CodexLargeNumbers, SessionIndexAndManagedProcessesKeepTheirEntries) {
    TempDir home;
    home.write("session_index.jsonl", withLargeNumbers("{\"id\":\"a\",\"thread_name\":\"Named\",\"updated\":BIG}\n"
                                                       "{\"id\":\"b\",\"n\":HUGE,\"thread_name\":\"Bee\"}\n"));
    home.write("process_manager/chat_processes.json",
               withLargeNumbers(R"([{"conversationId":"a","osPid":4242,"startedAt":BIG},)"
                                R"({"conversationId":"b","osPid":BIG},{"conversationId":"c","osPid":HUGE}])"));
    CodexStatusProvider provider(CodexProviderConfig::standard({{"CODEX_HOME", home.path().string()}}, "/nonexistent"));
    EXPECT_EQ(*provider.sessionIndex(), (CodexStatusProvider::SessionIndex{{"a", "Named"}, {"b", "Bee"}}));
    const auto processes = provider.managedProcesses();
    ASSERT_EQ(processes.size(), 3u);
    EXPECT_EQ(processes[0].osPID, 4242);
    EXPECT_EQ(processes[1].conversationID, "b");
    EXPECT_FALSE(processes[1].osPID); // beyond a signed 64-bit integer
    EXPECT_EQ(processes[2].conversationID, "c");
    EXPECT_FALSE(processes[2].osPID); // absent
}
