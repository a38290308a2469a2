// The dashboard in every state: sample data, the typical sessions, empty, no
// folder access, thirteen sessions, errors, no agent readable, the stale row,
// refreshing, an update pending and screenshot mode; light and dark at 1x and 2x.
#include "presentation/DashboardPanel.hpp"
#include "presentation/PlatformStyle.hpp"
#include "presentation/StatusDashboardView.hpp"
#include "tools/gallery/GalleryRegistry.hpp"
#include "tools/gallery/StatusSurfaceFixtures.hpp"

#include <functional>

namespace brindleaf::gallery {

namespace {

struct State {
    const char* name;
    std::function<AgentStatusSnapshot()> snapshot;
    std::function<void(StatusSurfaceFixture&, StatusDashboardView&)> prepare;
};

void renderDashboard(GalleryOutput& output) {
    using F = StatusSurfaceFixture;
    auto none = [](F&, StatusDashboardView&) {};
    const State states[] = {
        {"sessions", [] { return F::snapshot(F::typicalSessions()); }, none},
        {"sample-data", [] { return F::snapshot({}); },
         [](F& f, StatusDashboardView&) { f.settings->setShowingSampleData(true); }},
        {"screenshot-mode", [] { return F::snapshot({}); },
         [](F& f, StatusDashboardView& view) {
             f.settings->setShowingSampleData(true);
             view.setScreenshotMode(true);
         }},
        {"empty", [] { return F::snapshot({}); }, none},
        {"no-access", [] { return F::snapshot({}); },
         [](F& f, StatusDashboardView& view) {
             f.access->missing = {"codex"};
             f.access->granted = {"claude", "hermes"};
             view.scheduleApply();
         }},
        {"thirteen-sessions", [] { return F::snapshot(F::manySessions(13)); }, none},
        {"errors",
         [] {
             return F::snapshot({F::typicalSessions()[1]},
                                {{"Codex", {"Codex state database is locked", "cannot read <logs_1.sqlite>"}},
                                 {"Hermes", {"Hermes detection timed out; showing the last known state"}}});
         },
         none},
        {"unavailable",
         [] {
             auto snapshot = F::snapshot(
                 {}, {{"Codex", {"Codex detection timed out after 5s; showing last known state."}},
                      {"Claude Code", {"Claude Code detection timed out after 5s; showing last known state."}},
                      {"Hermes", {"Hermes detection timed out after 5s; showing last known state."}}});
             snapshot.state = AgentRunState::unknown;
             return snapshot;
         },
         none},
        {"stale-row", [] { return F::snapshot({F::typicalSessions()[0]}, {}, 2); }, none},
        {"refreshing", [] { return F::snapshot(F::typicalSessions()); },
         [](F& f, StatusDashboardView&) { f.model->beginManualRefresh(); }},
        {"update-pending", [] { return F::snapshot({F::typicalSessions()[3]}); },
         [](F&, StatusDashboardView& view) { view.setPendingUpdateVersion("1.4.0"); }},
    };
    for (const bool dark : {false, true}) {
        usePalette(dark ? PlatformStyle::darkPalette() : PlatformStyle::lightPalette());
        for (const auto& state : states) {
            F fixture(state.snapshot());
            auto* view = new StatusDashboardView(*fixture.model);
            view->setClock([] { return Date(GalleryOutput::fixedNow); });
            view->setHostScreen(nullptr);
            view->setScreenshotMode(false);
            state.prepare(fixture, *view);
            fixture.settle();
            DashboardPanel panel(view);
            for (const int ratio : {1, 2})
                output.savePNG(
                    QStringLiteral("dashboard/%1-%2@%3x").arg(state.name, dark ? "dark" : "light").arg(ratio),
                    renderWidget(panel, ratio));
        }
    }
    usePalette(PlatformStyle::lightPalette());
}

const bool registered = registerGalleryPage({"dashboard", renderDashboard});

} // namespace

} // namespace brindleaf::gallery
