// A service that runs for a long time (the tray's) against services made anew
// for each step (as "--dump-status" makes one): through the same steps of a
// fake clock on a generated home that nobody writes to, the long-running one
// shows the sessions the fresh ones show, also after quiet stretches longer
// than every window the providers and the ledger use.
#include "bench/generator/HomeGenerator.hpp"
#include "bench/generator/LiveProcessSet.hpp"
#include "core/AgentStatusService.hpp"
#include "core/ProcessResourceSampler.hpp"
#include "tests/app/GeneratedHomeStatus.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace brindleaf;
using brindleaf::testing::shownIDs;
using brindleaf::testing::statusServiceOn;

namespace {

using IDs = std::vector<std::string>;

constexpr double hour = 3600;

bench::GeneratedHome smallHome(const std::filesystem::path& root, Date at) {
    return bench::HomeGenerator(bench::HomeRecipe::forSize(bench::HomeSize::small)).write(root, at);
}

// The home's own processes and their children, sampled once from the real
// process table: every service of the test reads the same table, and nothing
// else running on the machine takes part.
ProcessSampleList processesOf(const bench::LiveProcessSet& live) {
    std::set<int64_t> ours(live.pids().begin(), live.pids().end());
    ours.erase(0);
    std::vector<ProcessResourceSample> kept;
    for (auto& sample : ProcessResourceSampler::sampleAll())
        if (ours.contains(sample.pid) || ours.contains(sample.parentPID)) kept.push_back(std::move(sample));
    return ProcessSampleList(std::move(kept));
}

} // namespace

TEST(LongRunningService, RunningCodexSessionsStayShownAfterTheirRuntimeLogRowsGetOld) {
    // The home's running threads wrote runtime-log rows in the last 18 seconds,
    // some later than their thread rows: while those rows are within the
    // 20-second window they date the sessions' activity, after it the older
    // thread rows do.
    brindleaf::testing::TempDir dir;
    const Date start = std::floor(currentDate());
    const bench::GeneratedHome home = smallHome(dir.path(), start);
    const ProcessSnapshotReader noProcesses = [] { return ProcessSampleList(); };
    const std::set<std::string> codexOnly{"Codex"};
    const auto freshly = [&](Date at) { return statusServiceOn(home, false, noProcesses)->snapshot(at, codexOnly); };

    const AgentStatusSnapshot first = freshly(start);
    const AgentStatusSnapshot later = freshly(start + 45);
    const IDs running = shownIDs(first, "Codex");
    ASSERT_GE(running.size(), 3u) << "the generated home has running Codex threads";
    ASSERT_EQ(shownIDs(later, "Codex"), running) << "a fresh service still shows them once the log rows are old";
    const bool datedByLogRows = std::any_of(first.activeSessions.begin(), first.activeSessions.end(), [&](auto& a) {
        return std::any_of(later.activeSessions.begin(), later.activeSessions.end(),
                           [&](auto& b) { return a.id == b.id && a.lastActivityAt > b.lastActivityAt; });
    });
    ASSERT_TRUE(datedByLogRows) << "some session's activity is dated by a log row later than its thread row";

    // The tray's cadence past the window, then several refreshes at one time.
    auto tray = statusServiceOn(home, true, noProcesses);
    for (double offset : {0.0, 5.0, 10.0, 15.0, 20.0, 25.0, 30.0, 45.0, 45.0, 45.0, 45.0, 60.0}) {
        const AgentStatusSnapshot shown = tray->snapshot(start + offset, codexOnly);
        EXPECT_EQ(shownIDs(shown, "Codex"), running) << "at +" << offset << " s";
        EXPECT_EQ(shown.providerSnapshots.at(0).state, AgentRunState::inProgress) << "at +" << offset << " s";
    }
}

TEST(LongRunningService, ShowsWhatAFreshServiceShowsAtEveryStepOfAQuietTimeline) {
    brindleaf::testing::TempDir dir;
    const Date start = std::floor(currentDate());
    const bench::GeneratedHome home = smallHome(dir.path(), start);
    bench::LiveProcessSet live(home);
    const ProcessSampleList table = processesOf(live);
    ASSERT_FALSE(table.empty()) << "the home's processes are running";
    const ProcessSnapshotReader processes = [table] { return table; };

    // Refreshes at the tray's pace, broken by quiet stretches longer than the
    // 5-second strong lease, the 20-second weak leases and log window, the
    // providers' 3- to 30-minute staleness windows and, last, their 8- and
    // 12-hour windows for unfinished work.
    const double steps[] = {0,   2,    5,    10,   15,   20,       25,           30,        60,
                            62,  65,   70,   90,   95,   280,      285,          290,       700,
                            705, 1700, 1705, 3600, 3605, 9 * hour, 9 * hour + 5, 13 * hour, 13 * hour + 5};
    auto tray = statusServiceOn(home, true, processes);
    std::map<std::string, size_t> everShown;
    for (double offset : steps) {
        const Date at = start + offset;
        const AgentStatusSnapshot shown = tray->snapshot(at);
        const AgentStatusSnapshot dumped = statusServiceOn(home, false, processes)->snapshot(at);
        for (const char* agent : {"Codex", "Claude Code", "Hermes"}) {
            EXPECT_EQ(shownIDs(shown, agent), shownIDs(dumped, agent)) << agent << " at +" << offset << " s";
            everShown[agent] += shownIDs(dumped, agent).size();
        }
    }
    for (const char* agent : {"Codex", "Claude Code", "Hermes"})
        EXPECT_GT(everShown[agent], 0u) << "the generated home has " << agent << " sessions at work";
}
