// Repeated scans by one provider while Codex's files change between them: what
// a scan remembers from the previous one must never hide a change.
#include "providers/codex/CodexStatusProvider.hpp"
#include "tests/providers/codex/CodexFixtures.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

constexpr Date now = 1'700'000'000.0;
constexpr int64_t nowSeconds = 1'700'000'000;

const AgentSession* sessionFor(const ProviderSnapshot& snapshot, const std::string& id) {
    for (const auto& session : snapshot.activeSessions)
        if (session.id == id) return &session;
    return nullptr;
}

const RunEvidence* evidenceFor(const ProviderSnapshot& snapshot, const std::string& sessionID) {
    for (const auto& item : snapshot.runEvidence)
        if (item.sessionID == sessionID) return &item;
    return nullptr;
}

class CodexRescan : public ::testing::Test {
protected:
    void SetUp() override {
        fixture.createStateDatabase();
        fixture.createLogDatabase();
    }

    CodexStatusProvider makeProvider() { return CodexStatusProvider(fixture.config(), noProcesses(), probe); }

    CodexHomeFixture fixture;
    std::shared_ptr<FakeOfficialProbe> probe = std::make_shared<FakeOfficialProbe>();
};

} // namespace

TEST_F(CodexRescan, SessionIndexNamesFollowTheFile) {
    fixture.addThread({.id = "t", .title = "Stored title", .updatedAt = nowSeconds - 5});
    fixture.addThread({.id = "u", .title = "Other thread", .updatedAt = nowSeconds - 6});
    auto provider = makeProvider();
    const auto titleOf = [&](const std::string& id) {
        const auto snapshot = provider.snapshot(now);
        const AgentSession* session = sessionFor(snapshot, id);
        return session ? session->title : std::string("<none>");
    };
    const auto writeIndex = [&](const std::string& text, double modifiedAt) {
        const auto path = fixture.dir.write("session_index.jsonl", text);
        setFileTime(path, modifiedAt);
    };

    EXPECT_EQ(titleOf("t"), "Stored title");
    writeIndex("{\"id\":\"t\",\"thread_name\":\"First name\"}\n", now - 100);
    EXPECT_EQ(titleOf("t"), "First name");
    EXPECT_EQ(titleOf("u"), "Other thread");

    writeIndex("{\"id\":\"t\",\"thread_name\":\"Second name\"}\n{\"id\":\"u\",\"thread_name\":\"Named too\"}\n",
               now - 90);
    EXPECT_EQ(titleOf("t"), "Second name");
    EXPECT_EQ(titleOf("u"), "Named too");

    // A name that is no title leaves the stored one; so does a missing index.
    writeIndex("{\"id\":\"t\",\"thread_name\":\"你是 a helper\"}\n", now - 80);
    EXPECT_EQ(titleOf("t"), "Stored title");
    EXPECT_EQ(titleOf("u"), "Other thread");
    writeIndex("{\"id\":\"t\",\"thread_name\":\"Back again\"}\n", now - 70);
    EXPECT_EQ(titleOf("t"), "Back again");
    std::filesystem::remove(fixture.dir / "session_index.jsonl");
    EXPECT_EQ(titleOf("t"), "Stored title");
}

TEST_F(CodexRescan, RolloutTailsFollowTheFile) {
    const std::string path = (fixture.dir / "sessions/t.jsonl").string();
    fixture.addThread({.id = "t", .title = "Tool run", .rolloutPath = path, .updatedAt = nowSeconds - 4000});
    auto provider = makeProvider();

    // No rollout yet: the thread is too old to show.
    auto missing = provider.snapshot(now);
    EXPECT_FALSE(sessionFor(missing, "t"));
    EXPECT_FALSE(evidenceFor(missing, "t"));

    fixture.writeRollout("t.jsonl", {rollout::turnStarted(), rollout::functionCall("c1")}, now - 5);
    auto pending = provider.snapshot(now);
    const AgentSession* running = sessionFor(pending, "t");
    ASSERT_TRUE(running);
    EXPECT_EQ(running->evidence, "rollout has pending tool call");
    EXPECT_EQ(running->lastActivityAt, now - 5);

    fixture.writeRollout("t.jsonl", {rollout::turnStarted(), rollout::taskComplete()}, now - 3);
    auto finished = provider.snapshot(now);
    EXPECT_FALSE(sessionFor(finished, "t"));
    const RunEvidence* completion = evidenceFor(finished, "t");
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->source, "rollout_terminal");
    EXPECT_EQ(completion->observedAt, now - 3);

    // Only the date moves: the same tail, a later completion.
    setFileTime(path, now - 2);
    auto redated = provider.snapshot(now);
    completion = evidenceFor(redated, "t");
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->observedAt, now - 2);

    std::filesystem::remove(path);
    auto gone = provider.snapshot(now);
    EXPECT_FALSE(sessionFor(gone, "t"));
    EXPECT_FALSE(evidenceFor(gone, "t"));
}

TEST_F(CodexRescan, ClosedEdgeCompletionFollowsTheRolloutDate) {
    const std::string path =
        fixture.writeRollout("child.jsonl", {rollout::turnStarted(), rollout::functionCall("c1")}, now - 100);
    fixture.addThread({.id = "parent", .title = "Parent", .updatedAt = nowSeconds - 100000});
    fixture.addThread({.id = "child", .rolloutPath = path, .updatedAt = nowSeconds - 600});
    fixture.addEdge("parent", "child", "closed");
    auto provider = makeProvider();

    const auto observedAt = [&]() -> std::optional<Date> {
        const auto snapshot = provider.snapshot(now);
        EXPECT_FALSE(sessionFor(snapshot, "child"));
        const RunEvidence* evidence = evidenceFor(snapshot, "child");
        if (!evidence) return std::nullopt;
        EXPECT_EQ(evidence->source, "closed_spawn_edge");
        return evidence->observedAt;
    };
    EXPECT_EQ(observedAt(), now - 100);
    setFileTime(path, now - 40);
    EXPECT_EQ(observedAt(), now - 40);
    std::filesystem::remove(path);
    EXPECT_EQ(observedAt(), now - 600);
}

TEST_F(CodexRescan, DatabaseRowsAddedBetweenScansAreSeen) {
    fixture.addThread({.id = "old", .title = "Old thread", .updatedAt = nowSeconds - 5000});
    auto provider = makeProvider();
    auto first = provider.snapshot(now);
    EXPECT_TRUE(first.activeSessions.empty());

    // A new recent thread in the state database.
    fixture.addThread({.id = "new", .title = "New thread", .updatedAt = nowSeconds - 5});
    auto second = provider.snapshot(now);
    ASSERT_TRUE(sessionFor(second, "new"));
    EXPECT_EQ(sessionFor(second, "new")->evidence, "recent rollout activity");
    EXPECT_FALSE(sessionFor(second, "old"));

    // A runtime-log row for the old thread, with the state database unchanged.
    fixture.addLog("old", nowSeconds - 10, "session_task.turn");
    auto third = provider.snapshot(now);
    const AgentSession* old = sessionFor(third, "old");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->evidence, "recent Codex runtime log");
    EXPECT_EQ(old->lastActivityAt, now - 10);
    EXPECT_EQ(old->title, "Old thread");

    // A later row moves the thread's activity on.
    fixture.addLog("old", nowSeconds - 2, "session_task.turn");
    auto fourth = provider.snapshot(now);
    old = sessionFor(fourth, "old");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->lastActivityAt, now - 2);
}
