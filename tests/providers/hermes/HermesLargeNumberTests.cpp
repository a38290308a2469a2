// Integers beyond 64 bits and numbers beyond the double range in Hermes' JSON
// cost only that value, never the record that holds it.
#include "providers/hermes/HermesDataSources.hpp"
#include "providers/hermes/HermesSessionCandidate.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/providers/hermes/HermesTestSupport.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::testing;
using namespace brindleaf::testing::hermes;

TEST(HermesLargeNumbers, FilesAndStoredJSONKeepTheirFields) {
    TempDir home;
    auto sleeper = startSleeper();
    const std::string live = std::to_string(sleeper->pid());

    const auto gatewayPath = (home / "gateway_state.json").string();
    writeFile(gatewayPath, R"({"gateway_state":"running","pid":)" + live +
                               R"(,"active_agents":2,"uptime_ns":98765432109876543210,"load":1e400})");
    EXPECT_EQ(hermesGatewayRunningCount(HermesStatusProvider::loadGatewayState(gatewayPath)), 2);

    const auto children = HermesStatusProvider::loadChildProcesses(
        home.write("processes.json", R"([{"session_key":"k1","pid":)" + live +
                                         R"(,"started_at":1e400,"bytes":98765432109876543210},)"
                                         R"({"session_key":"k2","pid":98765432109876543210}])")
            .string());
    EXPECT_EQ(children.size(), 1u);
    if (!children.empty()) {
        EXPECT_EQ(children[0].sessionKey, "k1");
        EXPECT_FALSE(children[0].startedAt);
    }

    EXPECT_EQ(
        HermesStatusProvider::terminalCommand(R"([{"id":98765432109876543210,"function":{"name":"terminal",)"
                                              R"("arguments":"{\"command\":\"cargo test\",\"timeout\":1e400}"}}])"),
        "cargo test");

    const auto profile = HermesSessionCandidate::runtimeProfileFrom(
        "m", R"({"max_tokens":98765432109876543210,"reasoning_config":{"effort":"high","budget":1e400}})");
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->reasoningEffort, "high");
}
