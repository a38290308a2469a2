#include "sync/StatusPayloadCodec.hpp"
#include "tests/sync/PayloadFixtures.hpp"

#include "core/TextUtils.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace brindleaf;
using namespace brindleaf::testing;
using nlohmann::json;

TEST(StatusPayloadCodec, EmptyPayloadIsCompactSortedWithEmptyArrays) {
    StatusPayload payload;
    payload.deviceID = "Desk";
    payload.checkedAt = referenceDate + 0.75; // fractions are cut off
    EXPECT_EQ(StatusPayloadCodec::encode(payload),
              R"({"activeCount":0,"checkedAt":"2026-01-31T09:05:00Z","deviceID":"Desk","providers":[],)"
              R"("schemaVersion":1,"sessions":[],"staleCount":0,"state":"complete"})");
}

TEST(StatusPayloadCodec, FullPayloadRoundTripsAndEncodesIdentically) {
    StatusPayload payload = fullPayload();
    std::string first = StatusPayloadCodec::encode(payload);
    EXPECT_EQ(first, StatusPayloadCodec::encode(payload));
    EXPECT_EQ(StatusPayloadCodec::decodePayload(first), payload);
    // Keys sorted at every level, dates whole-second UTC, enumerations as raw values.
    EXPECT_NE(first.find(R"("resourceUsage":{"cpuPercent":12.5,"pid":4242,"processCount":3,"residentMemoryBytes":315621376})"),
              std::string::npos);
    EXPECT_NE(first.find(R"("evidenceExpiresAt":"2026-01-31T09:05:20Z","evidenceStrength":"recent")"), std::string::npos);
    EXPECT_NE(first.find(R"("state":"unknown")"), std::string::npos);
}

TEST(StatusPayloadCodec, AbsentOptionalsAreOmittedAndDecodeBack) {
    StatusPayload payload = fullPayload();
    SessionStatusPayload& s = payload.sessions[0];
    s.agentNickname = s.agentRole = s.parentShortID = s.parentTitle = s.parentAgentNickname = s.parentAgentRole =
        s.threadSource = s.workspaceLabel = s.model = s.reasoningEffort = s.backgroundTaskSummary = std::nullopt;
    s.lastActivityAt = s.evidenceExpiresAt = std::nullopt;
    s.resourceUsage = SessionResourceUsagePayload{7, std::nullopt, std::nullopt, 1};
    std::string text = StatusPayloadCodec::encode(payload);
    json session = json::parse(text)["sessions"][0];
    EXPECT_EQ(session.size(), 8u) << session.dump();
    EXPECT_EQ(session["resourceUsage"], json::parse(R"({"pid":7,"processCount":1})"));
    EXPECT_EQ(text.find("null"), std::string::npos);
    EXPECT_EQ(StatusPayloadCodec::decodePayload(text), payload);
}

TEST(StatusPayloadCodec, LenientSessionAndResourceUsageDefaults) {
    auto session = StatusPayloadCodec::sessionFromJSON(
        json::parse(R"({"id":"a","shortID":"a","provider":"Codex","title":"t","evidence":"e"})"));
    EXPECT_FALSE(session.needsUserAttention);
    EXPECT_EQ(session.evidenceStrength, StatusPayloadEvidenceStrength::confirmed);
    EXPECT_EQ(StatusPayloadCodec::resourceUsageFromJSON(json::parse(R"({"pid":1})")).processCount, 1);
    EXPECT_EQ(StatusPayloadCodec::resourceUsageFromJSON(json::parse(R"({"pid":1,"processCount":0})")).processCount, 1);
    EXPECT_EQ(StatusPayloadCodec::resourceUsageFromJSON(json::parse(R"({"pid":1,"processCount":-4})")).processCount, 1);
    EXPECT_EQ(StatusPayloadCodec::resourceUsageFromJSON(json::parse(R"({"pid":1,"processCount":5})")).processCount, 5);
    EXPECT_THROW(StatusPayloadCodec::resourceUsageFromJSON(json::parse(R"({"processCount":5})")), StatusPayloadCodecError);
    // Dates written by other encoders: fractions and offsets are read.
    auto dated = StatusPayloadCodec::sessionFromJSON(json::parse(
        R"({"id":"a","shortID":"a","provider":"Codex","title":"t","evidence":"e","lastActivityAt":"2026-01-31T10:05:00.500+01:00"})"));
    EXPECT_DOUBLE_EQ(*dated.lastActivityAt, referenceDate + 0.5);
}

TEST(StatusPayloadCodec, KeyOrderDoesNotMatter) {
    std::string a = R"({"schemaVersion":1,"deviceID":"D","checkedAt":"2026-01-31T09:05:00Z","state":"inProgress",)"
                    R"("activeCount":2,"staleCount":0,"providers":[],"sessions":[]})";
    std::string b = R"({"sessions":[],"providers":[],"staleCount":0,"activeCount":2,"state":"inProgress",)"
                    R"("checkedAt":"2026-01-31T09:05:00Z","deviceID":"D","schemaVersion":1})";
    EXPECT_EQ(StatusPayloadCodec::decodePayload(a), StatusPayloadCodec::decodePayload(b));
}

TEST(StatusPayloadCodec, StrictRecordsFailOnMissingKeysWrongTypesAndUnknownValues) {
    json valid = json::parse(StatusPayloadCodec::encode(fullPayload()));
    for (const char* key : {"schemaVersion", "deviceID", "checkedAt", "state", "activeCount", "staleCount", "providers", "sessions"}) {
        json broken = valid;
        broken.erase(key);
        EXPECT_THROW(StatusPayloadCodec::decodePayload(broken.dump()), StatusPayloadCodecError) << key;
    }
    for (const char* key : {"providerID", "name", "state", "activeCount", "ignoredStaleSessions", "checkedAt", "errorCount", "errors"}) {
        json broken = valid;
        broken["providers"][0].erase(key);
        EXPECT_THROW(StatusPayloadCodec::decodePayload(broken.dump()), StatusPayloadCodecError) << key;
    }
    for (const char* key : {"id", "shortID", "provider", "title", "evidence"}) {
        json broken = valid;
        broken["sessions"][0].erase(key);
        EXPECT_THROW(StatusPayloadCodec::decodePayload(broken.dump()), StatusPayloadCodecError) << key;
    }
    auto failsWith = [&](const std::function<void(json&)>& change) {
        json broken = valid;
        change(broken);
        EXPECT_THROW(StatusPayloadCodec::decodePayload(broken.dump()), StatusPayloadCodecError) << broken.dump();
    };
    failsWith([](json& j) { j["activeCount"] = "3"; });
    failsWith([](json& j) { j["activeCount"] = 1.5; });
    failsWith([](json& j) { j["state"] = "busy"; });
    failsWith([](json& j) { j["providers"][0]["state"] = "InProgress"; });
    failsWith([](json& j) { j["sessions"][0]["evidenceStrength"] = "weak"; });
    failsWith([](json& j) { j["sessions"][0]["needsUserAttention"] = 1; });
    failsWith([](json& j) { j["checkedAt"] = "yesterday"; });
    failsWith([](json& j) { j["providers"][0]["errors"] = json::array({1}); });
    EXPECT_THROW(StatusPayloadCodec::decodePayload("not json"), StatusPayloadCodecError);
    EXPECT_THROW(StatusPayloadCodec::decodePayload("[]"), StatusPayloadCodecError);
}

TEST(StatusPayloadCodec, PrivacyRoundTripsRequiresEveryKeyAndClampsNegativeLimits) {
    StatusPayloadPrivacy privacy(false, true, 3, 100);
    EXPECT_EQ(StatusPayloadCodec::decodePrivacy(StatusPayloadCodec::encode(privacy)), privacy);
    EXPECT_THROW(StatusPayloadCodec::decodePrivacy(R"({"includeSessionDetails":true,"includeProviderErrors":true,"maxSessions":8})"),
                 StatusPayloadCodecError);
    auto decoded = StatusPayloadCodec::decodePrivacy(
        R"({"includeSessionDetails":true,"includeProviderErrors":true,"maxSessions":-2,"maxErrorLength":-240})");
    EXPECT_EQ(decoded.maxSessions, 0);
    EXPECT_EQ(decoded.maxErrorLength, 0);
    EXPECT_EQ(StatusPayloadPrivacy(true, true, -1, -1).maxSessions, 0);
}

TEST(StatusPayloadCodec, NonFiniteCPUIsDroppedAndBrokenTextRepaired) {
    StatusPayload payload = fullPayload();
    payload.sessions[0].resourceUsage->cpuPercent = std::nan("");
    payload.sessions[0].title = std::string("bad \xC3\x28 byte");
    payload.deviceID = "\xFF";
    std::string text = StatusPayloadCodec::encode(payload);
    EXPECT_TRUE(isValidUTF8(text));
    StatusPayload decoded = StatusPayloadCodec::decodePayload(text);
    EXPECT_FALSE(decoded.sessions[0].resourceUsage->cpuPercent.has_value());
    EXPECT_EQ(decoded.sessions[0].title, repairUTF8("bad \xC3\x28 byte"));
    EXPECT_EQ(decoded.deviceID, "\xEF\xBF\xBD");
}

TEST(StatusPayloadCodec, UnwritableDatesFailTheEncode) {
    StatusPayload payload = fullPayload();
    payload.checkedAt = std::numeric_limits<double>::infinity();
    EXPECT_THROW(StatusPayloadCodec::encode(payload), StatusPayloadCodecError);
}

TEST(StatusPayloadCodec, EveryDateTheDecoderAcceptsEncodesAgain) {
    struct Case {
        const char* stored;
        const char* written; // nullptr: the decode fails
    };
    const Case cases[] = {
        {"0000-01-01T00:00:00Z", "0000-01-01T00:00:00Z"},
        {"0000-01-01T00:59:59+01:00", nullptr},
        {"0000-01-01T01:00:00+01:00", "0000-01-01T00:00:00Z"},
        {"9999-12-31T23:59:59.999Z", "9999-12-31T23:59:59Z"},
        {"9999-12-31T23:59:59-01:00", nullptr},
        {"9999-12-31T22:59:59-01:00", "9999-12-31T23:59:59Z"},
    };
    json document = json::parse(StatusPayloadCodec::encode(fullPayload()));
    for (const auto& c : cases) {
        document["checkedAt"] = c.stored;
        if (!c.written) {
            EXPECT_THROW(StatusPayloadCodec::decodePayload(document.dump()), StatusPayloadCodecError) << c.stored;
            continue;
        }
        StatusPayload decoded = StatusPayloadCodec::decodePayload(document.dump());
        EXPECT_EQ(json::parse(StatusPayloadCodec::encode(decoded))["checkedAt"], c.written) << c.stored;
    }
    EXPECT_THROW(StatusPayloadCodec::formatDate(-62167219201.0), StatusPayloadCodecError);
    EXPECT_THROW(StatusPayloadCodec::formatDate(253402300800.0), StatusPayloadCodecError);
}

TEST(StatusPayload, RecentEvidenceCountCountsOnlyCarriedRecentSessions) {
    StatusPayload payload = fullPayload();
    payload.sessions.push_back(payload.sessions[0]);
    payload.sessions.back().evidenceStrength = StatusPayloadEvidenceStrength::confirmed;
    payload.sessions.push_back(payload.sessions[0]);
    EXPECT_EQ(payload.recentEvidenceSessionCount(), 2);
    payload.sessions.clear();
    EXPECT_EQ(payload.recentEvidenceSessionCount(), 0);
}
