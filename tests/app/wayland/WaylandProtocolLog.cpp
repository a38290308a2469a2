#include "tests/app/wayland/WaylandProtocolLog.hpp"

#include <map>
#include <regex>
#include <sstream>

namespace brindleaf::testing::WaylandProtocolLog {

namespace {

// "[1234.567]  -> interface@id.request(arguments)"
const std::regex& protocolLine() {
    static const std::regex line(R"(^\[\s*\d+\.\d+\] )");
    return line;
}

struct Toplevel {
    std::string surface;
    std::string title;
    bool hasBuffer = false;
};

} // namespace

std::set<std::string> shownToplevels(const std::string& log) {
    static const std::regex xdgSurface(
        R"(-> xdg_wm_base@\d+\.get_xdg_surface\(new id xdg_surface@(\d+), wl_surface@(\d+)\))");
    static const std::regex toplevel(R"(-> xdg_surface@(\d+)\.get_toplevel\(new id xdg_toplevel@(\d+)\))");
    static const std::regex title(R"-(-> xdg_toplevel@(\d+)\.set_title\("(.*)"\))-");
    static const std::regex destroyed(R"(-> xdg_toplevel@(\d+)\.destroy\(\))");
    static const std::regex attach(R"(-> wl_surface@(\d+)\.attach\((\w+))");
    std::map<std::string, std::string> surfaceOf; // xdg_surface → wl_surface
    std::map<std::string, Toplevel> toplevels;
    std::istringstream lines(log);
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, match, xdgSurface)) {
            surfaceOf[match[1]] = match[2];
        } else if (std::regex_search(line, match, toplevel)) {
            toplevels[match[2]] = Toplevel{surfaceOf[match[1]], {}, false};
        } else if (std::regex_search(line, match, title)) {
            if (auto found = toplevels.find(match[1]); found != toplevels.end()) found->second.title = match[2];
        } else if (std::regex_search(line, match, destroyed)) {
            toplevels.erase(match[1]);
        } else if (std::regex_search(line, match, attach)) {
            for (auto& [id, window] : toplevels)
                if (window.surface == match[1].str()) window.hasBuffer = match[2] != "nil";
        }
    }
    std::set<std::string> shown;
    for (const auto& [id, window] : toplevels)
        if (window.hasBuffer && !window.title.empty()) shown.insert(window.title);
    return shown;
}

std::string otherLines(const std::string& log) {
    std::istringstream lines(log);
    std::string others;
    for (std::string line; std::getline(lines, line);)
        if (!std::regex_search(line, protocolLine())) others += line + "\n";
    return others;
}

} // namespace brindleaf::testing::WaylandProtocolLog
