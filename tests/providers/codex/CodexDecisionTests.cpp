// The verdict on single candidates, and the candidates built from rows, official
// statuses and merges.
#include "providers/codex/CodexStatusProvider.hpp"
#include "tests/providers/codex/CodexFixtures.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::testing;
using Kind = CodexStatusProvider::CandidateDecision::Kind;

namespace {

constexpr Date now = 1'700'000'000.0;

class CodexDecision : public ::testing::Test {
protected:
    CodexStatusProvider::CandidateDecision decide(const CodexCandidate& c,
                                                  const std::vector<ProcessResourceSample>& samples = {}) {
        return provider.decide(c, now, samples, {});
    }

    CodexCandidate withRollout(CodexCandidate c, const std::vector<std::string>& lines, double modifiedAt) {
        c.rolloutPath = fixture.writeRollout(c.id + ".jsonl", lines, modifiedAt);
        return c;
    }

    CodexHomeFixture fixture;
    CodexStatusProvider provider{fixture.config(), noProcesses(), std::make_shared<NoopCodexOfficialStatusProbe>()};
};

SQLiteReader::Row row(std::initializer_list<std::pair<const std::string, std::string>> values) {
    SQLiteReader::Row r(values);
    r.emplace("source", "recent_thread");
    return r;
}

} // namespace

TEST_F(CodexDecision, OfficialStatesComeFirst) {
    auto c = candidate("a", {"official_app_server_active", "closed_spawn_edge"}, std::nullopt);
    auto active = decide(c);
    ASSERT_EQ(active.kind, Kind::active);
    EXPECT_EQ(active.session->evidence, "official Codex app-server status: active");
    EXPECT_EQ(active.session->lastActivityAt, now);
    EXPECT_FALSE(active.session->needsUserAttention);

    auto error = decide(candidate("e", {"official_app_server_system_error"}, now - 5));
    ASSERT_EQ(error.kind, Kind::active);
    EXPECT_EQ(error.session->evidence, "official Codex app-server status: systemError");
    EXPECT_TRUE(error.session->needsUserAttention);

    // A pending question in the rollout makes an officially active thread wait for the user.
    auto asking = withRollout(candidate("q", {"official_app_server_active"}, now - 100),
                              {rollout::functionCall("c", "request_user_input")}, now - 10);
    auto askingDecision = decide(asking);
    EXPECT_TRUE(askingDecision.session->needsUserAttention);
    EXPECT_EQ(askingDecision.session->lastActivityAt, now - 10);

    EXPECT_EQ(decide(candidate("n", {"official_app_server_not_loaded"}, std::nullopt)).kind, Kind::inactive);
    EXPECT_FALSE(decide(candidate("n", {"official_app_server_not_loaded"}, std::nullopt)).completion);
}

TEST_F(CodexDecision, ClosedEdgesAndTailsBeforeOfficialIdle) {
    auto closed = withRollout(candidate("c", {"closed_spawn_edge"}, now - 500), {rollout::functionCall("x")}, now - 5);
    auto closedDecision = decide(closed);
    ASSERT_EQ(closedDecision.kind, Kind::inactive);
    EXPECT_EQ(closedDecision.completion->source, "closed_spawn_edge");
    EXPECT_EQ(closedDecision.completion->observedAt, now - 5); // the later of row and rollout
    // A closed edge does not end a thread the app server reports running or failing.
    for (const char* official : {"official_app_server_active", "official_app_server_system_error"})
        EXPECT_EQ(decide(candidate("c2", {"closed_spawn_edge", official}, now - 5)).kind, Kind::active) << official;

    auto idleBusy = withRollout(candidate("i", {"official_app_server_idle"}, std::nullopt),
                                {rollout::functionCall("x")}, now - 30);
    auto busy = decide(idleBusy);
    ASSERT_EQ(busy.kind, Kind::active);
    EXPECT_EQ(busy.session->evidence, "rollout has pending tool call");

    auto idleNoRollout = decide(candidate("i2", {"official_app_server_idle"}, now - 700));
    ASSERT_EQ(idleNoRollout.kind, Kind::inactive);
    EXPECT_EQ(idleNoRollout.completion->source, "official");
    EXPECT_EQ(idleNoRollout.completion->observedAt, now - 700);
    EXPECT_EQ(idleNoRollout.completion->strength, RunEvidenceStrength::strongComplete);

    // Officially idle with a finished rollout: the official evidence, dated by the row.
    auto idleFinished = withRollout(candidate("i3", {"official_app_server_idle"}, now - 900),
                                    {rollout::turnStarted(), rollout::taskComplete()}, now - 20);
    auto finished = decide(idleFinished);
    EXPECT_EQ(finished.completion->source, "official");
    EXPECT_EQ(finished.completion->observedAt, now - 900);

    auto terminal = withRollout(candidate("t", {"recent_thread"}, now - 900),
                                {rollout::turnStarted(), rollout::taskComplete()}, now - 20);
    auto terminalDecision = decide(terminal);
    EXPECT_EQ(terminalDecision.completion->source, "rollout_terminal");
    EXPECT_EQ(terminalDecision.completion->observedAt, now - 20);

    // A missing rollout file is a quiet tail: no flags and no date.
    auto missing = candidate("m", {"official_app_server_idle"}, std::nullopt);
    missing.rolloutPath = (fixture.dir / "nope.jsonl").string();
    EXPECT_EQ(decide(missing).completion->observedAt, now);
}

TEST_F(CodexDecision, UndatedWorkAndConfiguredWindows) {
    // Unfinished work or an open edge without any date is stale; a quiet undated thread is inactive.
    auto undated = candidate("p3", {"recent_thread"}, std::nullopt);
    undated.rolloutPath = "/nonexistent/rollout.jsonl";
    EXPECT_EQ(decide(undated).kind, Kind::inactive);
    EXPECT_EQ(decide(candidate("e3", {"open_spawn_edge"}, std::nullopt)).kind, Kind::stale);
    // A runtime log older than its window but within the recent window is plain recent activity.
    EXPECT_EQ(decide(candidate("r2", {"runtime_log"}, now - 25)).session->evidence, "recent rollout activity");

    // Windows come from the configuration; the weak lease is capped at 20 s.
    auto config = fixture.config();
    config.recentActivityWindow = 10;
    config.runtimeActivityWindow = 200;
    CodexStatusProvider custom(config, noProcesses(), std::make_shared<NoopCodexOfficialStatusProbe>());
    auto wide = custom.decide(candidate("r4", {"runtime_log"}, now - 150), now, {}, {});
    ASSERT_EQ(wide.kind, Kind::active);
    EXPECT_EQ(wide.session->evidence, "recent Codex runtime log");
    EXPECT_EQ(custom.sessionRunEvidence(*wide.session, now).expiresAt, now - 150 + 20);
    EXPECT_EQ(custom.decide(candidate("r5", {"recent_thread"}, now - 11), now, {}, {}).kind, Kind::inactive);
}

TEST_F(CodexDecision, SessionFields) {
    auto c = candidate("s", {"official_app_server_active"}, now - 1);
    c.title = "First line of the title\nsecond line";
    c.parentTitle = std::string(100, 'p');
    c.parentID = "parent";
    c.cwd = "/work";
    c.runtimeProfile = SessionRuntimeProfile("gpt-5", std::nullopt, SessionRuntimeProfileSource::codexThreadStore);
    auto session = *decide(c).session;
    EXPECT_EQ(session.title, "First line of the title");
    EXPECT_EQ(*session.parentTitle, std::string(80, 'p') + "...");
    EXPECT_EQ(session.parentID, "parent");
    EXPECT_EQ(session.cwd, "/work");
    EXPECT_EQ(session.provider, "Codex");
    EXPECT_EQ(session.runtimeProfile, c.runtimeProfile);
    EXPECT_FALSE(session.resourceUsage);

    std::vector<ProcessResourceSample> samples = {{7, 1, 4.0, 64, "/Applications/Codex.app/Contents/MacOS/Codex", {}}};
    EXPECT_EQ(decide(c, samples).session->resourceUsage, SessionResourceUsage(7, 4.0, 64, 1));
}

TEST(CodexRows, TitlesAndScores) {
    const auto title = [](std::initializer_list<std::pair<const std::string, std::string>> values) {
        auto c = CodexStatusProvider::candidateFromRow(row(values));
        return std::make_pair(c->title, c->titleScore);
    };
    using P = std::pair<std::string, int64_t>;
    EXPECT_EQ(title({{"id", "a"}, {"title", "The following is the Codex agent history: ..."}}),
              P("Codex internal review session", 4));
    EXPECT_EQ(title({{"id", "a"}, {"title", "  Fix parser\nmore"}, {"first_user_message", "Do it"}}),
              P("Fix parser", 4));
    EXPECT_EQ(title({{"id", "a"}, {"title", "Same"}, {"first_user_message", "Same"}, {"preview", "Preview"}}),
              P("Preview", 3));
    EXPECT_EQ(title({{"id", "a"}, {"title", "Same"}, {"first_user_message", "Run W12"}, {"agent_role", "subagent"}}),
              P("Same", 4)); // a presentable title that differs from the first message wins
    EXPECT_EQ(title({{"id", "a"}, {"title", "Run W12 now"}, {"first_user_message", "Run W12 now"},
                     {"agent_role", "subagent"}}),
              P("W12 subagent", 2));
    EXPECT_EQ(title({{"id", "a"}, {"title", "Go"}, {"first_user_message", "Go"}, {"agent_nickname", "Ava"},
                     {"thread_source", "subagent"}}),
              P("Ava subagent", 2));
    EXPECT_EQ(title({{"id", "a"}, {"title", "Go"}, {"first_user_message", "Go"}, {"agent_role", "subagent"}}),
              P("Codex subagent session", 2));
    EXPECT_EQ(title({{"id", "a"}, {"first_user_message", "请完成  fix_parser_bug_now 任务"}}),
              P("fix_parser_bug_now", 2));
    EXPECT_EQ(title({{"id", "a"}, {"title", "x"}, {"first_user_message", "x"}, {"preview", "x"}}), P("x", 1));
    EXPECT_EQ(title({{"id", "a"}, {"title", "x"}, {"first_user_message", "x"}, {"preview", "see TASK_ONE_TWO"}}),
              P("see TASK_ONE_TWO", 3));
    EXPECT_EQ(title({{"id", "a"}, {"first_user_message", "Implement PARSER_FIX_V2 please"}}),
              P("PARSER_FIX_V2", 2));
    EXPECT_EQ(title({{"id", "a"}, {"first_user_message", "two_parts only"}}), P("a", 0));
    const std::string longTitle(161, 't');
    EXPECT_EQ(title({{"id", "a"}, {"title", longTitle}, {"first_user_message", "other"}}), P(longTitle, 1));
    EXPECT_EQ(title({{"id", "a"}, {"title", std::string(160, 't')}}), P(std::string(160, 't'), 4));
    // 160 characters of three bytes each are still presentable.
    std::string wide;
    for (int i = 0; i < 160; ++i) wide += "字";
    EXPECT_EQ(title({{"id", "a"}, {"title", wide}}), P(wide, 4));
    EXPECT_EQ(title({{"id", "a"}, {"title", "你是一个助手"}, {"first_user_message", "q"}}), P("你是一个助手", 1));
}

TEST(CodexRows, FieldsDatesAndSources) {
    auto c = CodexStatusProvider::candidateFromRow(row({{"id", "t"},
                                                        {"parent_id", "p"},
                                                        {"parent_title", "Parent plan"},
                                                        {"parent_first_user_message", "x"},
                                                        {"parent_agent_nickname", "lead"},
                                                        {"cwd", ""},
                                                        {"rollout_path", "/r"},
                                                        {"updated_at", "1700000000"},
                                                        {"updated_at_ms", "0"},
                                                        {"model", "gpt-5"},
                                                        {"reasoning_effort", ""},
                                                        {"parent_model", ""},
                                                        {"parent_reasoning_effort", "low"}}));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->parentID, "p");
    EXPECT_EQ(c->parentTitle, "Parent plan");
    EXPECT_EQ(c->parentAgentNickname, "lead");
    EXPECT_EQ(c->cwd, "");
    EXPECT_EQ(c->rolloutPath, "/r");
    EXPECT_EQ(c->updatedAt, 1700000000.0);
    EXPECT_EQ(c->updatedAtSeconds, 1700000000);
    EXPECT_EQ(c->runtimeProfile, SessionRuntimeProfile("gpt-5", std::nullopt, SessionRuntimeProfileSource::codexThreadStore));
    EXPECT_EQ(c->parentRuntimeProfile->reasoningEffort, "low");
    EXPECT_EQ(c->sources, std::set<std::string>{"recent_thread"});

    auto ms = CodexStatusProvider::candidateFromRow(row({{"id", "t"}, {"updated_at", "17.9"}, {"updated_at_ms", "1700000000250"}}));
    EXPECT_EQ(ms->updatedAt, 1700000000.25);
    EXPECT_EQ(ms->updatedAtSeconds, 17);
    auto huge = CodexStatusProvider::candidateFromRow(row({{"id", "t"}, {"updated_at", "1e30"}}));
    EXPECT_FALSE(huge->updatedAtSeconds);
    EXPECT_FALSE(huge->updatedAt);
    auto negative = CodexStatusProvider::candidateFromRow(row({{"id", "t"}, {"updated_at", "-5"}}));
    EXPECT_EQ(negative->updatedAtSeconds, -5);
    EXPECT_FALSE(negative->updatedAt);
    EXPECT_FALSE(CodexStatusProvider::candidateFromRow(row({{"id", ""}})));
    EXPECT_EQ(CodexStatusProvider::candidateFromRow({{"id", "t"}})->sources, std::set<std::string>{"unknown"});
    EXPECT_EQ(CodexStatusProvider::candidateFromRow({{"id", "t"}, {"source", ""}})->sources, std::set<std::string>{""});
    // The parent title falls back to the parent id.
    EXPECT_EQ(CodexStatusProvider::candidateFromRow(row({{"id", "t"}, {"parent_id", "p9"}}))->parentTitle, "p9");
    EXPECT_FALSE(CodexStatusProvider::candidateFromRow(row({{"id", "t"}}))->parentTitle);
}

TEST(CodexMerging, OfficialCandidatesAndMerge) {
    CodexOfficialThreadStatus idle{"t", CodexOfficialThreadRunState::idle, "  ", "  /w \n", "", now - 5, true, "", "x"};
    auto official = *CodexStatusProvider::officialCandidate(idle, now);
    EXPECT_EQ(official.title, "t");
    EXPECT_EQ(official.titleScore, 0);
    EXPECT_EQ(official.cwd, "/w");
    EXPECT_FALSE(official.rolloutPath);
    EXPECT_FALSE(official.updatedAt); // idle threads carry no date
    EXPECT_TRUE(official.officialNeedsUserAttention);
    EXPECT_EQ(official.sources, std::set<std::string>{"official_app_server_idle"});
    EXPECT_EQ(official.runtimeProfile->reasoningEffort, "x");
    EXPECT_FALSE(official.runtimeProfile->model);

    CodexOfficialThreadStatus active{"t", CodexOfficialThreadRunState::active, "\u3000 Official\u00a0\u2028next",
                                     {}, {}, {}, false, {}, {}};
    auto activeCandidate = *CodexStatusProvider::officialCandidate(active, now);
    EXPECT_EQ(activeCandidate.updatedAt, now);
    EXPECT_EQ(activeCandidate.titleScore, 6);

    auto db1 = *CodexStatusProvider::candidateFromRow(row({{"id", "t"}, {"title", "From db"}, {"first_user_message", "q"},
                                                           {"cwd", "/db"}, {"updated_at", "1699999100"},
                                                           {"parent_id", "p"}}));
    auto db2 = *CodexStatusProvider::candidateFromRow(row({{"id", "t"}, {"title", "Other"}, {"first_user_message", "q"},
                                                           {"updated_at", "1699999200"}}));
    db2.sources = {"runtime_log"};
    const auto merge = [](std::initializer_list<const CodexCandidate*> list) {
        return CodexStatusProvider::mergeCandidates(std::vector<const CodexCandidate*>(list));
    };
    auto merged = merge({&activeCandidate, &db1, &db2, &official});
    ASSERT_EQ(merged.size(), 1u);
    const auto& m = merged[0].get();
    EXPECT_EQ(m.title, "Official");
    EXPECT_EQ(m.titleScore, 6);
    EXPECT_EQ(m.cwd, "/db");
    EXPECT_EQ(m.parentID, "p");
    EXPECT_EQ(m.updatedAt, now); // the latest
    EXPECT_EQ(m.updatedAtSeconds, 1699999200);
    EXPECT_EQ(m.sources, (std::set<std::string>{"official_app_server_active", "official_app_server_idle",
                                                "recent_thread", "runtime_log"}));
    EXPECT_TRUE(m.officialNeedsUserAttention);
    // Equal scores: the earlier title wins unless it is empty.
    EXPECT_EQ(merge({&db1, &db2})[0].get().title, "From db");
    db1.title = "";
    EXPECT_EQ(merge({&db1, &db2})[0].get().title, "Other");
    // A single candidate is not copied; distinct ids keep their first-seen order.
    auto other = db2;
    other.id = "u";
    auto order = merge({&other, &db1, &other});
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0].get().id, "u");
    EXPECT_EQ(&order[1].get(), &db1);
}

TEST(CodexMerging, SessionIndexNames) {
    const auto renamed = [](const std::string& name) { return CodexStatusProvider::sessionIndexTitle(name); };
    EXPECT_EQ(renamed("  My name\nsecond"), "My name");
    EXPECT_EQ(renamed(std::string(160, 'n')), std::string(160, 'n'));
    EXPECT_FALSE(renamed(std::string(161, 'n')));
    // Characters, not bytes: 160 two-byte letters are presentable, 161 are not.
    std::string accented;
    for (int i = 0; i < 160; ++i) accented += "\u00e9";
    EXPECT_EQ(renamed(accented), accented);
    EXPECT_FALSE(renamed(accented + "\u00e9"));
    EXPECT_FALSE(renamed("你是助手"));
    EXPECT_FALSE(renamed(""));
    EXPECT_FALSE(renamed("The following is the Codex agent history"));
}

TEST(CodexMerging, ParentsOrderAndEvidence) {
    CodexHomeFixture fixture;
    CodexStatusProvider provider(fixture.config(), noProcesses(), std::make_shared<NoopCodexOfficialStatusProbe>());
    const auto session = [](std::string id, std::optional<std::string> parent, std::optional<Date> at,
                            std::string evidence, bool needsUser = false) {
        AgentSessionFields f;
        f.id = std::move(id);
        f.provider = "Codex";
        f.parentID = std::move(parent);
        f.parentTitle = "Parent title";
        f.lastActivityAt = at;
        f.evidence = std::move(evidence);
        f.needsUserAttention = needsUser;
        f.cwd = "/c";
        return AgentSession(std::move(f));
    };
    std::vector<AgentSession> sessions = {
        session("a", "P", now - 10, "rollout has open turn"),
        session("b", "P", now - 5, "rollout has pending tool call", true),
        session("c", "Q", now - 1, "recent rollout activity"),
        session("d", "a", now - 2, "rollout has open turn"),
        session("e", std::nullopt, std::nullopt, "official Codex app-server status: active"),
    };
    CodexStatusProvider::RuntimeProfiles profiles{
        {"P", SessionRuntimeProfile("m", std::nullopt, SessionRuntimeProfileSource::codexThreadStore)}};
    auto parents = provider.applyParentChildState(sessions, profiles, now);
    ASSERT_EQ(parents.size(), 1u);
    EXPECT_EQ(parents[0].id, "P");
    EXPECT_EQ(parents[0].lastActivityAt, now - 5);
    EXPECT_TRUE(parents[0].needsUserAttention);
    EXPECT_EQ(parents[0].title, "Parent title");
    EXPECT_EQ(parents[0].runtimeProfile, profiles["P"]);
    EXPECT_FALSE(parents[0].parentID);

    // Children of equal age: the earlier one speaks for the parent.
    auto first = session("x1", "R", now - 7, "rollout has open turn");
    auto second = session("x2", "R", now - 7, "rollout has open turn");
    second.cwd = "/second";
    second.parentAgentNickname = "other";
    auto tie = provider.applyParentChildState({first, second}, {}, now);
    ASSERT_EQ(tie.size(), 1u);
    EXPECT_EQ(tie[0].cwd, "/c");
    EXPECT_FALSE(tie[0].agentNickname);

    for (auto& p : parents) sessions.push_back(p);
    sortSessionsNewestFirst(sessions);
    std::vector<std::string> order;
    for (const auto& s : sessions) order.push_back(s.id);
    EXPECT_EQ(order, (std::vector<std::string>{"c", "d", "b", "P", "a", "e"}));

    auto evidence = provider.runEvidence(sessions, {"Codex spawn edges: boom"}, now);
    ASSERT_EQ(evidence.size(), 7u);
    EXPECT_EQ(evidence[0].source, "recent_thread");
    EXPECT_EQ(evidence[0].expiresAt, now - 1 + 20);
    EXPECT_EQ(evidence[2].source, "rollout");
    EXPECT_EQ(evidence[5].source, "official");
    EXPECT_EQ(evidence[5].observedAt, now); // no date: observed now
    EXPECT_EQ(evidence[6].reason, "Codex spawn edges: boom");
    EXPECT_EQ(evidence[6].strength, RunEvidenceStrength::healthOnly);
    EXPECT_FALSE(evidence[6].session);
}
