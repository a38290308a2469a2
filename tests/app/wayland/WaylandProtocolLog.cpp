#include "tests/app/wayland/WaylandProtocolLog.hpp"

#include <QRegularExpression>
#include <QString>

#include <map>
#include <sstream>
#include <vector>

namespace brindleaf::testing::WaylandProtocolLog {

namespace {

// "[1234.567]  -> interface@id.request(arguments)"
const QRegularExpression& protocolLine() {
    static const QRegularExpression line(QStringLiteral(R"(^\[\s*\d+\.\d+\] )"));
    return line;
}

// The captures of the first match of a pattern in a line; none without a match.
std::vector<std::string> captures(const QRegularExpression& pattern, const std::string& line) {
    const auto match = pattern.match(QString::fromStdString(line));
    std::vector<std::string> found;
    if (!match.hasMatch()) return found;
    for (int i = 1; i <= pattern.captureCount(); ++i) found.push_back(match.captured(i).toStdString());
    return found;
}

struct Toplevel {
    std::string surface;
    std::string title;
    bool hasBuffer = false;
};

} // namespace

std::set<std::string> shownToplevels(const std::string& log) {
    static const QRegularExpression xdgSurface(
        QStringLiteral(R"(-> xdg_wm_base@\d+\.get_xdg_surface\(new id xdg_surface@(\d+), wl_surface@(\d+)\))"));
    static const QRegularExpression toplevel(
        QStringLiteral(R"(-> xdg_surface@(\d+)\.get_toplevel\(new id xdg_toplevel@(\d+)\))"));
    static const QRegularExpression title(QStringLiteral(R"-(-> xdg_toplevel@(\d+)\.set_title\("(.*)"\))-"));
    static const QRegularExpression destroyed(QStringLiteral(R"(-> xdg_toplevel@(\d+)\.destroy\(\))"));
    static const QRegularExpression attach(QStringLiteral(R"(-> wl_surface@(\d+)\.attach\((\w+))"));
    std::map<std::string, std::string> surfaceOf; // xdg_surface → wl_surface
    std::map<std::string, Toplevel> toplevels;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" -> ") == std::string::npos) continue;
        if (auto m = captures(xdgSurface, line); !m.empty()) {
            surfaceOf[m[0]] = m[1];
        } else if (m = captures(toplevel, line); !m.empty()) {
            toplevels[m[1]] = Toplevel{surfaceOf[m[0]], {}, false};
        } else if (m = captures(title, line); !m.empty()) {
            if (auto found = toplevels.find(m[0]); found != toplevels.end()) found->second.title = m[1];
        } else if (m = captures(destroyed, line); !m.empty()) {
            toplevels.erase(m[0]);
        } else if (m = captures(attach, line); !m.empty()) {
            for (auto& [id, window] : toplevels)
                if (window.surface == m[0]) window.hasBuffer = m[1] != "nil";
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
        if (!protocolLine().match(QString::fromStdString(line)).hasMatch()) others += line + "\n";
    return others;
}

} // namespace brindleaf::testing::WaylandProtocolLog
