#include "providers/codex/RolloutTailAnalyzer.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace brindleaf;
using brindleaf::testing::TempDir;

namespace {

const std::string turnStarted = R"({"type":"turn.started"})";
const std::string taskStarted = R"({"type":"event_msg","payload":{"type":"task_started"}})";
const std::string taskComplete = R"({"type":"event_msg","payload":{"type":"task_complete"}})";

std::string call(const std::string& id, const std::string& name = "shell", const std::string& ns = "",
                 const std::string& arguments = "{}") {
    std::string namespaceField = ns.empty() ? "" : ",\"namespace\":\"" + ns + "\"";
    std::string escaped;
    for (char c : arguments) {
        if (c == '"' || c == '\\') escaped += '\\';
        escaped += c;
    }
    return R"({"type":"response_item","payload":{"type":"function_call","call_id":")" + id + R"(","name":")" + name +
           "\"" + namespaceField + ",\"arguments\":\"" + escaped + "\"}}";
}

std::string output(const std::string& id) {
    return R"({"type":"response_item","payload":{"type":"function_call_output","call_id":")" + id + R"("}})";
}

std::string assistant(const std::string& phaseField) {
    return R"({"type":"response_item","payload":{"type":"message","role":"assistant")" + phaseField + "}}";
}

class RolloutTail : public ::testing::Test {
protected:
    RolloutTailState fold(const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& line : lines) text += line + "\n";
        const auto path = dir.write("rollout-" + std::to_string(counter++) + ".jsonl", text);
        return analyzer.state(path);
    }

    TempDir dir;
    RolloutTailAnalyzer analyzer;
    int counter = 0;
};

} // namespace

TEST_F(RolloutTail, PendingCallsAndTheirCompletion) {
    auto open = fold({turnStarted, call("c1")});
    EXPECT_TRUE(open.hasOpenTurn);
    EXPECT_TRUE(open.hasPendingFunctionCall);
    EXPECT_FALSE(open.hasFinalAssistantMessage);
    EXPECT_FALSE(open.hasPendingUserAttention);

    EXPECT_FALSE(fold({turnStarted, call("c1"), output("c1")}).hasPendingFunctionCall);
    EXPECT_FALSE(
        fold({turnStarted, call("c1"), R"({"type":"item.completed","payload":{"item":{"call_id":"c1"}}})"})
            .hasPendingFunctionCall);
    EXPECT_FALSE(fold({turnStarted, call("c1"), R"({"type":"item.completed","item":{"call_id":"c1"}})"})
                     .hasPendingFunctionCall);
    EXPECT_FALSE(fold({turnStarted, call("c1"), R"({"payload":{"type":"item.completed","call_id":"c1"}})"})
                     .hasPendingFunctionCall);
    // Another call's output leaves c1 pending; a call without an id is ignored.
    EXPECT_TRUE(fold({call("c1"), output("c2")}).hasPendingFunctionCall);
    EXPECT_FALSE(fold({R"({"type":"response_item","payload":{"type":"function_call","name":"x"}})"})
                     .hasPendingFunctionCall);

    auto done = fold({turnStarted, call("c1"), taskComplete});
    EXPECT_FALSE(done.hasPendingFunctionCall);
    EXPECT_FALSE(done.hasOpenTurn);
    EXPECT_TRUE(done.hasFinalAssistantMessage);

    // A turn start does not clear a pending call.
    auto restarted = fold({call("c1"), taskStarted});
    EXPECT_TRUE(restarted.hasPendingFunctionCall);
    EXPECT_TRUE(restarted.hasOpenTurn);
}

TEST_F(RolloutTail, TurnBoundaries) {
    for (const std::string end : {R"({"type":"turn.completed"})", R"({"type":"turn.failed"})",
                                  R"({"type":"turn.interrupted"})", R"({"type":"turn_aborted"})",
                                  R"({"type":"event_msg","payload":{"type":"turn_aborted"}})",
                                  R"({"type":"thread/status","payload":"idle"})",
                                  R"({"type":"thread/status","payload":{"status":"idle"}})",
                                  R"({"type":"anything","payload":{"status":"idle"}})",
                                  R"({"payload":{"status":{"status":"idle"}}})",
                                  R"({"payload":{"threadStatus":{"status":"idle"}}})"}) {
        auto state = fold({turnStarted, call("c9"), end});
        EXPECT_FALSE(state.hasOpenTurn) << end;
        EXPECT_TRUE(state.hasFinalAssistantMessage) << end;
        EXPECT_FALSE(state.hasPendingFunctionCall) << end;
    }
    EXPECT_TRUE(fold({turnStarted, R"({"type":"thread/status","payload":"Idle"})"}).hasOpenTurn);
    EXPECT_TRUE(fold({turnStarted, R"({"type":"x","payload":{"status":"IDLE"}})"}).hasOpenTurn);
    // A record with both a start and an end marker is a start.
    auto both = fold({R"({"type":"turn.completed","payload":{"type":"task_started"}})"});
    EXPECT_TRUE(both.hasOpenTurn);
    EXPECT_FALSE(both.hasFinalAssistantMessage);
    // No boundary at all: neither flag.
    auto none = fold({call("c1")});
    EXPECT_FALSE(none.hasOpenTurn);
    EXPECT_FALSE(none.hasFinalAssistantMessage);
}

TEST_F(RolloutTail, AssistantMessagePhases) {
    EXPECT_TRUE(fold({turnStarted, assistant(R"(,"phase":"final_answer")")}).hasFinalAssistantMessage);
    EXPECT_TRUE(fold({turnStarted, assistant(R"(,"phase":"final")")}).hasFinalAssistantMessage);
    EXPECT_TRUE(fold({turnStarted, assistant("")}).hasFinalAssistantMessage);
    EXPECT_TRUE(fold({turnStarted, assistant(R"(,"phase":7)")}).hasFinalAssistantMessage);
    auto commentary = fold({turnStarted, assistant(R"(,"phase":"commentary")")});
    EXPECT_TRUE(commentary.hasOpenTurn);
    EXPECT_FALSE(commentary.hasFinalAssistantMessage);
    EXPECT_TRUE(fold({turnStarted, R"({"type":"response_item","payload":{"type":"message","role":"user"}})"})
                    .hasOpenTurn);
}

TEST_F(RolloutTail, CallsThatNeedTheUser) {
    EXPECT_TRUE(fold({call("c1", "request_user_input")}).hasPendingUserAttention);
    EXPECT_TRUE(fold({call("c1", "mcp.request_plugin_install")}).hasPendingUserAttention);
    EXPECT_TRUE(fold({call("c1", "tools.request_user_input")}).hasPendingUserAttention);
    EXPECT_FALSE(fold({call("c1", "request_user_input_later")}).hasPendingUserAttention);
    auto answered = fold({call("c1", "request_user_input"), output("c1")});
    EXPECT_FALSE(answered.hasPendingUserAttention);
    EXPECT_FALSE(answered.hasPendingFunctionCall);

    EXPECT_TRUE(fold({call("c1", "shell", "", R"({"cmd":"ls","sandbox_permissions":"require_escalated"})")})
                    .hasPendingUserAttention);
    // A JSON object decides by its own key, even when the pair appears elsewhere in the text.
    EXPECT_FALSE(fold({call("c1", "shell", "",
                            R"({"sandbox_permissions":"none","note":"\"sandbox_permissions\":\"require_escalated\""})")})
                     .hasPendingUserAttention);
    EXPECT_TRUE(fold({call("c1", "shell", "", R"(cmd "sandbox_permissions": "require_escalated")")})
                    .hasPendingUserAttention);
    EXPECT_TRUE(fold({call("c1", "shell", "", R"(["x"] "sandbox_permissions":"require_escalated")")})
                    .hasPendingUserAttention);
    EXPECT_FALSE(fold({call("c1", "shell", "", R"(cmd "sandbox_permissions":  "require_escalated")")})
                     .hasPendingUserAttention);
}

TEST_F(RolloutTail, CodexAppThreadToolsNeverPend) {
    EXPECT_FALSE(fold({call("c1", "create_thread", "codex_app")}).hasPendingFunctionCall);
    EXPECT_FALSE(fold({call("c1", "set_thread_title", "codex_app")}).hasPendingFunctionCall);
    EXPECT_TRUE(fold({call("c1", "create_thread", "other_app")}).hasPendingFunctionCall);
    EXPECT_TRUE(fold({call("c1", "delete_thread", "codex_app")}).hasPendingFunctionCall);
}

TEST_F(RolloutTail, ReadsOnlyTheTailAndDatesByModificationTime) {
    // An old pending call far before the last 96 KiB, then a cut first line.
    std::string text = call("old") + "\n";
    text += R"({"type":"response_item","payload":{"type":"function_call","call_id":"cut","arguments":")" +
            std::string(100000, 'x') + "\"}}\n";
    text += R"({"type":"event_msg","payload":{"type":"token_count"}})" "\n";
    const auto path = dir.write("long.jsonl", text);
    brindleaf::testing::setFileTime(path, 1700000123.25);
    auto state = analyzer.state(path);
    EXPECT_FALSE(state.hasPendingFunctionCall);
    EXPECT_EQ(state.lastEventAt, 1700000123.25);

    // A short file is read whole.
    const auto shortPath = dir.write("short.jsonl", call("first") + "\n" + std::string(50000, ' ') + "\n");
    EXPECT_TRUE(analyzer.state(shortPath).hasPendingFunctionCall);
}

TEST_F(RolloutTail, BadBytesCostOnlyTheirLine) {
    // Invalid UTF-8 inside a record is replaced, the record still counts.
    auto replaced = fold({call("c1", "sh\xff\xfe")});
    EXPECT_TRUE(replaced.hasPendingFunctionCall);
    // Non-JSON lines, arrays and blank lines are ignored.
    auto noisy = fold({"not json", "[1,2]", "", "   ", turnStarted, "{broken"});
    EXPECT_TRUE(noisy.hasOpenTurn);

    // A tail that starts inside a multi-byte character.
    std::string last = "\n";
    last += call("c7");
    last += "\n";
    // 98,305 bytes: the tail starts one byte into the euro sign.
    std::string text("\xe2\x82\xac");
    text.append(98305 - 3 - last.size(), 'a');
    text.append(last);
    const auto path = dir.write("cut-utf8.jsonl", text);
    EXPECT_TRUE(analyzer.state(path).hasPendingFunctionCall);
}

TEST_F(RolloutTail, MissingAndSpecialFiles) {
    auto missing = analyzer.state((dir / "missing.jsonl").string());
    EXPECT_EQ(missing, RolloutTailState{});
    EXPECT_EQ(analyzer.cache().count(), 0u);

    const auto empty = dir.write("empty.jsonl", "");
    brindleaf::testing::setFileTime(empty, 1000);
    auto emptyState = analyzer.state(empty);
    EXPECT_FALSE(emptyState.hasOpenTurn);
    EXPECT_EQ(emptyState.lastEventAt, 1000.0);

    // A FIFO named as rollout is never waited on: no flags, dated by its mtime.
    const auto fifo = (dir / "fifo.jsonl").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto fifoState = analyzer.state(fifo);
    EXPECT_FALSE(fifoState.hasPendingFunctionCall);
    EXPECT_TRUE(fifoState.lastEventAt.has_value());

    // A directory is not a rollout either.
    auto folder = analyzer.state(dir.path().string());
    EXPECT_FALSE(folder.hasOpenTurn);
}

TEST_F(RolloutTail, UnchangedFileIsNotReadAgain) {
    const auto path = dir.write("cached.jsonl", turnStarted + "\n");
    brindleaf::testing::setFileTime(path, 5000);
    EXPECT_TRUE(analyzer.state(path).hasOpenTurn);
    // Same size, same time, other content: the cached state stands.
    brindleaf::testing::writeFile(path, R"({"type":"turn.complet"})" "\n");
    brindleaf::testing::setFileTime(path, 5000);
    EXPECT_TRUE(analyzer.state(path).hasOpenTurn);
    brindleaf::testing::setFileTime(path, 5001);
    EXPECT_FALSE(analyzer.state(path).hasOpenTurn);
}
