// The Claude folder away for a moment under a running service: once it is
// back, the live sessions are shown again although none of them wrote
// anything since, those waiting for the user's choice included.
#include "core/AgentStatusService.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "tests/providers/claude/ClaudeScanSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace brindleaf;
using namespace brindleaf::claudefixtures;

namespace {

std::vector<std::string> shownIDs(const AgentStatusSnapshot& snapshot) {
    std::vector<std::string> ids;
    for (const auto& session : snapshot.activeSessions) ids.push_back(session.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

TEST(ClaudeFolderBlip, LiveSessionsAreShownAgainOnceTheFolderIsBack) {
    ClaudeHome home;
    const Date now = wholeNow();
    const std::string working = "0a6f3c1e-1111-4b3c-8d4e-6f708192a3b4";
    const std::string asking = "0a6f3c1e-2222-4b3c-8d4e-6f708192a3b4";
    const std::string cwd = home.workDir("shop");
    Transcript w(working, cwd);
    w.prompt("run the tests", now - 110).toolUse("msg_1", "toolu_b", "Bash", {{"command", "make test"}}, now - 100);
    home.transcript(cwd, working, w, now - 100);
    Transcript a(asking, cwd);
    a.prompt("plan", now - 310)
        .toolUse("msg_2", "toolu_q", "AskUserQuestion", {{"questions", json::array()}}, now - 300);
    home.transcript(cwd, asking, a, now - 300);

    // As the tray builds it: the listing kept for 10 s; no process information.
    auto provider =
        std::make_shared<ClaudeStatusProvider>(home.config(10), [] { return std::vector<ProcessResourceSample>{}; });
    AgentStatusService service({provider}, 60);
    const std::vector<std::string> both{working, asking};
    ASSERT_EQ(shownIDs(service.snapshot(now)), both);

    const auto away = home.root() / ".claude.away";
    std::filesystem::rename(home.claudeHome(), away);
    const auto gone = service.snapshot(now + 1.5);
    EXPECT_TRUE(gone.activeSessions.empty());
    EXPECT_EQ(gone.state, AgentRunState::complete);

    std::filesystem::rename(away, home.claudeHome());
    for (Date later : {now + 3.0, now + 4.5, now + 60.0}) {
        const auto back = service.snapshot(later);
        EXPECT_EQ(shownIDs(back), both) << later - now;
        EXPECT_EQ(back.state, AgentRunState::inProgress) << later - now;
    }
}
