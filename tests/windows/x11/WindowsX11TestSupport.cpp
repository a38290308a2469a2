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

X11WindowProbe::X11WindowProbe()
    : connection_(xcb_connect(nullptr, nullptr)),
      root_(xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root) {}

X11WindowProbe::~X11WindowProbe() { xcb_disconnect(connection_); }

xcb_atom_t X11WindowProbe::atom(const char* name) {
    auto cookie = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

std::optional<std::vector<std::uint32_t>> X11WindowProbe::property(xcb_window_t window, xcb_atom_t name) {
    auto cookie = xcb_get_property(connection_, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 64);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
    if (!reply) return std::nullopt;
    std::optional<std::vector<std::uint32_t>> values;
    if (reply->format == 32) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        values.emplace(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

void X11WindowProbe::requestIconic(xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_CHANGE_STATE");
    event.data.data32[0] = 3; // IconicState
    xcb_send_event(connection_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection_);
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
