#include "bench/tray/ProcessUsage.hpp"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace brindleaf::bench::ProcessUsage {

namespace {

struct StatLine {
    std::string name;
    double cpuSeconds = 0;
};

// A stat file: "pid (comm) state ppid … utime stime …"; comm may hold spaces
// and parentheses, so the fields are counted from the last ')'.
std::optional<StatLine> readStat(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::vector<std::string> tokens;
    for (std::string token; fields >> token;) tokens.push_back(token);
    // tokens[0] is field 3 (state); utime and stime are fields 14 and 15.
    if (tokens.size() < 13) return std::nullopt;
    static const double ticks = double(::sysconf(_SC_CLK_TCK));
    StatLine line;
    line.name = text.substr(open + 1, close - open - 1);
    line.cpuSeconds = (std::stod(tokens[11]) + std::stod(tokens[12])) / ticks;
    return line;
}

} // namespace

std::optional<double> cpuSeconds(pid_t pid) {
    auto line = readStat("/proc/" + std::to_string(pid) + "/stat");
    if (!line) return std::nullopt;
    return line->cpuSeconds;
}

std::optional<Resident> resident(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    Resident found;
    bool any = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("VmRSS:")) {
            found.total = std::stol(line.substr(6));
            any = true;
        } else if (line.starts_with("RssAnon:")) {
            found.anonymous = std::stol(line.substr(8));
        } else if (line.starts_with("RssFile:")) {
            found.fileBacked = std::stol(line.substr(8));
        }
    }
    if (!any) return std::nullopt;
    return found;
}

std::vector<ThreadTime> threadTimes(pid_t pid) {
    std::vector<ThreadTime> threads;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        auto line = readStat(entry.path() / "stat");
        if (!line) continue;
        threads.push_back({std::stoi(entry.path().filename().string()), line->name, line->cpuSeconds});
    }
    return threads;
}

std::vector<ThreadTime> threadDeltas(const std::vector<ThreadTime>& before, const std::vector<ThreadTime>& after) {
    std::map<int, double> earlier;
    for (const auto& thread : before) earlier[thread.tid] = thread.cpuSeconds;
    std::vector<ThreadTime> deltas;
    for (const auto& thread : after) {
        auto found = earlier.find(thread.tid);
        deltas.push_back({thread.tid, thread.name, thread.cpuSeconds - (found == earlier.end() ? 0 : found->second)});
    }
    std::sort(deltas.begin(), deltas.end(), [](const auto& a, const auto& b) { return a.cpuSeconds > b.cpuSeconds; });
    return deltas;
}

} // namespace brindleaf::bench::ProcessUsage
