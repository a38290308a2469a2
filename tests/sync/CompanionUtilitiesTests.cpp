#include "sync/CloudKitEntitlement.hpp"
#include "sync/CloudKitStatusRuntimeSupport.hpp"
#include "sync/StatusCheckCountdown.hpp"
#include "sync/StatusPayloadCodec.hpp"
#include "sync/StatusPayloadFreshness.hpp"
#include "sync/StatusPayloadRelayEnvelope.hpp"
#include "sync/StatusPayloadSharedSnapshotStore.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/sync/PayloadFixtures.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::testing;

TEST(StatusPayloadSharedSnapshotStore, SavesLoadsAndRemovesThroughARealSuite) {
    TempDir dir;
    auto defaults = UserDefaults::open("group.com.quorvale.Brindleaf", dir.path());
    ASSERT_NE(defaults, nullptr);
    StatusPayloadSharedSnapshotStore store(defaults, "currentStatusPayload");
    EXPECT_FALSE(store.load().has_value());
    StatusPayload payload = fullPayload();
    EXPECT_TRUE(store.save(payload));

    // Another process's view of the same suite.
    StatusPayloadSharedSnapshotStore reader(UserDefaults::open("group.com.quorvale.Brindleaf", dir.path()),
                                            "currentStatusPayload");
    EXPECT_EQ(reader.load(), payload);
    EXPECT_EQ(reader.loadIfFresh(referenceDate + 60, 60), payload);
    EXPECT_FALSE(reader.loadIfFresh(referenceDate + 61, 60).has_value());

    EXPECT_TRUE(store.save(std::nullopt));
    EXPECT_FALSE(reader.load().has_value());

    defaults->set("currentStatusPayload", DefaultsValue::data("{broken"));
    EXPECT_FALSE(store.load().has_value());
    defaults->set("currentStatusPayload", StatusPayloadCodec::encode(payload)); // text, not data
    EXPECT_FALSE(store.load().has_value());

    StatusPayloadSharedSnapshotStore without(nullptr, "currentStatusPayload");
    EXPECT_FALSE(without.hasSuite());
    EXPECT_FALSE(without.save(payload));
    EXPECT_FALSE(without.load().has_value());
}

TEST(StatusPayloadGates, FreshnessBoundariesAreInclusive) {
    StatusPayload payload = fullPayload();
    EXPECT_TRUE(StatusPayloadLiveGate::isFresh(payload, referenceDate + 90));
    EXPECT_FALSE(StatusPayloadLiveGate::isFresh(payload, referenceDate + 91));
    EXPECT_TRUE(StatusPayloadFallbackGate::isFresh(payload, referenceDate + 91));
    EXPECT_FALSE(StatusPayloadFallbackGate::isFresh(payload, referenceDate + 900.5));
    EXPECT_FALSE(isStatusPayloadStale(payload, referenceDate + 90, 90));
    EXPECT_TRUE(isStatusPayloadStale(payload, referenceDate + 90.01, 90));
}

TEST(StatusCheckCountdown, RoundsUpAndClamps) {
    EXPECT_EQ(StatusCheckCountdown::secondsUntil(100 + 2.1, 100), 3);
    EXPECT_EQ(StatusCheckCountdown::secondsUntil(99, 100), 0);
    EXPECT_EQ(StatusCheckCountdown::secondsUntil(100 + 2.1, 100, 1), 1);
    EXPECT_EQ(StatusCheckCountdown::secondsRemaining(100, 101.5, 5), 4);
    EXPECT_EQ(StatusCheckCountdown::secondsRemaining(100, 90, 4.5), 5); // start in the future: capped
    EXPECT_EQ(StatusCheckCountdown::secondsRemaining(100, 200, 5), 0);
}

TEST(StatusPayloadRelayEnvelope, RequestsPayloadsAndClears) {
    EXPECT_TRUE(StatusPayloadRelayEnvelope::isRequest(StatusPayloadRelayEnvelope::requestMessage()));
    EXPECT_FALSE(StatusPayloadRelayEnvelope::isRequest({}));
    EXPECT_FALSE(StatusPayloadRelayEnvelope::isRequest({{"requestCurrentStatus", int64_t(1)}}));
    StatusPayload payload = fullPayload();
    auto message = StatusPayloadRelayEnvelope::message(payload);
    EXPECT_EQ(StatusPayloadRelayEnvelope::payload(message), payload);
    auto clear = StatusPayloadRelayEnvelope::message(std::nullopt);
    EXPECT_EQ(std::get<bool>(clear.at("clear")), true);
    EXPECT_FALSE(StatusPayloadRelayEnvelope::payload(clear).has_value());
    message["clear"] = true;
    EXPECT_FALSE(StatusPayloadRelayEnvelope::payload(message).has_value());
    EXPECT_FALSE(StatusPayloadRelayEnvelope::payload({{"payloadData", std::string("{}")}}).has_value());
    EXPECT_THROW(StatusPayloadRelayEnvelope::payload({{"payloadData", RelayBytes{"{}"}}}), StatusPayloadCodecError);
}

TEST(CloudKitEntitlement, ApplicationAndCommandLineTests) {
    TempDir dir;
    auto check = [&](const std::string& contents) {
        writeFile(dir / "brindleaf.entitlements", contents);
        auto entitlements = Entitlements::loadFromFolder(dir.path());
        return std::make_pair(hasCloudKitEntitlement(entitlements), commandLineHasCloudKitEntitlement(entitlements));
    };
    EXPECT_EQ(check(R"({"com.apple.developer.icloud-services":["CloudDocuments","CloudKit"]})"),
              std::make_pair(true, true));
    EXPECT_EQ(check(R"({"com.apple.developer.icloud-services":"CloudKit"})"), std::make_pair(true, false));
    EXPECT_EQ(check(R"({"com.apple.developer.icloud-services":["CloudKit",7]})"), std::make_pair(false, false));
    EXPECT_EQ(check(R"({"com.apple.developer.icloud-services":["CloudDocuments"]})"), std::make_pair(false, false));
    EXPECT_EQ(check(R"({"other":["CloudKit"]})"), std::make_pair(false, false));
    EXPECT_EQ(check("not json"), std::make_pair(false, false));
    std::filesystem::remove(dir / "brindleaf.entitlements");
    EXPECT_FALSE(Entitlements::loadFromFolder(dir.path()).isLoaded());
    // The test executable carries no entitlements file.
    EXPECT_FALSE(hasCloudKitEntitlement());
    EXPECT_EQ(CloudKitStatusRuntimeSupport::makeStore(CloudKitStatusConfiguration::standard()), nullptr);
    EXPECT_EQ(CloudKitStatusRuntimeSupport::unavailableMessage(),
              "The status record store isn\u2019t available on this computer.");
}

TEST(StatusPayload, SampleCarriesThreeSessions) {
    auto sample = StatusPayload::sample();
    ASSERT_EQ(sample.sessions.size(), 3u);
    EXPECT_EQ(sample.sessions[0].id, "sample-codex-7c2e1f");
    EXPECT_EQ(sample.sessions[2].evidence, "Claude is waiting for your choice");
    EXPECT_EQ(StatusPayloadCodec::decodePayload(StatusPayloadCodec::encode(sample)).sessions.size(), 3u);
}
