// The floating status window idle, working, waiting, with twenty sessions and
// with no agent readable, light and dark at 1x and 2x, fitted to its content
// as it would open.
#include "presentation/FloatingStatusContentView.hpp"
#include "presentation/PlatformStyle.hpp"
#include "tools/gallery/GalleryRegistry.hpp"
#include "tools/gallery/StatusSurfaceFixtures.hpp"
#include "windows/FloatingStatusWindow.hpp"
#include "windows/FloatingWindowGeometry.hpp"

#include <cmath>

namespace brindleaf::gallery {

namespace {

void renderFloatingWindow(GalleryOutput& output) {
    using F = StatusSurfaceFixture;
    struct State {
        const char* name;
        std::vector<AgentSession> sessions;
        AgentRunState state = AgentRunState::complete; // unknown: no agent could be read
    };
    auto typical = F::typicalSessions();
    const State states[] = {
        {"idle", {}},
        {"working", typical},
        {"waiting", {typical[1]}},
        {"twenty-sessions", F::manySessions(20)},
        {"unavailable", {}, AgentRunState::unknown},
    };
    for (const bool dark : {false, true}) {
        usePalette(dark ? PlatformStyle::darkPalette() : PlatformStyle::lightPalette());
        for (const bool translucent : {true, false}) {
            for (const auto& state : states) {
                if (!translucent && std::string(state.name) != "working") continue;
                auto snapshot = F::snapshot(state.sessions);
                if (state.state == AgentRunState::unknown) snapshot.state = AgentRunState::unknown;
                F fixture(std::move(snapshot));
                double height = 0;
                auto* content = new FloatingStatusContentView(*fixture.model, {}, [&height](double h) { height = h; });
                content->setClock([] { return Date(GalleryOutput::fixedNow); });
                content->setScreenshotMode(false);
                fixture.settle();
                FloatingStatusWindow window(content, translucent);
                const auto fit = FloatingWindowGeometry::fit(
                    {0, 0, FloatingWindowGeometry::defaultWidth, FloatingWindowGeometry::defaultHeight}, height,
                    std::nullopt);
                const int windowHeight =
                    int(std::lround(fit ? fit->targetHeight : FloatingWindowGeometry::defaultHeight));
                window.setFixedSize(int(FloatingWindowGeometry::defaultWidth), windowHeight);
                for (const int ratio : {1, 2})
                    output.savePNG(QStringLiteral("floating-window/%1%2-%3@%4x")
                                       .arg(state.name, translucent ? "" : "-no-compositor", dark ? "dark" : "light")
                                       .arg(ratio),
                                   renderWidget(window, ratio));
            }
        }
    }
    usePalette(PlatformStyle::lightPalette());
}

const bool registered = registerGalleryPage({"floating-window", renderFloatingWindow});

} // namespace

} // namespace brindleaf::gallery
