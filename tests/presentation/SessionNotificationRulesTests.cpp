// Which notifications a run of committed snapshots calls for.
#include "presentation/SessionNotificationRules.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brindleaf;
using Rules = SessionNotificationRules;

namespace {

// A shown session: 'w' waiting, 'r' working; its last activity `idle` seconds
// before the refresh.
AgentSession session(const std::string& id, char state, double idle = 1, const std::string& agent = "Claude Code") {
    return AgentSession({.id = id,
                         .provider = agent,
                         .title = "title " + id,
                         .cwd = "/home/u/" + id + "/",
                         .lastActivityAt = 1000.0 - idle,
                         .evidence = state == 'w' ? "Claude Code waits for a permission prompt" : "Claude is working",
                         .needsUserAttention = state == 'w'});
}

// One refresh, written as "a:w b:r" (sessions and their states); `d` marks
// a session whose last activity lies 40 s back, `!` an agent that read nothing.
struct Refresh {
    std::vector<AgentSession> sessions;
    std::set<std::string> unread;
};

Refresh parse(const std::string& text) {
    Refresh refresh;
    std::size_t at = 0;
    while (at < text.size()) {
        auto end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(at, end - at);
        at = end + 1;
        if (item.empty()) continue;
        if (item == "!") {
            refresh.unread.insert("Claude Code");
            continue;
        }
        const auto colon = item.find(':');
        const char state = item[colon + 1];
        const bool old = item.size() > colon + 2 && item[colon + 2] == 'd';
        refresh.sessions.push_back(session(item.substr(0, colon), state, old ? 40 : 1));
    }
    return refresh;
}

// What a plan says, in short: "+[a,b] -1" shows a notice for a and b, closes handle 1;
// "finished[a]" a finished notice; "^3" marks a notice replacing handle 3.
std::string describe(const Rules::Plan& plan) {
    std::string out;
    for (const auto& notice : plan.show) {
        if (!out.empty()) out += ' ';
        out += notice.kind == Rules::Kind::finished ? "finished[" : "+[";
        for (std::size_t i = 0; i < notice.sessions.size(); ++i) {
            if (i) out += ',';
            out += notice.sessions[i].id;
        }
        out += "]#";
        out += std::to_string(notice.handle);
        if (notice.replaces) {
            out += '^';
            out += std::to_string(*notice.replaces);
        }
    }
    for (auto handle : plan.close) {
        out += out.empty() ? "-" : " -";
        out += std::to_string(handle);
    }
    return out;
}

// Runs the refreshes one by one, one second apart; the plans of each, "|"-joined.
std::string run(const std::vector<std::string>& refreshes, Rules::Options options = {},
                const std::set<std::string>& inView = {}) {
    Rules rules;
    std::string out;
    double now = 1000;
    for (std::size_t i = 0; i < refreshes.size(); ++i) {
        const auto refresh = parse(refreshes[i]);
        auto sessions = refresh.sessions;
        for (auto& s : sessions)
            if (s.lastActivityAt) *s.lastActivityAt += now - 1000;
        const auto plan = rules.step(sessions, refresh.unread, now, options,
                                     [&](const AgentSession& s) { return inView.contains(s.id); });
        if (i) out += '|';
        out += describe(plan);
        now += 1;
    }
    return out;
}

} // namespace

TEST(SessionNotificationRulesTests, TransitionsCallForTheirNotices) {
    struct Case {
        const char* what;
        std::vector<std::string> refreshes;
        std::string plans;
    };
    const std::vector<Case> cases = {
        {"waits at start are the baseline", {"a:w b:w", "a:w b:w", "a:w b:w"}, "||"},
        {"a session turning waiting", {"a:r", "a:w"}, "|+[a]#1"},
        {"a session appearing waiting", {"", "a:w"}, "|+[a]#1"},
        {"a long wait is one",
         {"", "a:w", "a:w", "a:w", "a:w", "a:w", "a:w", "a:w", "a:w", "a:w", "a:w", "a:w"},
         "|+[a]#1||||||||||"},
        {"one refresh of working inside a wait", {"", "a:w", "a:r", "a:w", "a:w"}, "|+[a]#1|||"},
        {"the wait answered closes it", {"", "a:w", "a:r", "a:r"}, "|+[a]#1||-1"},
        {"the session gone closes it", {"", "a:w", ""}, "|+[a]#1|-1"},
        {"a wait at start answered closes nothing", {"a:w", "a:r", "a:r", ""}, "|||"},
        {"two waits in one refresh share one", {"", "a:w b:w", "a:w b:w"}, "|+[a,b]#1|"},
        {"a shared notice closes with its last wait",
         {"", "a:w b:w", "a:r b:w", "a:r b:w", "a:r b:r", "a:r b:r"},
         "|+[a,b]#1||||-1"},
        {"the next wait replaces the last", {"", "a:w", "a:r", "a:r", "a:w"}, "|+[a]#1||-1|+[a]#2^1"},
        {"a wait of another session is its own", {"", "a:w", "a:w b:w"}, "|+[a]#1|+[b]#2"},
        {"a new wait in a group still open for others is not replaced",
         {"", "a:w b:w", "a:r b:w", "a:r b:w", "a:w b:w"},
         "|+[a,b]#1|||+[a]#2"},
        {"a run of 30 s finishes", {"", "a:rd", ""}, "||finished[a]#1"},
        {"a short run does not", {"", "a:r", "a:r", ""}, "|||"},
        {"a run at start finishes too", {"a:rd", ""}, "|finished[a]#1"},
        {"the finish replaces the wait's notice", {"", "a:w", "a:rd", "a:rd", ""}, "|+[a]#1||-1|"},
        {"an agent that read nothing keeps its sessions", {"", "a:w", "!", "a:w"}, "|+[a]#1||"},
        {"its run is no finish", {"", "a:rd", "!", "a:rd"}, "|||"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.refreshes), c.plans) << c.what;
}

TEST(SessionNotificationRulesTests, TheRunAfterAnAnsweredWaitCountsFromTheAnswer) {
    Rules rules;
    const Rules::Options options;
    auto at = [](double now, char state) {
        auto s = session("a", state);
        s.lastActivityAt = now - 40;
        return std::vector<AgentSession>{s};
    };
    rules.step({}, {}, 1000, options, {});
    EXPECT_EQ(describe(rules.step(at(1001, 'w'), {}, 1001, options, {})), "+[a]#1");
    EXPECT_EQ(describe(rules.step(at(1002, 'r'), {}, 1002, options, {})), "");
    EXPECT_EQ(describe(rules.step(at(1003, 'r'), {}, 1003, options, {})), "-1");
    // 29 s after the answer: no finish.
    EXPECT_EQ(describe(rules.step({}, {}, 1031, options, {})), "");

    EXPECT_EQ(describe(rules.step(at(1040, 'w'), {}, 1040, options, {})), "+[a]#2^1");
    rules.step(at(1041, 'r'), {}, 1041, options, {});
    rules.step(at(1042, 'r'), {}, 1042, options, {});
    const auto plan = rules.step({}, {}, 1071, options, {});
    ASSERT_EQ(plan.show.size(), 1u);
    EXPECT_EQ(describe(plan), "finished[a]#3^2");
    EXPECT_EQ(plan.show[0].summary, "Claude Code finished");
    EXPECT_EQ(plan.show[0].body, "title a");
}

TEST(SessionNotificationRulesTests, SwitchesAndTheUsersLookSilenceAWaitForGood) {
    Rules::Options quiet;
    quiet.whenWaiting = false;
    EXPECT_EQ(run({"", "a:w", "a:w", "a:r", "a:r"}, quiet), "||||");
    quiet = {};
    quiet.whenFinished = false;
    EXPECT_EQ(run({"", "a:rd", "", "a:w"}, quiet), "|||+[a]#1");
    // Looked at when it began: the wait is taken as seen, also when the user looks away.
    EXPECT_EQ(run({"", "a:w", "a:w", "a:w b:w"}, {}, {"a"}), "|||+[b]#1");
    EXPECT_EQ(run({"", "a:w b:w"}, {}, {"a"}), "|+[b]#1");
    EXPECT_EQ(run({"", "a:rd b:rd", ""}, {}, {"a"}), "||finished[b]#1");
}

TEST(SessionNotificationRulesTests, Wording) {
    Rules rules;
    rules.step({}, {}, 1000, {}, {});
    auto single = rules.step({session("a", 'w')}, {}, 1001, {}, {});
    ASSERT_EQ(single.show.size(), 1u);
    EXPECT_EQ(single.show[0].summary, "Claude Code needs you");
    EXPECT_EQ(single.show[0].body, "title a\na · Claude Code waits for a permission prompt");
    EXPECT_FALSE(single.show[0].isGrouped());

    auto group = rules.step({session("a", 'w'), session("b", 'w', 1, "Codex"), session("c", 'w', 1, "Hermes")}, {},
                            1002, {}, {});
    ASSERT_EQ(group.show.size(), 1u);
    EXPECT_EQ(group.show[0].summary, "2 sessions need you");
    EXPECT_EQ(group.show[0].body, "title b\ntitle c");
    EXPECT_TRUE(group.show[0].isGrouped());

    EXPECT_EQ(Rules::groupSummary(3), "3 sessions need you");
    EXPECT_EQ(Rules::needsYouSummary("Codex"), "Codex needs you");
    EXPECT_EQ(Rules::finishedSummary("Hermes"), "Hermes finished");
    EXPECT_EQ(Rules::needsYouBody(AgentSession({.provider = "Codex", .cwd = "/"})), "/");
    EXPECT_EQ(Rules::needsYouBody(AgentSession({.provider = "Codex", .evidence = "Codex waits"})), "Codex waits");
    EXPECT_EQ(Rules::finishedBody(AgentSession({.provider = "Codex", .cwd = "/srv/app"})), "app");
    EXPECT_EQ(Rules::finishedBody(AgentSession({.provider = "Codex"})), "Codex");
}
