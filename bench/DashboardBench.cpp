// The dashboard's costs: re-applying a snapshot of 12 sessions to an open
// dashboard (target: 5 ms) and building the dashboard the first time (30 ms).
#include "core/ProviderCatalog.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/DashboardPanel.hpp"
#include "presentation/StatusDashboardView.hpp"

#include <QApplication>

#include <benchmark/benchmark.h>

using namespace brindleaf;

namespace {

void ensureApplication() {
    if (QApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "brindleaf_bench";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

class AllAccess final : public FolderAccessQuery {
public:
    bool hasMissingFolders(const std::string&) const override { return false; }
    bool hasAccess(const std::string&) const override { return true; }
};

// Twelve sessions over the three agents, with every detail line; `round`
// moves their times and resource use so each snapshot differs.
AgentStatusSnapshot twelveSessions(int round) {
    const char* providers[] = {"Codex", "Claude Code", "Hermes"};
    std::vector<ProviderSnapshot> snapshots;
    const Date now = 1773480413.0 + round * 1.5;
    for (int p = 0; p < 3; ++p) {
        std::vector<AgentSession> sessions;
        for (int i = 0; i < 4; ++i) {
            const int n = p * 4 + i;
            std::string id = "session-";
            id.append(std::to_string(n));
            std::string cwd = "/home/dana/src/project-";
            cwd.append(std::to_string(n));
            sessions.push_back(AgentSession(
                {.id = id,
                 .provider = providers[p],
                 .parentAgentNickname = n % 3 == 0 ? std::optional<std::string>("planner") : std::nullopt,
                 .title = "Refactor the module and write its tests",
                 .cwd = cwd,
                 .lastActivityAt = now - 7.0 * n - round,
                 .evidence = n % 4 == 3 ? "waiting for your choice" : "tool call running",
                 .needsUserAttention = n % 4 == 3,
                 .resourceUsage = SessionResourceUsage(1000 + n, 3.0 + round % 7, (100LL + n) << 20, 1 + n % 3),
                 .runtimeProfile =
                     SessionRuntimeProfile("gpt-5-codex", "high", SessionRuntimeProfileSource::codexThreadStore),
                 .backgroundTaskSummary = n % 5 == 0 ? std::optional<std::string>("npm test") : std::nullopt}));
        }
        snapshots.push_back(ProviderSnapshot::make(providers[p], std::nullopt, std::nullopt, sessions, 0, now, {}));
    }
    return AgentStatusSnapshot::make(std::move(snapshots), now);
}

struct Dashboard {
    ManualMainQueue queue;
    std::shared_ptr<ProviderSettingsStore> settings =
        std::make_shared<ProviderSettingsStore>(UserDefaults::inMemory("dashboard-bench"));
    StatusDashboardModel model{queue,
                               twelveSessions(0),
                               settings,
                               std::make_shared<AllAccess>(),
                               ClearedStaleBaselines{},
                               ProviderCatalog::all()};
};

void DashboardReapply(benchmark::State& state) {
    ensureApplication();
    Dashboard dashboard;
    auto* view = new StatusDashboardView(dashboard.model);
    DashboardPanel panel(view);
    panel.setAttribute(Qt::WA_DontShowOnScreen);
    panel.show();
    QCoreApplication::processEvents();
    int round = 0;
    for (auto _ : state) {
        dashboard.model.setSnapshot(twelveSessions(++round));
        dashboard.queue.drain();
        view->apply();
        // The redraw the new content asks for.
        panel.repaint();
    }
}
BENCHMARK(DashboardReapply)->Name("Dashboard/reapply-12-sessions")->Unit(benchmark::kMillisecond);

void DashboardFirstBuild(benchmark::State& state) {
    ensureApplication();
    Dashboard dashboard;
    for (auto _ : state) {
        auto* view = new StatusDashboardView(dashboard.model);
        DashboardPanel panel(view);
        panel.setAttribute(Qt::WA_DontShowOnScreen);
        panel.show();
        panel.repaint();
        state.PauseTiming();
        panel.hide();
        state.ResumeTiming();
    }
}
BENCHMARK(DashboardFirstBuild)->Name("Dashboard/first-build")->Unit(benchmark::kMillisecond);

} // namespace
