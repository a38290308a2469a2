// The engines' session registry ("<claude home>/sessions/<pid>.json").
#include "core/SafeFileReader.hpp"
#include "core/TolerantJSON.hpp"
#include "providers/claude/ClaudeJSON.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

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
    if (TolerantJSON::parse(parser, *contents).get_object().get(root) != simdjson::SUCCESS) return std::nullopt;
    auto pidValue = claudejson::field(root, "pid");
    auto sessionID = claudejson::nonEmptyText(root, "sessionId");
    if (!pidValue || !sessionID) return std::nullopt;
    auto pid = processID(*pidValue);
    if (!pid) return std::nullopt;
    return std::make_pair(*pid, std::string(*sessionID));
}

} // namespace

std::map<int64_t, std::string> ClaudeStatusProvider::readSessionPIDs(const std::string& folder) {
    watched_.refresh();
    return *sessionRegistry(folder);
}

std::shared_ptr<const ClaudeStatusProvider::Registry> ClaudeStatusProvider::sessionRegistry(const std::string& folder) {
    static const auto none = std::make_shared<const Registry>();
    const auto entries = watched_.entries(folder);
    if (!entries) return none;
    // The state of every ".json" entry; while the listing and all of them are
    // as last time, so is the registry.
    std::vector<std::optional<FileStat::Info>> files;
    files.reserve(entries->size());
    std::string path;
    path.reserve(folder.size() + 32);
    path.append(folder).append(1, '/');
    const size_t nameOffset = path.size();
    for (const auto& entry : *entries) {
        const std::string_view name(entry.name);
        if (name.size() < 5 || name.substr(name.size() - 5) != ".json") continue;
        path.resize(nameOffset);
        path.append(name);
        files.push_back(watched_.info(path));
    }
    {
        std::lock_guard<std::mutex> guard(registryLock_);
        if (cachedRegistry_ && cachedRegistry_->folder == folder &&
            (cachedRegistry_->entries == entries || *cachedRegistry_->entries == *entries) &&
            cachedRegistry_->files == files) {
            return cachedRegistry_->registry;
        }
    }
    auto registry = std::make_shared<Registry>();
    size_t fileIndex = 0;
    for (const auto& entry : *entries) {
        const std::string_view name(entry.name);
        if (name.size() < 5 || name.substr(name.size() - 5) != ".json") continue;
        const auto& info = files[fileIndex++];
        if (!info) continue; // gone: nothing to read
        path.resize(nameOffset);
        path.append(name);
        // Unchanged registry files are not read again.
        auto parsed = registryCache_.value(path, std::string(), info, [&] {
            return parseRegistryEntry(SafeFileReader::readSmallFile(path, SafeFileReader::smallFileLimit));
        });
        if (parsed) (*registry)[parsed->first] = std::move(parsed->second);
    }
    std::shared_ptr<const Registry> result = std::move(registry);
    std::lock_guard<std::mutex> guard(registryLock_);
    cachedRegistry_ = CachedRegistry{folder, entries, std::move(files), result};
    return result;
}

} // namespace brindleaf
