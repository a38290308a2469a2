#include "tests/windows/x11/WindowsX11TestSupport.hpp"

#include "tests/support/IsolatedUserFolders.hpp"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace brindleaf::testing {

namespace {
// Set before main: nothing of this binary writes outside a temporary folder.
const IsolatedUserFolders isolatedUserFolders;
} // namespace

QApplication& x11Application() {
    static int argc = 1;
    static char name[] = "windows_x11_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app =
        qobject_cast<QApplication*>(QCoreApplication::instance()) ?: new QApplication(argc, argv);
    return *app;
}

bool processEventsUntil(const std::function<bool()>& condition) {
    QElapsedTimer bound;
    bound.start();
    while (!condition()) {
        if (bound.elapsed() > 30'000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

::testing::AssertionResult X11WindowProbe::requestIconic(xcb_window_t window) {
    return ask(window, "WM_CHANGE_STATE", {3 /* IconicState */, 0, 0, 0, 0});
}

bool X11WindowProbe::isViewable(xcb_window_t window) {
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr);
    const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}

bool X11WindowProbe::hasState(xcb_window_t window, const std::string& state) {
    const auto states = property(window, atom("_NET_WM_STATE"));
    return states && std::find(states->begin(), states->end(), atom(state.c_str())) != states->end();
}

std::optional<std::uint32_t> X11WindowProbe::motifFunctions(xcb_window_t window) {
    const auto hints = property(window, atom("_MOTIF_WM_HINTS"));
    if (!hints || hints->size() < 2 || !((*hints)[0] & 1u)) return std::nullopt;
    return (*hints)[1];
}

std::optional<X11WindowProbe::SizeLimits> X11WindowProbe::sizeLimits(xcb_window_t window) {
    const auto hints = property(window, XCB_ATOM_WM_NORMAL_HINTS);
    constexpr std::uint32_t minSize = 1u << 4, maxSize = 1u << 5;
    if (!hints || hints->size() < 9 || ((*hints)[0] & (minSize | maxSize)) != (minSize | maxSize)) return std::nullopt;
    const auto value = [&](std::size_t i) { return static_cast<std::int32_t>((*hints)[i]); };
    return SizeLimits{value(5), value(6), value(7), value(8)};
}

} // namespace brindleaf::testing
