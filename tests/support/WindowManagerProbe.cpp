#include "tests/support/WindowManagerProbe.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace brindleaf::testing {

namespace {

std::string hex(std::uint32_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

const char* displayName() {
    const char* display = std::getenv("DISPLAY");
    return display ? display : "(no DISPLAY)";
}

} // namespace

WindowManagerProbe::WindowManagerProbe() : connection_(xcb_connect(nullptr, nullptr)) {
    if (!xcb_connection_has_error(connection_)) root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
}

WindowManagerProbe::~WindowManagerProbe() { xcb_disconnect(connection_); }

xcb_atom_t WindowManagerProbe::atom(const char* name) {
    auto cookie = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

std::string WindowManagerProbe::atomName(xcb_atom_t atom) {
    xcb_get_atom_name_reply_t* reply =
        xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), nullptr);
    std::string name = reply ? std::string(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply))
                             : "atom " + std::to_string(atom);
    std::free(reply);
    return name;
}

std::optional<std::vector<std::uint32_t>> WindowManagerProbe::property(xcb_window_t window, xcb_atom_t name) {
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

std::string WindowManagerProbe::textProperty(xcb_window_t window, xcb_atom_t name) {
    auto cookie = xcb_get_property(connection_, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
    std::string text;
    if (reply && reply->format == 8)
        text.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                    static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return text;
}

std::vector<std::string> WindowManagerProbe::atomNames(xcb_window_t window, const char* name) {
    std::vector<std::string> names;
    if (const auto atoms = property(window, atom(name)))
        for (std::uint32_t value : *atoms) names.push_back(atomName(value));
    return names;
}

std::string WindowManagerProbe::text(xcb_window_t window, const char* name) { return textProperty(window, atom(name)); }

std::optional<xcb_window_t> WindowManagerProbe::checkWindow() {
    const xcb_atom_t check = atom("_NET_SUPPORTING_WM_CHECK");
    const auto named = property(root_, check);
    if (!named || named->empty()) return std::nullopt;
    const auto self = property(named->front(), check);
    if (!self || self->empty() || self->front() != named->front()) return std::nullopt;
    return named->front();
}

std::string WindowManagerProbe::windowManager() {
    if (xcb_connection_has_error(connection_)) return std::string("no connection to the X server ") + displayName();
    const auto check = checkWindow();
    if (!check)
        return std::string("no window manager runs ") + displayName() +
               " (the root's _NET_SUPPORTING_WM_CHECK names no window that names itself; tools/with-xvfb.sh starts "
               "openbox)";
    std::string name = textProperty(*check, atom("_NET_WM_NAME"));
    if (name.empty()) name = "a window manager";
    const auto pid = property(root_, atom("_OPENBOX_PID"));
    if (pid && !pid->empty()) name += " (pid " + std::to_string(pid->front()) + ")";
    return name;
}

::testing::AssertionResult WindowManagerProbe::isRunning() {
    if (!xcb_connection_has_error(connection_) && checkWindow()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << windowManager();
}

::testing::AssertionResult WindowManagerProbe::manages(xcb_window_t window) {
    if (auto running = isRunning(); !running) return running;
    const auto clients = property(root_, atom("_NET_CLIENT_LIST"));
    const bool listed = clients && std::find(clients->begin(), clients->end(), window) != clients->end();
    const auto state = property(window, atom("WM_STATE"));
    if (listed && state && !state->empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << windowManager() << " does not manage window " << hex(window) << " ("
                                         << (listed ? "" : "not in its _NET_CLIENT_LIST, ")
                                         << (state && !state->empty() ? "" : "no WM_STATE, ") << describe(window)
                                         << ")";
}

::testing::AssertionResult WindowManagerProbe::ask(xcb_window_t window, const char* type,
                                                   std::array<std::uint32_t, 5> data) {
    if (auto managed = manages(window); !managed) return managed;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom(type);
    std::copy(data.begin(), data.end(), message.data.data32);
    // Checked, and its answer awaited: the server drops the unread requests of
    // a client that hangs up, and a message sent and left at once is lost
    // whenever the server is slower than this process.
    const xcb_void_cookie_t request = xcb_send_event_checked(
        connection_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&message));
    xcb_generic_error_t* error = xcb_request_check(connection_, request);
    if (!error) return ::testing::AssertionSuccess();
    const int code = error->error_code;
    std::free(error);
    return ::testing::AssertionFailure() << "the X server refused to pass " << type << " for " << hex(window)
                                         << " on to the window manager (X error " << code << ")";
}

std::string WindowManagerProbe::describe(xcb_window_t window) {
    std::ostringstream text;
    text << "window " << hex(window) << ": ";
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr);
    if (!attributes) return text.str() + "gone";
    static const char* const mapStates[] = {"unmapped", "unviewable", "viewable"};
    text << (attributes->map_state <= 2 ? mapStates[attributes->map_state] : "?");
    std::free(attributes);
    const auto state = property(window, atom("WM_STATE"));
    static const char* const wmStates[] = {"Withdrawn", "Normal", "?", "Iconic"};
    text << ", WM_STATE ";
    if (state && !state->empty())
        text << (state->front() <= 3 ? wmStates[state->front()] : "?");
    else
        text << "none";
    text << ", _NET_WM_STATE [";
    if (const auto states = property(window, atom("_NET_WM_STATE")))
        for (std::size_t i = 0; i < states->size(); ++i) text << (i ? " " : "") << atomName((*states)[i]);
    text << "], window manager: " << windowManager();
    return text.str();
}

std::optional<std::array<std::int32_t, 4>> WindowManagerProbe::workArea() {
    const auto values = property(root_, atom("_NET_WORKAREA"));
    if (!values || values->size() < 4) return std::nullopt;
    return std::array<std::int32_t, 4>{static_cast<std::int32_t>((*values)[0]), static_cast<std::int32_t>((*values)[1]),
                                       static_cast<std::int32_t>((*values)[2]),
                                       static_cast<std::int32_t>((*values)[3])};
}

} // namespace brindleaf::testing
