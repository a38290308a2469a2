#include "providers/claude/ClaudeTranscriptAnalyzer.hpp"
#include "tests/providers/claude/ClaudeFixtures.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::claudefixtures;
using brindleaf::testing::TempDir;
using brindleaf::testing::setFileTime;

namespace {

constexpr Date T0 = 1796000000; // 2026-11-29T…Z

class TranscriptAnalysis : public ::testing::Test {
protected:
    ClaudeTranscriptState analyze(const std::string& contents, std::optional<uint64_t> maxBytes = std::nullopt) {
        const auto path = dir.write("t.jsonl", contents);
        setFileTime(path, T0 + 1000);
        return analyzer.parse(path.string(), maxBytes);
    }
    TempDir dir;
    ClaudeTranscriptAnalyzer analyzer;
};

json bashInput(const std::string& command, const std::string& description, bool background) {
    return {{"command", command}, {"description", description}, {"run_in_background", background}};
}

} // namespace

TEST_F(TranscriptAnalysis, EmptyUnreadableAndFragmentOnlyFilesGiveTheEmptyState) {
    for (const std::string& contents : {std::string(), std::string("\n\n   \n"), std::string("ol\"}}\n[1,2]\n42\n")}) {
        const auto state = analyze(contents);
        ClaudeTranscriptState expected;
        expected.lastEventAt = T0 + 1000;
        EXPECT_EQ(state, expected) << contents;
    }
    const auto missing = analyzer.parse((dir / "missing.jsonl").string());
    EXPECT_EQ(missing, ClaudeTranscriptState());
}

TEST_F(TranscriptAnalysis, PromptAnsweredOverSeveralBlockLinesClosesTheTurn) {
    Transcript t;
    t.noise(T0).prompt("Fix the login bug\nsecond line", T0 + 1).noise(T0 + 1);
    t.assistantBlock("msg_01", {{"type", "thinking"}, {"thinking", "hmm"}, {"signature", "x"}}, T0 + 2);
    t.assistantText("msg_01", "Looking at it.", T0 + 3);
    auto open = analyze(t.text());
    EXPECT_FALSE(open.hasOpenTurn); // the assistant is answering
    t.assistantText("msg_01", "Done.", T0 + 4).noise(T0 + 9);
    const auto state = analyze(t.text());
    EXPECT_EQ(state.sessionID, "5f0c6a1e-0000-4000-8000-000000000001");
    EXPECT_EQ(state.cwd, "/home/dev/projects/shop");
    EXPECT_EQ(state.title, "Fix the login bug");
    EXPECT_FALSE(state.hasOpenTurn);
    EXPECT_EQ(state.lastConversationRole, "assistant");
    EXPECT_EQ(state.lastEventAt, T0 + 4); // bookkeeping records are not activity
    EXPECT_TRUE(state.hasMeaningfulTurn);
    ASSERT_TRUE(state.runtimeProfile);
    EXPECT_EQ(state.runtimeProfile->model, "claude-opus-4-5");
    EXPECT_EQ(state.runtimeProfile->source, SessionRuntimeProfileSource::claudeTranscript);
}

TEST_F(TranscriptAnalysis, RequestBookkeepingDoesNotCloseAFreshPrompt) {
    Transcript t;
    t.prompt("Add a test", T0).requestBlobs(T0 + 1).noise(T0 + 1);
    const auto state = analyze(t.text());
    EXPECT_TRUE(state.hasOpenTurn);
    EXPECT_EQ(state.lastConversationRole, "user");
    EXPECT_EQ(state.lastEventAt, T0);
    EXPECT_EQ(state.title, "Add a test");
}

TEST_F(TranscriptAnalysis, CarriageReturnLineFeedFilesKeepEveryRecord) {
    Transcript t;
    t.prompt("first", T0).assistantText("msg_1", "ok", T0 + 1).prompt("second", T0 + 2);
    const auto state = analyze(t.text("\r\n"));
    EXPECT_EQ(state.title, "first");
    EXPECT_TRUE(state.hasOpenTurn);
    EXPECT_EQ(state.lastEventAt, T0 + 2);
}

TEST_F(TranscriptAnalysis, TailCutMidLineAndMidCharacterParsesTheLaterLines) {
    Transcript early("early-session", "/early");
    for (int i = 0; i < 200; ++i) early.prompt("ünïcödé prompt number " + std::to_string(i), T0 + i);
    std::string contents = early.text();
    Transcript late("late-session", "/late");
    late.prompt("late prompt", T0 + 500).assistantText("msg_9", "reply", T0 + 501);
    const std::string lateText = late.text();
    // Cut so that the tail starts on the second byte of "ü" in the last early line.
    const auto lastLine = contents.rfind("ünïcödé");
    const uint64_t limit = contents.size() - (lastLine + 1) + lateText.size();
    contents += lateText;
    const auto state = analyze(contents, limit);
    EXPECT_EQ(state.sessionID, "late-session");
    EXPECT_EQ(state.cwd, "/late");
    EXPECT_EQ(state.title, "late prompt");
    EXPECT_FALSE(state.hasOpenTurn);

    EXPECT_EQ(ClaudeTranscriptAnalyzer::readTail((dir / "t.jsonl").string(), limit)->size(), limit);
    EXPECT_EQ(ClaudeTranscriptAnalyzer::readTail((dir / "t.jsonl").string(), contents.size())->size(), contents.size());
    EXPECT_EQ(*ClaudeTranscriptAnalyzer::readTail((dir / "t.jsonl").string(), contents.size() + 10), contents);
}

TEST_F(TranscriptAnalysis, InvalidUTF8InsideALineIsRepaired) {
    const std::string valid = Transcript().prompt("caf\xc3\xa9 ok", T0).text();
    const auto at = valid.find("\xc3\xa9");
    const std::string line = valid.substr(0, at) + '\xff' + valid.substr(at + 2);
    const auto state = analyze(line);
    EXPECT_EQ(state.title, "caf\xef\xbf\xbd ok");
    EXPECT_TRUE(state.hasOpenTurn);
}

TEST_F(TranscriptAnalysis, ToolUseIsPendingUntilItsResult) {
    Transcript t;
    t.prompt("run the tests", T0).toolUse("msg_1", "toolu_1", "Bash", bashInput("npm test", "Run tests", false), T0 + 1);
    auto state = analyze(t.text());
    EXPECT_TRUE(state.hasPendingToolUse);
    EXPECT_FALSE(state.hasOpenTurn);
    t.toolResult("toolu_1", "42 passing", T0 + 5);
    state = analyze(t.text());
    EXPECT_FALSE(state.hasPendingToolUse);
    EXPECT_TRUE(state.hasOpenTurn);
    EXPECT_EQ(state.lastConversationRole, "user");
    EXPECT_FALSE(state.backgroundTaskSummary); // not a background launch
}

TEST_F(TranscriptAnalysis, InterruptKeepsTheTurnOpenOnlyWithinFiveSeconds) {
    for (const auto& [delay, open] : std::vector<std::pair<double, bool>>{{3, true}, {6, false}}) {
        Transcript t;
        t.prompt("go", T0).userBlocks(json::array({{{"type", "text"}, {"text", "[Request interrupted by user]"}}}),
                                      T0 + delay);
        const auto state = analyze(t.text());
        EXPECT_EQ(state.hasOpenTurn, open) << delay;
        EXPECT_TRUE(state.tailSawInterrupt);
        EXPECT_EQ(state.title, "go");
    }
}

TEST_F(TranscriptAnalysis, LocalCommandsAndCompactSummaries) {
    Transcript t;
    t.prompt("<command-name>/model</command-name>", T0);
    t.prompt("<local-command-stdout>Set model to opus</local-command-stdout>", T0 + 1);
    auto state = analyze(t.text());
    EXPECT_FALSE(state.hasOpenTurn);
    EXPECT_FALSE(state.title); // commands are not titles

    Transcript c;
    c.assistantText("msg_1", "done", T0).prompt("<local-command-caveat>Caveat: ...</local-command-caveat>", T0 + 1);
    c.record({{"type", "user"},
              {"isCompactSummary", true},
              {"message",
               {{"role", "user"},
                {"content", json::array({{{"type", "tool_use"}, {"id", "toolu_c"}, {"name", "Read"}, {"input", json::object()}}})}}},
              {"timestamp", iso(T0 + 2)}});
    state = analyze(c.text());
    EXPECT_EQ(state.lastConversationRole, "assistant");
    EXPECT_FALSE(state.hasOpenTurn);
    EXPECT_TRUE(state.hasPendingToolUse); // tool blocks still count
    EXPECT_FALSE(state.title);
}

TEST_F(TranscriptAnalysis, UserChoicesAndSubagents) {
    Transcript t;
    t.prompt("plan it", T0).toolUse("msg_1", "toolu_q", "AskUserQuestion", {{"questions", json::array()}}, T0 + 1);
    auto state = analyze(t.text());
    EXPECT_TRUE(state.hasPendingUserChoice);
    // A record-level result answers it.
    t.record({{"type", "user"},
              {"toolUseID", "toolu_q"},
              {"toolUseResult", {{"answers", json::object()}}},
              {"message", {{"role", "user"}, {"content", "User answered"}}},
              {"timestamp", iso(T0 + 2)}});
    t.toolUse("msg_2", "toolu_a", "Task",
              {{"description", std::string(100, 'd')}, {"subagent_type", "Explore"}, {"model", "haiku"}, {"effort", "low"}},
              T0 + 3);
    t.toolUse("msg_2", "toolu_b", "Agent", {{"description", "Review"}}, T0 + 3);
    t.toolUse("msg_2", "toolu_p", "ExitPlanMode", {{"plan", "..."}}, T0 + 3);
    state = analyze(t.text());
    EXPECT_TRUE(state.hasPendingUserChoice);
    ASSERT_EQ(state.pendingSubagents.size(), 2u);
    EXPECT_EQ(state.pendingSubagents[0].toolUseID, "toolu_a");
    EXPECT_EQ(state.pendingSubagents[0].subagentType, "Explore");
    EXPECT_EQ(state.pendingSubagents[0].runtimeProfile,
              SessionRuntimeProfile("haiku", "low", SessionRuntimeProfileSource::claudeTaskRequest));
    EXPECT_EQ(state.pendingSubagents[1].description, "Review");
    EXPECT_FALSE(state.pendingSubagents[1].runtimeProfile);

    // One agent answers in the foreground, the other is launched asynchronously.
    t.toolResult("toolu_a", "Found 3 files", T0 + 10);
    t.toolResult("toolu_b", "Async agent launched successfully.\nagentId: a1b2-c3 (use it to follow up)", T0 + 11);
    state = analyze(t.text());
    EXPECT_TRUE(state.pendingSubagents.empty());
    EXPECT_EQ(state.pendingBackgroundTasks, (std::map<std::string, Date>{{"a1b2-c3", T0 + 11}}));
    EXPECT_TRUE(state.localProcessTaskIDs.empty());
}

TEST_F(TranscriptAnalysis, BackgroundShellsMonitorsStopsAndMessages) {
    Transcript t;
    t.prompt("start the server", T0);
    t.toolUse("msg_1", "toolu_s", "Bash", bashInput("npm run dev", "Start dev server", true), T0 + 1);
    t.toolResult("toolu_s", "Command running in background with ID:   bash_1-x. Output is written to a file.", T0 + 2);
    t.toolUse("msg_2", "toolu_n", "Bash", {{"command", "NOHUP ./worker.sh &"}}, T0 + 3);
    t.toolUse("msg_2", "toolu_d", "Bash", bashInput("nohup make &", "Build in\nbackground", false), T0 + 4);
    t.toolUse("msg_3", "toolu_m", "Monitor", {{"command", "tail -f log"}}, T0 + 5);
    t.toolResult("toolu_m", "Monitor started (task mon_7). You will be notified.", T0 + 6);
    auto state = analyze(t.text());
    EXPECT_EQ(state.pendingBackgroundTasks, (std::map<std::string, Date>{{"bash_1-x", T0 + 2}, {"mon_7", T0 + 6}}));
    EXPECT_EQ(state.localProcessTaskIDs, (std::set<std::string>{"bash_1-x", "mon_7"}));
    EXPECT_EQ(state.backgroundTaskSummary, "Build in"); // latest launch with a description

    t.toolUse("msg_4", "toolu_k", "TaskStop", {{"shell_id", "bash_1-x"}}, T0 + 7);
    t.toolResult("toolu_k", "Successfully stopped task bash_1-x", T0 + 8);
    t.toolUse("msg_5", "toolu_sm", "SendMessage", {{"to", "agent-9"}, {"message", "go on"}}, T0 + 9);
    t.toolResult("toolu_sm", "Message sent; agent resumed in the background, you will be notified", T0 + 10);
    state = analyze(t.text());
    EXPECT_EQ(state.pendingBackgroundTasks, (std::map<std::string, Date>{{"mon_7", T0 + 6}, {"agent-9", T0 + 10}}));
    EXPECT_EQ(state.settledBackgroundTasks, (std::map<std::string, Date>{{"bash_1-x", T0 + 8}}));
}

TEST_F(TranscriptAnalysis, TaskNotificationsSettleUnlessTheyCarryAnEvent) {
    Transcript t;
    t.prompt("go", T0);
    t.toolUse("msg_1", "toolu_1", "Bash", bashInput("a", "A", true), T0 + 1);
    t.toolResult("toolu_1", "running in background with ID: b1", T0 + 1);
    t.toolUse("msg_2", "toolu_2", "Bash", bashInput("b", "B", true), T0 + 2);
    t.toolResult("toolu_2", "running in background with ID: b2", T0 + 2);
    t.toolUse("msg_3", "toolu_3", "Bash", bashInput("c", "C", true), T0 + 3);
    t.toolResult("toolu_3", "running in background with ID: b3", T0 + 3);
    t.assistantText("msg_4", "Waiting.", T0 + 4);
    // Delivered with a task-notification origin: not activity, but settles.
    t.record({{"type", "user"},
              {"origin", {{"kind", "task-notification"}}},
              {"message",
               {{"role", "user"},
                {"content", "<task-notification>\n<task-id>b1</task-id>\n<status>Completed</status>\n"
                            "<task-id> b2 </task-id><status>running</status></task-notification>"}}},
              {"timestamp", iso(T0 + 50)}});
    auto state = analyze(t.text());
    EXPECT_EQ(state.settledBackgroundTasks, (std::map<std::string, Date>{{"b1", T0 + 50}}));
    EXPECT_EQ(state.pendingBackgroundTasks.count("b2"), 1u);
    EXPECT_EQ(state.lastEventAt, T0 + 4);
    EXPECT_TRUE(state.hasOpenTurn); // the notification restarts the assistant

    // Progress events settle nothing; a notification without a status settles.
    t.prompt("<task-notification><task-id>b2</task-id><event>output</event></task-notification>"
             "<task-notification><task-id>b3</task-id></task-notification>",
             T0 + 60);
    state = analyze(t.text());
    EXPECT_EQ(state.pendingBackgroundTasks, (std::map<std::string, Date>{{"b2", T0 + 2}}));
    EXPECT_EQ(state.settledBackgroundTasks.count("b3"), 1u);
}

TEST_F(TranscriptAnalysis, ScheduledWakeups) {
    Transcript t;
    t.prompt("/loop check CI", T0);
    t.toolUse("msg_1", "toolu_w", "ScheduleWakeup", {{"delaySeconds", 300}}, T0 + 1);
    t.userBlocks(json::array({{{"tool_use_id", "toolu_w"},
                               {"type", "tool_result"},
                               {"content", json::array({{{"type", "text"}, {"text", "Wakeup Scheduled for 12:05 (in 300s)"}}})}}}),
                 T0 + 2);
    auto state = analyze(t.text());
    EXPECT_EQ(state.scheduledWakeupAt, T0 + 302);
    t.assistantText("msg_2", "Sleeping.", T0 + 3);
    EXPECT_EQ(analyze(t.text()).scheduledWakeupAt, T0 + 302);
    t.prompt("stop that", T0 + 10);
    EXPECT_FALSE(analyze(t.text()).scheduledWakeupAt);

    // A delay nobody would schedule is not believed.
    Transcript huge;
    huge.userBlocks(json::array({{{"tool_use_id", "x"}, {"type", "tool_result"},
                                  {"content", "wakeup scheduled (in " + std::string(400, '9') + "s)"}}}),
                    T0);
    EXPECT_FALSE(analyze(huge.text()).scheduledWakeupAt);
}

TEST_F(TranscriptAnalysis, ApiErrorsBlockUntilTheNextAssistantRecord) {
    Transcript t;
    t.prompt("hi", T0).assistantText("msg_1", "hello", T0 + 1, "claude-sonnet-4-5");
    t.prompt("more", T0 + 2);
    t.assistantBlock("msg_2", {{"type", "text"}, {"text", "API Error: 529 overloaded"}}, T0 + 3, "<synthetic>",
                     {{"isApiErrorMessage", true}});
    auto state = analyze(t.text());
    EXPECT_TRUE(state.isBlockedByApiError);
    EXPECT_EQ(state.runtimeProfile->model, "claude-sonnet-4-5");
    t.assistantText("msg_3", "retrying worked", T0 + 4, "claude-opus-4-5");
    state = analyze(t.text());
    EXPECT_FALSE(state.isBlockedByApiError);
    EXPECT_EQ(state.runtimeProfile->model, "claude-opus-4-5");
}

TEST_F(TranscriptAnalysis, InlineSidechainsOnlyTouchTheirOwnFields) {
    Transcript t;
    t.prompt("main prompt", T0).assistantText("msg_1", "answer", T0 + 1);
    t.sidechain(true);
    t.prompt("sub task", T0 + 2);
    t.assistantBlock("msg_s", {{"type", "tool_use"}, {"id", "toolu_side"}, {"name", "Grep"}, {"input", json::object()}},
                     T0 + 3, "claude-haiku-4-5", {{"effort", "low"}});
    auto state = analyze(t.text());
    EXPECT_EQ(state.lastConversationRole, "assistant");
    EXPECT_FALSE(state.hasOpenTurn);
    EXPECT_FALSE(state.hasPendingToolUse);
    EXPECT_EQ(state.title, "main prompt");
    EXPECT_TRUE(state.endsWithSidechainActivity);
    EXPECT_TRUE(state.sidechainHasPendingToolUse);
    EXPECT_FALSE(state.sidechainHasOpenTurn);
    EXPECT_EQ(state.lastEventAt, T0 + 3);
    EXPECT_EQ(state.sidechainRuntimeProfile,
              SessionRuntimeProfile("claude-haiku-4-5", "low", SessionRuntimeProfileSource::claudeTranscript));
    EXPECT_EQ(state.runtimeProfile->model, "claude-opus-4-5");
    t.toolResult("toolu_side", "3 matches", T0 + 4);
    state = analyze(t.text());
    EXPECT_FALSE(state.sidechainHasPendingToolUse);
    EXPECT_TRUE(state.sidechainHasOpenTurn);
}

TEST_F(TranscriptAnalysis, IdentityAndTitles) {
    Transcript t("", "");
    t.record({{"type", "summary"}, {"summary", "Old"}, {"leafUuid", "u"}}, false);
    t.record({{"session_id", "snake"}, {"type", "queue-operation"}, {"operation", "enqueue"}}, false);
    t.record({{"type", "ai-title"}, {"aiTitle", "First AI title"}, {"sessionId", "camel"}}, false);
    t.record({{"type", "ai-title"}, {"aiTitle", "Better AI title"}, {"cwd", "/w"}}, false);
    const auto state = analyze(t.text());
    EXPECT_EQ(state.sessionID, "snake");
    EXPECT_EQ(state.cwd, "/w");
    EXPECT_EQ(state.aiTitle, "Better AI title");
    EXPECT_FALSE(state.lastConversationRole);
}

// Accessors on single values.

namespace {

struct Doc {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    explicit Doc(const std::string& text) { root = parser.parse(text).value(); }
    ClaudeTranscriptAnalyzer::Content content() const { return root; }
    simdjson::dom::object object() const { return root.get_object().value(); }
};

using A = ClaudeTranscriptAnalyzer;

} // namespace

TEST(TranscriptAccessors, ContentAndTextKinds) {
    EXPECT_TRUE(A::contentBlocks(Doc(R"([{"type":"text","text":"a"},"b"])").content()).empty());
    EXPECT_FALSE(A::firstText(Doc(R"([{"type":"text","text":"a"},"b"])").content()));
    EXPECT_EQ(A::contentBlocks(Doc(R"({"type":"tool_result"})").content()).size(), 1u);
    EXPECT_EQ(A::joinedText(Doc(R"([{"text":"a"},{"text":""},{"text":"b"}])").content()), "a b");
    EXPECT_EQ(A::userTextKind(Doc(R"("  \n<command-name>/x</command-name>")").content()), A::UserTextKind::commandName);
    EXPECT_EQ(A::userTextKind(Doc(R"("\r<local-command-stdout>x")").content()), A::UserTextKind::plainText);
    EXPECT_EQ(A::userTextKind(Doc(R"([{"text":"<local-command-stderr>e"}])").content()),
              A::UserTextKind::localCommandOutput);
    Doc emptyMessage(R"({"message":{},"content":"outer"})");
    EXPECT_FALSE(A::messageContent(emptyMessage.object()));
    Doc textMessage(R"({"message":"text","content":"outer","type":"user"})");
    EXPECT_EQ(A::firstText(A::messageContent(textMessage.object())), "outer");
    EXPECT_EQ(A::eventRole(textMessage.object()), "user");
}

TEST(TranscriptAccessors, InterruptMarkersAreFoundInNestedContentToABoundedDepth) {
    EXPECT_TRUE(A::containsInterruptMarker(
        Doc(R"([{"type":"tool_result","content":[{"type":"text","text":"[Request interrupted by user for tool use]"}]}])")
            .content()));
    EXPECT_FALSE(A::containsInterruptMarker(Doc(R"(" [Request interrupted by user]")").content()));
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += R"({"content":[)";
    deep += R"("[Request interrupted by user]")";
    for (int i = 0; i < 300; ++i) deep += "]}";
    EXPECT_FALSE(A::containsInterruptMarker(Doc("[" + deep + "]").content()));
}

TEST(TranscriptAccessors, WakeupDelays) {
    auto delay = [](const std::string& text) {
        return A::scheduledWakeupDelay(
            Doc(json::array({{{"type", "tool_result"}, {"content", text}}}).dump()).content());
    };
    EXPECT_EQ(delay("WAKEUP SCHEDULED (in 90s)"), 90);
    EXPECT_EQ(delay("wakeup scheduled (in 1.5 minutes)"), 1);
    EXPECT_FALSE(delay("wakeup scheduled in 90s"));
    EXPECT_FALSE(delay("wakeup scheduled (in ٣ s)"));
    EXPECT_FALSE(delay("reminder (in 90s)"));
}

TEST(TranscriptAccessors, TaskIdsAndLaunches) {
    EXPECT_EQ(A::backgroundTaskID("running in background with ID:   ab_1-Z9. Next"), "ab_1-Z9");
    EXPECT_FALSE(A::backgroundTaskID("running in background with ID: ."));
    EXPECT_EQ(A::monitorTaskID("Monitor started (task m1)"), "m1");
    EXPECT_FALSE(A::monitorTaskID("Monitor started (task  m1)"));
    EXPECT_EQ(A::asyncAgentID("agentId: äg3nt\n"), "äg3nt");
    EXPECT_EQ(A::settledTaskNotificationIDs(Doc(R"([{"type":"tool_result","content":"<task-notification><task-id>t1</task-id><status>killed</status>"},{"text":"<task-id>t2</task-id><status>ERROR</status>"}])").content()),
              (std::vector<std::string>{"t1", "t2"}));
    Doc nohup(R"({"command":"NOHUP ./x &"})");
    EXPECT_FALSE(A::backgroundLaunchDescription(nohup.object()));
    Doc plain(R"({"command":"ls","description":"List"})");
    EXPECT_FALSE(A::backgroundLaunchDescription(plain.object()));
    Doc efforts(R"({"reasoningEffort":"high","effort":"low"})");
    EXPECT_EQ(A::runtimeProfile(efforts.object()),
              SessionRuntimeProfile(std::nullopt, "high", SessionRuntimeProfileSource::claudeTaskRequest));
}
