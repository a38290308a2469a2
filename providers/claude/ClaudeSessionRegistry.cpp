// The engines' session registry ("<claude home>/sessions/<pid>.json").
#include "core/SafeFileReader.hpp"
#include "providers/claude/ClaudeFolderStat.hpp"
#include "providers/claude/ClaudeJSON.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

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
    const int folderFD = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (folderFD < 0) return registry;
    struct stat folderStat {};
    if (::fstat(folderFD, &folderStat) != 0) {
        ::close(folderFD);
        return registry;
    }
    // Adding, removing or renaming an entry changes the folder's modification
    // and change times, so while both (and the folder's identity) are the same
    // the last listing still holds. A listing taken less than
    // `registryListingSettleTime` after the folder last changed is not kept: a
    // change within the same timestamp tick would leave both times as they
    // were.
    std::vector<std::string> paths;
    bool listed = false;
    {
        std::lock_guard<std::mutex> guard(registryListingLock_);
        const auto& cached = cachedRegistryListing_;
        if (cached && cached->folder == folder && cached->device == folderStat.st_dev &&
            cached->inode == folderStat.st_ino && cached->modifiedSeconds == folderStat.st_mtim.tv_sec &&
            cached->modifiedNanoseconds == folderStat.st_mtim.tv_nsec &&
            cached->changedSeconds == folderStat.st_ctim.tv_sec &&
            cached->changedNanoseconds == folderStat.st_ctim.tv_nsec) {
            paths = cached->paths;
            listed = true;
        }
    }
    if (!listed) {
        const Date listedAt = currentDate();
        const int listingFD = ::dup(folderFD);
        DIR* dir = listingFD < 0 ? nullptr : ::fdopendir(listingFD);
        if (!dir) {
            if (listingFD >= 0) ::close(listingFD);
            ::close(folderFD);
            return registry;
        }
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name(entry->d_name);
            if (name.size() >= 5 && name.substr(name.size() - 5) == ".json") {
                std::string path;
                path.reserve(folder.size() + 1 + name.size());
                path.append(folder).append(1, '/').append(name);
                paths.push_back(std::move(path));
            }
        }
        ::closedir(dir);
        const auto seconds = [](const timespec& time) {
            return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
        };
        const bool settled = listedAt - std::max(seconds(folderStat.st_mtim), seconds(folderStat.st_ctim)) >=
                             registryListingSettleTime;
        std::lock_guard<std::mutex> guard(registryListingLock_);
        if (settled) {
            cachedRegistryListing_ = CachedRegistryListing{
                folder,
                static_cast<uint64_t>(folderStat.st_dev),
                static_cast<uint64_t>(folderStat.st_ino),
                static_cast<int64_t>(folderStat.st_mtim.tv_sec),
                static_cast<int64_t>(folderStat.st_mtim.tv_nsec),
                static_cast<int64_t>(folderStat.st_ctim.tv_sec),
                static_cast<int64_t>(folderStat.st_ctim.tv_nsec),
                paths,
            };
        } else {
            cachedRegistryListing_.reset();
        }
    }
    const size_t nameOffset = folder.size() + 1;
    for (const auto& path : paths) {
        // Unchanged registry files are not read again.
        const auto info = claudefolder::infoAt(folderFD, path.c_str() + nameOffset);
        auto entry = registryCache_.value(path, std::string(), info, [&] {
            return parseRegistryEntry(SafeFileReader::readSmallFile(path, SafeFileReader::smallFileLimit));
        });
        if (entry) registry[entry->first] = entry->second;
    }
    ::close(folderFD);
    return registry;
}

} // namespace brindleaf
