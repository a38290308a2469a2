#include "platform/KonsoleTabs.hpp"

#include "platform/SessionBus.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>
#include <unistd.h>

namespace brindleaf {

namespace {

constexpr const char* sessionInterface = "org.kde.konsole.Session";
constexpr const char* windowInterface = "org.kde.konsole.Window";

std::optional<int64_t> number(std::string_view text) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

// The numbered child objects of `path` ("/Sessions" has 1, 2, …), in order.
std::optional<std::vector<int32_t>> numberedChildren(SessionBus& bus, const std::string& service,
                                                     const std::string& path) {
    const auto names = bus.childNodes(service, path);
    if (!names) return std::nullopt;
    std::vector<int32_t> numbers;
    for (const std::string& name : *names)
        if (const auto value = number(name); value && *value > 0 && *value <= INT32_MAX)
            numbers.push_back(static_cast<int32_t>(*value));
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// The bus name of konsole process `konsole`, when that process of this user owns it.
std::optional<std::string> serviceOf(SessionBus& bus, int64_t konsole) {
    for (const std::string& name : {"org.kde.konsole-" + std::to_string(konsole), std::string("org.kde.konsole")})
        if (const auto owner = bus.ownerOf(name); owner && owner->process == konsole && owner->user == getuid())
            return name;
    return std::nullopt;
}

} // namespace

std::optional<KonsoleTabs::Tab> KonsoleTabs::tabOf(int64_t konsole, const std::vector<int64_t>& processes) const {
    SessionBus bus;
    if (!bus.isConnected()) return std::nullopt;
    Tab tab;
    if (auto service = serviceOf(bus, konsole))
        tab.service = std::move(*service);
    else
        return std::nullopt;

    // The session whose process is the nearest of the ancestors.
    const auto sessions = numberedChildren(bus, tab.service, "/Sessions");
    if (!sessions) return std::nullopt;
    std::map<int32_t, int64_t> processOf;
    auto nearest = processes.end();
    for (const int32_t session : *sessions) {
        const auto process = SessionBus::first<int64_t>(
            bus.call(tab.service, "/Sessions/" + std::to_string(session), sessionInterface, "processId"));
        if (!process) return std::nullopt;
        processOf[session] = *process;
        if (const auto at = std::find(processes.begin(), processes.end(), *process); at < nearest) {
            nearest = at;
            tab.session = session;
        }
    }
    if (nearest == processes.end()) return std::nullopt;

    // The window holding it.
    const auto windows = numberedChildren(bus, tab.service, "/Windows");
    if (!windows) return std::nullopt;
    std::vector<int64_t> inWindow;
    size_t windowIndex = 0;
    for (size_t index = 0; index < windows->size() && tab.window.empty(); ++index) {
        const std::string path = "/Windows/" + std::to_string((*windows)[index]);
        const auto list =
            SessionBus::first<std::vector<std::string>>(bus.call(tab.service, path, windowInterface, "sessionList"));
        if (!list) return std::nullopt;
        if (std::find(list->begin(), list->end(), std::to_string(tab.session)) == list->end()) continue;
        tab.window = path;
        windowIndex = index;
        inWindow.push_back(processOf[tab.session]);
        for (const std::string& other : *list)
            if (const auto id = number(other); id && *id != tab.session && processOf.count(static_cast<int32_t>(*id)))
                inWindow.push_back(processOf[static_cast<int32_t>(*id)]);
    }
    if (tab.window.empty()) return std::nullopt;

    // Its X window. The main windows' X windows are known, but not which of
    // them holds /Windows/N: konsole starts each tab's process with the
    // window it opened in (KONSOLE_DBUS_WINDOW) and that window's X window
    // (WINDOWID), which pairs them as long as such a tab lives. Else the
    // windows pair in the order they were made (the X server hands one
    // client its window ids in increasing order, and konsole numbers its
    // windows that way too).
    std::vector<uint32_t> xWindows;
    const auto mainWindows = bus.childNodes(tab.service, "/konsole");
    if (!mainWindows) return tab;
    for (const std::string& name : *mainWindows) {
        if (name.rfind("MainWindow_", 0) != 0) continue;
        const auto id =
            SessionBus::first<int64_t>(bus.call(tab.service, "/konsole/" + name, "org.kde.KMainWindow", "winId"));
        if (!id || *id <= 0 || *id > UINT32_MAX) return tab;
        xWindows.push_back(static_cast<uint32_t>(*id));
    }
    std::sort(xWindows.begin(), xWindows.end());
    if (xWindows.size() == 1 && windows->size() == 1) {
        tab.xWindow = xWindows.front();
        return tab;
    }
    for (const int64_t process : inWindow) {
        const auto environment = lineage_.environmentOf(process);
        if (!environment) continue;
        const auto window = environment->find("KONSOLE_DBUS_WINDOW");
        const auto windowID = environment->find("WINDOWID");
        if (window == environment->end() || window->second != tab.window || windowID == environment->end()) continue;
        const auto id = number(windowID->second);
        if (id && *id > 0 && *id <= UINT32_MAX &&
            std::binary_search(xWindows.begin(), xWindows.end(), static_cast<uint32_t>(*id))) {
            tab.xWindow = static_cast<uint32_t>(*id);
            return tab;
        }
    }
    if (xWindows.size() == windows->size()) tab.xWindow = xWindows[windowIndex];
    return tab;
}

bool KonsoleTabs::isCurrent(const Tab& tab) const {
    SessionBus bus;
    return SessionBus::first<int64_t>(bus.call(tab.service, tab.window, windowInterface, "currentSession")) ==
           tab.session;
}

bool KonsoleTabs::select(const Tab& tab) const {
    SessionBus bus;
    return bus.call(tab.service, tab.window, windowInterface, "setCurrentSession", {tab.session}).has_value();
}

} // namespace brindleaf
