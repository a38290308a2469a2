// A FIFO in place of "state.db": the scan reports the problem at once instead
// of blocking its worker for good, and the provider recovers on the next
// refresh once the real database is back.
#include "core/AgentStatusService.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/providers/hermes/HermesTestSupport.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

using namespace brindleaf;
using namespace brindleaf::testing;
using namespace brindleaf::testing::hermes;

namespace {

constexpr Date now = 1767323045.0;

} // namespace

TEST(HermesFifoDatabase, TheProviderRecoversOnTheNextRefreshOnceTheRealDatabaseIsBack) {
    TempDir dir;
    const auto database = dir / "state.db";
    const auto real = dir / "state.db.real";
    {
        StateDatabase db(database.string());
        db.add(SessionRow{.id = "20_user", .startedAt = now - 60});
        db.add(MessageRow{.sessionID = "20_user", .role = "user", .timestamp = now - 5});
    }
    std::filesystem::rename(database, real);
    ASSERT_EQ(::mkfifo(database.c_str(), 0600), 0);

    HermesProviderConfig config;
    config.hermesHome = dir.path().string();
    auto provider = std::make_shared<HermesStatusProvider>(config, [] { return std::vector<ProcessResourceSample>{}; });
    // A time limit far above any scan: should the scan block, the refresh
    // after it would meet a provider still busy.
    AgentStatusService service({provider}, 30);
    const auto blocked = service.snapshot(now);
    ASSERT_EQ(blocked.providerSnapshots.size(), 1u);
    ASSERT_EQ(blocked.providerSnapshots[0].errors.size(), 1u);
    EXPECT_TRUE(blocked.providerSnapshots[0].readNothing);
    EXPECT_EQ(blocked.providerSnapshots[0].errors[0],
              "sqlite cannot open: " + database.string() + " is not a regular file");

    std::filesystem::remove(database);
    std::filesystem::rename(real, database);
    const auto back = service.snapshot(now + 1.5);
    EXPECT_TRUE(back.providerSnapshots[0].errors.empty());
    EXPECT_FALSE(back.providerSnapshots[0].readNothing);
    ASSERT_EQ(back.activeSessions.size(), 1u);
    EXPECT_EQ(back.activeSessions[0].id, "20_user");
}
