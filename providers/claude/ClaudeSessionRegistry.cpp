// The engines' session registry ("<claude home>/sessions/<pid>.json").
#include "core/SafeFileReader.hpp"
#include "providers/claude/ClaudeJSON.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

#include <dirent.h>

#include <climits>
#include <cmath>

namespace brindleaf {

namespace {

// The integer value of a JSON number that can be a process id; anything else is absent.
std::optional<int64_t> processID(simdjson::dom::element value) {
    int64_t integer;
    if (value.get_int64().get(integer) == simdjson::SUCCESS) {
        if (integer < 1 || integer > INT32_MAX) return std::nullopt;
        return integer;
    }
    double real;
    if (value.get_double().get(real) != simdjson::SUCCESS || !std::isfinite(real)) return std::nullopt;
    real = std::trunc(real);
    if (real < 1 || real > INT32_MAX) return std::nullopt;
    return static_cast<int64_t>(real);
}

std::optional<std::pair<int64_t, std::string>> parseRegistryEntry(const std::optional<std::string>& contents) {
    if (!contents) return std::nullopt;
    simdjson::dom::parser parser;
    simdjson::dom::object root;
    if (parser.parse(*contents).get_object().get(root) != simdjson::SUCCESS) return std::nullopt;
    auto pidValue = claudejson::field(root, "pid");
    auto sessionID = claudejson::nonEmptyText(root, "sessionId");
    if (!pidValue || !sessionID) return std::nullopt;
    auto pid = processID(*pidValue);
    if (!pid) return std::nullopt;
    return std::make_pair(*pid, std::string(*sessionID));
}

} // namespace

std::map<int64_t, std::string> ClaudeStatusProvider::readSessionPIDs(const std::string& folder) {
    std::map<int64_t, std::string> registry;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return registry;
    std::vector<std::string> paths;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() >= 5 && name.substr(name.size() - 5) == ".json") paths.push_back(folder + "/" + std::string(name));
    }
    ::closedir(dir);
    for (const auto& path : paths) {
        // Unchanged registry files are not read again.
        auto entry = registryCache_.value(path, [&] {
            return parseRegistryEntry(SafeFileReader::readSmallFile(path, SafeFileReader::smallFileLimit));
        });
        if (entry) registry[entry->first] = entry->second;
    }
    return registry;
}

} // namespace brindleaf
