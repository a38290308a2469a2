// The engines' session registry ("<claude home>/sessions/<pid>.json").
#include "core/ProcessResourceSampler.hpp"
#include "core/SafeFileReader.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

#include <chrono>
#include <thread>
#include <unordered_set>

namespace brindleaf {

namespace {

// The engine rewrites its file in place (the new text over the old, then the
// file is cut to the new length), so a read in between sees the new text
// followed by the end of the old one. Such a read is tried again a little later.
constexpr int registryReadTries = 3;
constexpr std::chrono::milliseconds registryRetryPause{4}; // doubled after each try

bool isRegistryFileName(std::string_view name) { return name.size() >= 5 && name.substr(name.size() - 5) == ".json"; }

} // namespace

std::optional<ClaudeSessionRegistryEntry> ClaudeStatusProvider::readRegistryFile(const std::string& path) {
    auto pause = registryRetryPause;
    for (int attempt = 1;; ++attempt) {
        const auto contents = SafeFileReader::readSmallFile(path, SafeFileReader::smallFileLimit);
        if (!contents) return std::nullopt; // gone or unreadable: there is nothing to read
        if (auto entry = ClaudeSessionRegistryEntry::parse(*contents)) {
            std::lock_guard<std::mutex> guard(lastGoodRegistryLock_);
            lastGoodRegistryEntries_.insert_or_assign(path, *entry);
            return entry;
        }
        if (attempt == registryReadTries) break;
        std::this_thread::sleep_for(pause);
        pause *= 2;
    }
    // Still not whole: what the file said last stands.
    std::lock_guard<std::mutex> guard(lastGoodRegistryLock_);
    if (auto it = lastGoodRegistryEntries_.find(path); it != lastGoodRegistryEntries_.end()) return it->second;
    return std::nullopt;
}

std::map<int64_t, std::string> ClaudeStatusProvider::readSessionPIDs(const std::string& folder) {
    watched_.refresh();
    return *checkedRegistry(*registryEntries(folder)).pids;
}

std::shared_ptr<const ClaudeStatusProvider::RegistryEntries> ClaudeStatusProvider::registryEntries(
    const std::string& folder) {
    // Never destroyed: a scan still running while the process exits may hand it out.
    static const auto& none = *new std::shared_ptr<const RegistryEntries>(std::make_shared<const RegistryEntries>());
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
        if (!isRegistryFileName(entry.name)) continue;
        path.resize(nameOffset);
        path.append(entry.name);
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
    auto registry = std::make_shared<RegistryEntries>();
    std::unordered_set<std::string> listed;
    size_t fileIndex = 0;
    for (const auto& entry : *entries) {
        if (!isRegistryFileName(entry.name)) continue;
        const auto& info = files[fileIndex++];
        if (!info) continue; // gone: nothing to read
        path.resize(nameOffset);
        path.append(entry.name);
        listed.insert(path);
        // Unchanged registry files are not read again.
        auto parsed = registryCache_.value(path, std::string(), info, [&] { return readRegistryFile(path); });
        if (parsed) registry->push_back(std::move(*parsed));
    }
    {
        std::lock_guard<std::mutex> guard(lastGoodRegistryLock_);
        std::erase_if(lastGoodRegistryEntries_, [&](const auto& item) { return !listed.count(item.first); });
    }
    std::shared_ptr<const RegistryEntries> result = std::move(registry);
    std::lock_guard<std::mutex> guard(registryLock_);
    cachedRegistry_ = CachedRegistry{folder, entries, std::move(files), result};
    return result;
}

ClaudeStatusProvider::CheckedRegistry ClaudeStatusProvider::checkedRegistry(const RegistryEntries& entries) {
    auto pids = std::make_shared<Registry>();
    CheckedRegistry checked;
    for (const ClaudeSessionRegistryEntry& entry : entries) {
        // A file counts for its engine only while the process with its pid is
        // the one that wrote it: started at the time the file names. The start
        // time is read afresh, as a pid can be taken again within seconds.
        std::optional<bool> sameProcess;
        if (entry.procStart) {
            const auto ticks = ProcessResourceSampler::startTicks(entry.pid);
            if (ticks) sameProcess = *ticks == *entry.procStart;
        }
        if (sameProcess == std::optional<bool>(false)) continue; // the pid belongs to another process now
        (*pids)[entry.pid] = entry.sessionID;
        if (!sameProcess || !entry.status) continue;
        auto [it, added] = checked.live.try_emplace(entry.sessionID, entry);
        const auto changedAt = [](const ClaudeSessionRegistryEntry& e) {
            return e.statusUpdatedAt ? e.statusUpdatedAt : e.updatedAt;
        };
        if (!added && changedAt(entry) > changedAt(it->second)) it->second = entry;
    }
    std::lock_guard<std::mutex> guard(registryLock_);
    // The same pids as last time are handed out as the same map, so that the
    // liveness index built from it is reused.
    if (lastEnginePIDs_ && *lastEnginePIDs_ == *pids) {
        checked.pids = lastEnginePIDs_;
    } else {
        lastEnginePIDs_ = std::move(pids);
        checked.pids = lastEnginePIDs_;
    }
    return checked;
}

} // namespace brindleaf
