// A FIFO in place of the state database: the scan reports the problem at
// once instead of blocking its worker for good, and the provider recovers on
// the next refresh once the real database is back.
#include "core/AgentStatusService.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "tests/providers/codex/CodexFixtures.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

constexpr Date now = 1'700'000'000.0;

bool mentions(const std::vector<std::string>& errors, const std::string& text) {
    for (const auto& error : errors)
        if (error.find(text) != std::string::npos) return true;
    return false;
}

} // namespace

TEST(CodexFifoDatabase, TheProviderRecoversOnTheNextRefreshOnceTheRealDatabaseIsBack) {
    CodexHomeFixture fixture;
    fixture.createStateDatabase();
    const std::string rollout = fixture.writeRollout("busy.jsonl", {rollout::functionCall("c1")}, now - 20);
    fixture.addThread({.id = "busy", .title = "Busy", .rolloutPath = rollout, .updatedAt = 1'700'000'000 - 20});
    const auto real = fixture.dir / "state_5.sqlite.real";
    std::filesystem::rename(fixture.statePath(), real);
    ASSERT_EQ(::mkfifo(fixture.statePath().c_str(), 0600), 0);

    auto provider = std::make_shared<CodexStatusProvider>(fixture.config(), noProcesses(),
                                                          std::make_shared<NoopCodexOfficialStatusProbe>());
    // A time limit far above any scan: should the scan block, the refresh
    // after it would meet a provider still busy.
    AgentStatusService service({provider}, 30);
    const auto blocked = service.snapshot(now);
    ASSERT_EQ(blocked.providerSnapshots.size(), 1u);
    EXPECT_TRUE(mentions(blocked.providerSnapshots[0].errors, "is not a regular file"));
    EXPECT_FALSE(mentions(blocked.providerSnapshots[0].errors, "timed out"));
    EXPECT_TRUE(blocked.providerSnapshots[0].readNothing) << "no source of the state database was read";

    std::filesystem::remove(fixture.statePath());
    std::filesystem::rename(real, fixture.statePath());
    const auto back = service.snapshot(now + 1.5);
    EXPECT_TRUE(back.providerSnapshots[0].errors.empty());
    EXPECT_FALSE(back.providerSnapshots[0].readNothing);
    ASSERT_EQ(back.activeSessions.size(), 1u);
    EXPECT_EQ(back.activeSessions[0].id, "busy");
}
