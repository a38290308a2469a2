#include "providers/codex/CodexAppServerStatusParser.hpp"
#include "providers/codex/CodexAppServerStatusProbe.hpp"
#include "tests/support/TestHttpServer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

using namespace brindleaf;
using brindleaf::testing::TestHttpServer;

namespace {

using Probe = CodexAppServerStatusProbe;

std::vector<CodexOfficialThreadStatus> fetchFrom(const std::string& body, int status = 200) {
    TestHttpServer server({status, body});
    Probe probe(server.url("/status"), 0.8);
    return probe.fetchSnapshot(1000);
}

std::vector<CodexOfficialThreadStatus> parse(const std::string& body) {
    return CodexAppServerStatusParser::parseSnapshot(body, 1000);
}

std::vector<std::string> ids(const std::vector<CodexOfficialThreadStatus>& statuses) {
    std::vector<std::string> out;
    for (const auto& status : statuses) out.push_back(status.id);
    return out;
}

} // namespace

TEST(CodexAppServerEndpoint, EnvironmentChoosesTheEndpoint) {
    auto both = Probe::fromEnvironment(
        {{"CODEX_APP_SERVER_STATUS_URL", "http://127.0.0.1:1/a/b?x=1"}, {"CODEX_APP_SERVER_URL", "http://h:2"}});
    ASSERT_TRUE(both);
    EXPECT_EQ(both->statusURL(), "http://127.0.0.1:1/a/b?x=1");
    EXPECT_DOUBLE_EQ(both->timeout(), 0.8);

    auto second = Probe::fromEnvironment({{"CODEX_APP_SERVER_URL", "http://localhost:4500"}});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->statusURL(), "http://localhost:4500/status");

    auto slash = Probe::fromEnvironment({{"CODEX_APP_SERVER_URL", "http://localhost:4500/?q=2"}});
    ASSERT_TRUE(slash);
    EXPECT_EQ(slash->statusURL(), "http://localhost:4500/status?q=2");

    // A present but unusable first variable is never replaced by the second.
    EXPECT_FALSE(Probe::fromEnvironment(
        {{"CODEX_APP_SERVER_STATUS_URL", "::not a url::"}, {"CODEX_APP_SERVER_URL", "http://localhost:4500"}}));
    EXPECT_FALSE(Probe::fromEnvironment({}));
    EXPECT_FALSE(Probe::fromEnvironment({{"HOME", "/home/x"}}));
}

TEST(CodexAppServerEndpoint, TimeoutIsClamped) {
    EXPECT_DOUBLE_EQ(Probe("http://127.0.0.1:1/status", 0.1).timeout(), 0.5);
    EXPECT_DOUBLE_EQ(Probe("http://127.0.0.1:1/status", 2.0).timeout(), 0.8);
    EXPECT_DOUBLE_EQ(Probe("http://127.0.0.1:1/status", 0.6).timeout(), 0.6);
    EXPECT_DOUBLE_EQ(Probe("http://127.0.0.1:1/status", std::nan("")).timeout(), 0.5);
}

TEST(CodexAppServerProbe, ReadsThreadsFromTheServerWithOneGet) {
    TestHttpServer server({200,
                                R"({"threads":[
        {"id":"t-active","status":"active","title":"  Fix the build \n second","cwd":"/w","rolloutPath":"/r.jsonl",
         "lastActivityAt":1700000000,"model":"gpt-5","reasoningEffort":"high"},
        {"threadId":"t-idle","status":"idle","threadName":"Idle one","workingDirectory":"/w2","rollout_path":"/r2"},
        {"conversationId":"t-err","status":"system_error","name":"Broken"},
        {"id":"t-nl","status":"not_loaded","worktreePath":"/w3","logPath":"/l3","modelName":"m","reasoning_effort":"low"}
    ]})"});
    Probe probe(server.url("/status?verbose=1"), 0.8);
    auto statuses = probe.fetchSnapshot(1000);
    ASSERT_EQ(ids(statuses), (std::vector<std::string>{"t-active", "t-idle", "t-err", "t-nl"}));
    EXPECT_EQ(server.requestLines(), (std::vector<std::string>{"GET /status?verbose=1 HTTP/1.1"}));

    const auto& active = statuses[0];
    EXPECT_EQ(active.state, CodexOfficialThreadRunState::active);
    EXPECT_EQ(active.title, "Fix the build \n second"); // trimmed at both ends only
    EXPECT_EQ(active.cwd, "/w");
    EXPECT_EQ(active.rolloutPath, "/r.jsonl");
    EXPECT_EQ(active.lastActivityAt, 1700000000.0);
    EXPECT_EQ(active.model, "gpt-5");
    EXPECT_EQ(active.reasoningEffort, "high");
    EXPECT_FALSE(active.needsUserAttention);

    EXPECT_EQ(statuses[1].state, CodexOfficialThreadRunState::idle);
    EXPECT_EQ(statuses[1].title, "Idle one");
    EXPECT_EQ(statuses[1].cwd, "/w2");
    EXPECT_EQ(statuses[1].rolloutPath, "/r2");
    EXPECT_EQ(statuses[2].state, CodexOfficialThreadRunState::systemError);
    EXPECT_TRUE(statuses[2].needsUserAttention); // an error needs the user without any flag
    EXPECT_EQ(statuses[3].state, CodexOfficialThreadRunState::notLoaded);
    EXPECT_EQ(statuses[3].cwd, "/w3");
    EXPECT_EQ(statuses[3].rolloutPath, "/l3");
    EXPECT_EQ(statuses[3].model, "m");
    EXPECT_EQ(statuses[3].reasoningEffort, "low");
}

TEST(CodexAppServerProbe, FailuresAreTypedAndBounded) {
    try {
        fetchFrom("{}", 404);
        FAIL() << "404 must throw";
    } catch (const Probe::ProbeError& error) {
        EXPECT_EQ(error.kind(), Probe::ProbeError::Kind::httpStatus);
        EXPECT_EQ(error.statusCode(), 404);
    }
    EXPECT_THROW(fetchFrom("{\"threads\": ["), CodexAppServerStatusParser::ParseError);
    EXPECT_THROW(fetchFrom(""), CodexAppServerStatusParser::ParseError);
    EXPECT_THROW(fetchFrom("\"just text\""), CodexAppServerStatusParser::ParseError);
    EXPECT_TRUE(fetchFrom("{\"nothing\": 1}").empty());

    Probe refused("http://127.0.0.1:" + std::to_string(brindleaf::testing::closedLoopbackPort()) + "/status", 0.5);
    EXPECT_THROW(refused.fetchSnapshot(0), Probe::TransportError);
}

TEST(CodexAppServerProbe, SilentServerTimesOutWithinTheLimit) {
    TestHttpServer silent({200, "{}"}, /*neverAnswer=*/true);
    Probe probe(silent.url("/status"), 0.5);
    const auto start = std::chrono::steady_clock::now();
    try {
        probe.fetchSnapshot(0);
        FAIL() << "a silent server must time out";
    } catch (const Probe::ProbeError& error) {
        EXPECT_EQ(error.kind(), Probe::ProbeError::Kind::timedOut);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The server never answers: only the 0.5 s limit ends the wait. The bound
    // leaves room for any stall of a loaded machine.
    EXPECT_LT(elapsed, 5.0);
}

TEST(CodexAppServerProbe, OversizedAnswerIsCutOff) {
    std::string body = "[" + std::string(Probe::maxBodyBytes, ' ') + "]";
    EXPECT_THROW(fetchFrom(body), Probe::TransportError);
}

TEST(CodexAppServerParser, FindsThreadObjectsAnywhere) {
    const std::string thread = R"({"id":"a","status":"active"})";
    EXPECT_EQ(ids(parse("{\"threads\":[" + thread + "]}")), std::vector<std::string>{"a"});
    EXPECT_EQ(ids(parse("[" + thread + "]")), std::vector<std::string>{"a"});
    EXPECT_EQ(ids(parse("{\"data\":{\"items\":[" + thread + "]}}")), std::vector<std::string>{"a"});
    EXPECT_EQ(ids(parse("{\"threadStatuses\":[" + thread + "],\"thread\":{\"id\":\"b\",\"status\":\"idle\"}}")),
              (std::vector<std::string>{"a", "b"}));
    // The same thread under two keys is returned twice.
    EXPECT_EQ(ids(parse("{\"threads\":[" + thread + "],\"items\":[" + thread + "]}")),
              (std::vector<std::string>{"a", "a"}));
    // A top-level thread object is the only one, even with "threads" inside.
    EXPECT_EQ(ids(parse(R"({"id":"top","status":"idle","threads":[{"id":"x","status":"idle"}]})")),
              std::vector<std::string>{"top"});
    EXPECT_TRUE(parse(R"({"id":"top","status":"weird","threads":[{"id":"x","status":"idle"}]})").empty());
    // Other keys are not searched.
    EXPECT_TRUE(parse("{\"result\":[" + thread + "]}").empty());
}

TEST(CodexAppServerParser, StatusTextsAndIds) {
    auto statuses = parse(R"([
        {"id":"1","status":"Active"},
        {"id":"2","status":{"type":"active"}},
        {"id":42,"status":"notLoaded"},
        {"id":"   ","threadId":"fallback","status":"systemError"},
        {"id":"3","status":"  idle  "},
        {"status":"idle"},
        {"id":null,"conversationId":"conv","status":"idle"},
        {"id":true,"status":"idle"}
    ])");
    ASSERT_EQ(ids(statuses), (std::vector<std::string>{"42", "fallback", "3", "conv", "1"}));
    EXPECT_EQ(statuses[0].state, CodexOfficialThreadRunState::notLoaded);
    EXPECT_EQ(statuses[1].state, CodexOfficialThreadRunState::systemError);
    EXPECT_EQ(statuses[2].state, CodexOfficialThreadRunState::idle);
}

TEST(CodexAppServerParser, ActivityDates) {
    const auto dateOf = [](const std::string& fields) {
        auto statuses = parse("[{\"id\":\"a\",\"status\":\"idle\"," + fields + "}]");
        return statuses.at(0).lastActivityAt;
    };
    EXPECT_EQ(dateOf(R"("lastActivityAt":1700000000)"), 1700000000.0);
    EXPECT_EQ(dateOf(R"("lastActivityAt":1700000000000)"), 1700000000.0);
    EXPECT_EQ(dateOf(R"("last_activity_at":"1700000000")"), 1700000000.0);
    EXPECT_EQ(dateOf(R"("updated_at":"1700000000500")"), 1700000000.5);
    EXPECT_EQ(dateOf(R"("updatedAt":10000000000)"), 10000000000.0); // exactly 1e10 is still seconds
    EXPECT_EQ(dateOf(R"("recencyAt":"2023-11-14T22:13:20Z")"), 1700000000.0);
    EXPECT_EQ(dateOf(R"("recency_at":"2023-11-14T22:13:20.250Z")"), 1700000000.25);
    // The first present key decides, even when it does not parse.
    EXPECT_EQ(dateOf(R"("lastActivityAt":null,"updatedAt":1700000000)"), std::nullopt);
    EXPECT_EQ(dateOf(R"("lastActivityAt":"yesterday")"), std::nullopt);
    // Implausible numbers and flags are no dates.
    EXPECT_EQ(dateOf(R"("lastActivityAt":1e300)"), std::nullopt);
    EXPECT_EQ(dateOf(R"("lastActivityAt":true)"), std::nullopt);
    EXPECT_EQ(dateOf(R"("lastActivityAt":"1e400")"), std::nullopt);
}

TEST(CodexAppServerParser, AttentionFlags) {
    const auto attention = [](const std::string& fields) {
        return parse("[{\"id\":\"a\",\"status\":\"active\"," + fields + "}]").at(0).needsUserAttention;
    };
    EXPECT_TRUE(attention(R"("activeFlags":["waitingOnApproval"])"));
    EXPECT_TRUE(attention(R"("active_flags":{"waitingOnUserInput":true})"));
    EXPECT_TRUE(attention(R"("activeFlags":{"waitingOnApproval":1})"));
    EXPECT_FALSE(attention(R"("activeFlags":{"waitingOnUserInput":false})"));
    EXPECT_FALSE(attention(R"("activeFlags":"waitingOnApproval")"));
    // All-text arrays compare exactly; mixed arrays trim their texts.
    EXPECT_FALSE(attention(R"("activeFlags":[" waitingOnApproval"])"));
    EXPECT_TRUE(attention(R"("activeFlags":[1," waitingOnApproval "])"));
    // The first present key decides.
    EXPECT_FALSE(attention(R"("activeFlags":[],"active_flags":["waitingOnApproval"])"));
}

TEST(CodexAppServerParser, DeepNestingIsNotFollowedWithoutBound) {
    const auto nested = [](int levels) {
        std::string body;
        for (int i = 0; i < levels; ++i) body += "{\"data\":";
        body += R"({"id":"deep","status":"active"})";
        for (int i = 0; i < levels; ++i) body += "}";
        return body;
    };
    EXPECT_EQ(ids(parse(nested(10))), std::vector<std::string>{"deep"});
    EXPECT_TRUE(parse(nested(CodexAppServerStatusParser::maxSearchDepth + 5)).empty());
    // Far deeper than any answer: still no crash, just an error or nothing.
    try {
        EXPECT_TRUE(parse(nested(5000)).empty());
    } catch (const CodexAppServerStatusParser::ParseError&) {
    }
}
