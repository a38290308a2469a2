#include "services/StaleSessionBaselines.hpp"
#include "sync/StatusPayloadBuilder.hpp"
#include "sync/SyncSignature.hpp"
#include "tests/sync/PayloadFixtures.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unistd.h>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

const StatusPayloadPrivacy standardPrivacy = StatusPayloadPrivacy::standard();

StatusPayload build(const AgentStatusSnapshot& snapshot, StatusPayloadPrivacy privacy = standardPrivacy) {
    return buildStatusPayload(snapshot, "Desk", privacy, rawStaleSessionSource());
}

std::vector<AgentSession> sessions(int count) {
    std::vector<AgentSession> out;
    for (int i = 0; i < count; ++i) {
        std::string id = "s";
        id.append(std::to_string(i));
        out.push_back(runningSession(id));
    }
    return out;
}

} // namespace

TEST(StatusPayloadBuilder, TopLevelAndProviderRecords) {
    auto codex = providerOf("Codex", sessions(2), 3, {"database is locked"});
    auto hermes = ProviderSnapshot::make("Hermes", AgentRunState::unknown, std::nullopt, {}, 1, referenceDate - 5, {});
    auto snapshot = AgentStatusSnapshot::make({codex, hermes}, referenceDate, AgentRunState::unknown);
    auto payload = build(snapshot);
    EXPECT_EQ(payload.schemaVersion, 1);
    EXPECT_EQ(payload.deviceID, "Desk");
    EXPECT_EQ(payload.checkedAt, referenceDate);
    EXPECT_EQ(payload.state, StatusPayloadState::complete); // never unknown at the top
    EXPECT_EQ(payload.activeCount, 2);
    EXPECT_EQ(payload.staleCount, 4);
    ASSERT_EQ(payload.providers.size(), 2u);
    EXPECT_EQ(payload.providers[0].providerID, "codex");
    EXPECT_EQ(payload.providers[0].state, StatusPayloadState::inProgress);
    EXPECT_EQ(payload.providers[0].activeCount, 2);
    EXPECT_EQ(payload.providers[0].errorCount, 1);
    EXPECT_EQ(payload.providers[0].errors, std::vector<std::string>{"database is locked"});
    EXPECT_EQ(payload.providers[1].state, StatusPayloadState::unknown);
    EXPECT_EQ(payload.providers[1].checkedAt, referenceDate - 5);
    EXPECT_EQ(payload.providers[1].ignoredStaleSessions, 1);
}

TEST(StatusPayloadBuilder, StaleSourceDecidesEveryStaleCount) {
    auto snapshot = snapshotOf({providerOf("Codex", {}, 5), providerOf("Claude Code", {}, 1)});
    int calls = 0;
    auto payload = buildStatusPayload(snapshot, "Desk", standardPrivacy, [&](const ProviderSnapshot& p) {
        ++calls;
        return p.ignoredStaleSessions > 2 ? p.ignoredStaleSessions - 3 : 0;
    });
    EXPECT_EQ(payload.providers[0].ignoredStaleSessions, 2);
    EXPECT_EQ(payload.providers[1].ignoredStaleSessions, 0);
    EXPECT_EQ(payload.staleCount, 2);
    EXPECT_EQ(calls, 4); // once per record, once more for the sum
}

TEST(StatusPayloadBuilder, StaleSumIgnoresNegativeBaselinesAndSaturates) {
    constexpr int64_t top = std::numeric_limits<int64_t>::max();
    const ClearedStaleBaselines baselines{{"codex", std::numeric_limits<int64_t>::min()}, {"claude code", -5}};
    auto cleared = [&](const ProviderSnapshot& p) {
        return hiddenStaleCountForProvider(p.providerName, p.ignoredStaleSessions, baselines);
    };
    auto snapshot = snapshotOf({providerOf("Codex", {}, 5), providerOf("Claude Code", {}, 1)});
    EXPECT_EQ(buildStatusPayload(snapshot, "Desk", standardPrivacy, cleared).staleCount, 6);

    auto crowded =
        snapshotOf({providerOf("Codex", {}, top), providerOf("Claude Code", {}, top), providerOf("Hermes", {}, 1)});
    EXPECT_EQ(build(crowded).staleCount, top);
}

TEST(StatusPayloadBuilder, PrivacyCapsSessionsAndWithholdsErrors) {
    auto snapshot = snapshotOf({providerOf("Codex", sessions(12), 0, {"e1", "e2"})});
    auto capped = build(snapshot);
    ASSERT_EQ(capped.sessions.size(), 8u);
    EXPECT_EQ(capped.sessions[7].id, "s7");
    EXPECT_EQ(capped.activeCount, 12);

    EXPECT_TRUE(build(snapshot, StatusPayloadPrivacy(true, true, 0, 240)).sessions.empty());
    StatusPayloadPrivacy negative;
    negative.maxSessions = -3; // set around the constructor: still no sessions
    negative.maxErrorLength = -1;
    auto clamped = build(snapshot, negative);
    EXPECT_TRUE(clamped.sessions.empty());
    EXPECT_EQ(clamped.providers[0].errors, (std::vector<std::string>{"...", "..."}));

    auto hidden = build(snapshot, StatusPayloadPrivacy(false, false, 8, 240));
    EXPECT_TRUE(hidden.sessions.empty());
    EXPECT_EQ(hidden.activeCount, 12);
    EXPECT_EQ(hidden.recentEvidenceSessionCount(), 0);
    EXPECT_TRUE(hidden.providers[0].errors.empty());
    EXPECT_EQ(hidden.providers[0].errorCount, 2);
}

TEST(StatusPayloadBuilder, ErrorTextsKeepTheirFirstLineCut) {
    std::string longError(300, 'x');
    auto snapshot = snapshotOf({providerOf("Codex", {}, 0, {longError, "\n\nfirst line\nsecond", "", "\n\n"})});
    auto errors = build(snapshot).providers[0].errors;
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0], std::string(240, 'x') + "...");
    EXPECT_EQ(errors[1], "first line");
    EXPECT_EQ(errors[2], "");
    EXPECT_EQ(errors[3], "\n\n");
}

TEST(StatusPayloadBuilder, ProviderIDsComeFromTheCatalogIgnoringCase) {
    EXPECT_EQ(providerIDForName("claude code"), "claude");
    EXPECT_EQ(providerIDForName("HERMES"), "hermes");
    EXPECT_EQ(providerIDForName("My Agent X"), "my-agent-x");
    EXPECT_EQ(providerIDForName("Ünïcode Agent"), "ünïcode-agent");
}

TEST(StatusPayloadBuilder, SessionRecordTexts) {
    AgentSession session({.id = "019a2b_7c2e1f99aa",
                          .provider = "Codex",
                          .parentID = "parent_abcdef123",
                          .agentNickname = "",
                          .agentRole = std::string(100, 'r'),
                          .parentTitle = "The following is the Codex agent history of a review",
                          .threadSource = "cli",
                          .title = "",
                          .cwd = "/work/app/../site/./src/",
                          .lastActivityAt = referenceDate - 3,
                          .evidence = std::string(130, 'e') + "\nmore",
                          .needsUserAttention = true,
                          .resourceUsage = SessionResourceUsage(42, std::nan(""), 1024, 0),
                          .runtimeProfile = SessionRuntimeProfile("gpt-5", std::string(60, 'h'),
                                                                  SessionRuntimeProfileSource::codexThreadStore),
                          .evidenceStrength = RunEvidenceStrength::weakRecent,
                          .evidenceLeaseExpiresAt = referenceDate + 17,
                          .backgroundTaskSummary = ""});
    auto s = makeSessionStatusPayload(session);
    EXPECT_EQ(s.shortID, "7c2e1f99");
    EXPECT_EQ(s.title, "019a2b_7c2e1f99aa"); // empty title falls back to the id
    EXPECT_FALSE(s.agentNickname.has_value());
    EXPECT_EQ(*s.agentRole, std::string(80, 'r') + "...");
    EXPECT_EQ(s.parentShortID, "abcdef12");
    EXPECT_EQ(s.parentTitle, "Codex internal review session");
    EXPECT_EQ(s.threadSource, "cli");
    EXPECT_EQ(s.lastActivityAt, referenceDate - 3);
    EXPECT_EQ(s.evidence, std::string(120, 'e') + "...");
    EXPECT_EQ(s.workspaceLabel, "/work/site/src");
    EXPECT_TRUE(s.needsUserAttention);
    ASSERT_TRUE(s.resourceUsage.has_value());
    EXPECT_FALSE(s.resourceUsage->cpuPercent.has_value());
    EXPECT_EQ(s.resourceUsage->processCount, 1);
    EXPECT_EQ(s.resourceUsage->residentMemoryBytes, 1024);
    EXPECT_EQ(s.model, "gpt-5");
    EXPECT_EQ(s.reasoningEffort, std::string(40, 'h') + "...");
    EXPECT_EQ(s.evidenceStrength, StatusPayloadEvidenceStrength::recent);
    EXPECT_EQ(s.evidenceExpiresAt, referenceDate + 17);
    EXPECT_FALSE(s.backgroundTaskSummary.has_value());

    AgentSession review({.id = "r", .provider = "Codex", .title = "The following is the Codex agent history\nrest",
                         .evidence = "", .evidenceStrength = RunEvidenceStrength::strongActive});
    auto r = makeSessionStatusPayload(review);
    EXPECT_EQ(r.title, "Codex internal review session");
    EXPECT_EQ(r.evidence, "");
    EXPECT_FALSE(r.workspaceLabel.has_value());
    EXPECT_EQ(r.evidenceStrength, StatusPayloadEvidenceStrength::confirmed);
    EXPECT_FALSE(r.model.has_value());
}

TEST(StatusPayloadBuilder, ShortSessionIDs) {
    EXPECT_EQ(shortSessionID("thread_abcdefghi"), "abcdefgh");
    EXPECT_EQ(shortSessionID("thread_abcdef"), "abcdef");
    EXPECT_EQ(shortSessionID("thread_abcde"), "thread_a"); // last segment too short; 12 characters
    EXPECT_EQ(shortSessionID("abcdefghij"), "abcdefghij");
    EXPECT_EQ(shortSessionID("abcdefghijklmnopq"), "abcdefgh");
    EXPECT_EQ(shortSessionID("__abcdefgh__"), "__abcdef"); // one segment only
    EXPECT_EQ(shortSessionID("x_éééééééééé"), "éééééééé");
}

TEST(StatusPayloadBuilder, TruncationCountsCharactersNotBytes) {
    EXPECT_EQ(truncatedFirstLine(std::string(80, 'a'), 80), std::string(80, 'a'));
    EXPECT_EQ(truncatedFirstLine("ééé", 2), "éé...");
    EXPECT_EQ(truncatedFirstLine("one\r\ntwo", 10), "one");
    EXPECT_EQ(truncatedFirstLine("\xE2\x80\xA8line", 10), "line");
}

TEST(StatusPayloadBuilder, StandardizedPaths) {
    EXPECT_FALSE(standardizedPath("").has_value());
    EXPECT_EQ(standardizedPath("/"), "/");
    EXPECT_EQ(standardizedPath("/a//b/./c/.."), "/a/b");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(standardizedPath("rel/dir"), std::string(cwd) + "/rel/dir");
}

TEST(SyncSignature, CoversOnlyUserVisibleContent) {
    StatusPayload payload = fullPayload();
    std::string base = syncSignature(payload);
    EXPECT_EQ(base,
              "inProgress|1|2\n"
              "provider|codex|unknown|1|2|1\n"
              "session|019a_7c2e1f99|Add offline mode|true|recent|gpt-5-codex|high|scout|explorer|Parent task|/work/app|2 shells running");

    StatusPayload quiet = payload;
    quiet.checkedAt += 100;
    quiet.deviceID = "Other";
    quiet.providers[0].checkedAt += 100;
    quiet.providers[0].errors = {"other text"};
    quiet.providers[0].name = "CODEX";
    quiet.sessions[0].evidence = "different sentence";
    quiet.sessions[0].resourceUsage->cpuPercent = 99;
    quiet.sessions[0].lastActivityAt = std::nullopt;
    EXPECT_EQ(syncSignature(quiet), base);

    StatusPayload retitled = payload;
    retitled.sessions[0].title = "New title";
    EXPECT_NE(syncSignature(retitled), base);
    StatusPayload moreErrors = payload;
    moreErrors.providers[0].errorCount = 2;
    EXPECT_NE(syncSignature(moreErrors), base);

    StatusPayload bare = payload;
    bare.sessions[0].model = std::nullopt;
    bare.sessions[0].agentNickname = std::nullopt;
    std::string line = syncSignature(bare).substr(syncSignature(bare).rfind('\n') + 1);
    EXPECT_EQ(std::count(line.begin(), line.end(), '|'), 11);
}
