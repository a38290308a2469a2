#include "platform/DeviceName.hpp"

#include "platform/RegularFile.hpp"

#include <climits>
#include <sstream>
#include <unistd.h>

namespace brindleaf {

namespace {

constexpr std::size_t maximumMachineInfoSize = 64 * 1024;

std::string readMachineInfo(const std::filesystem::path& path) {
    return readRegularFile(path.string(), maximumMachineInfoSize).value_or(std::string());
}

// Undoes the quoting of an environment-style value: single quotes keep their
// contents, double quotes and bare text honour backslash escapes.
std::string unquote(const std::string& raw) {
    std::string out;
    char quote = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0;
            else out += c;
        } else if (c == '\\' && i + 1 < raw.size()) {
            out += raw[++i];
        } else if (quote == '"') {
            if (c == '"') quote = 0;
            else out += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else {
            out += c;
        }
    }
    return out;
}

std::string trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

} // namespace

std::string DeviceName::prettyHostName(const std::string& machineInfoText) {
    std::istringstream lines(machineInfoText);
    std::string line;
    std::string value;
    while (std::getline(lines, line)) {
        std::string text = trimmed(line);
        if (text.empty() || text[0] == '#') continue;
        auto equals = text.find('=');
        if (equals == std::string::npos) continue;
        if (trimmed(text.substr(0, equals)) != "PRETTY_HOSTNAME") continue;
        value = unquote(trimmed(text.substr(equals + 1)));
    }
    return trimmed(value);
}

std::string DeviceName::hostName() {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return buffer;
}

std::string DeviceName::fromMachineInfo(const std::filesystem::path& machineInfoPath) {
    std::string pretty = prettyHostName(readMachineInfo(machineInfoPath));
    if (!pretty.empty()) return pretty;
    return hostName();
}

std::string DeviceName::current() { return fromMachineInfo("/etc/machine-info"); }

} // namespace brindleaf
