#include "core/WatchedFileStat.hpp"

#include "platform/FileEventSource.hpp"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

namespace brindleaf {

namespace {

// A folder that could not be watched for a reason that sends no event when it
// goes away (a link, no watches left, a network file system) is tried again
// after this many refreshes.
constexpr uint64_t kRetryUnwatchableAfter = 40;

// Every this many refreshes all answers are asked again (watches stay). This
// bounds how long a change the kernel does not report (a write through another
// hard link made after the answer, a write through a shared memory mapping, a
// file system mounted over a watched folder) can go unseen.
constexpr uint64_t kForgetAnswersEvery = 20; // 30 seconds at the tray's 1.5-second refresh

FileStat::Info toInfo(const struct stat& st) {
    FileStat::Info result;
    result.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    result.modifiedAt = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
    return result;
}

// Absolute, without empty, "." or ".." components and without a trailing slash:
// the path names exactly the chain of folders its text shows, links aside.
bool isPlainAbsolute(std::string_view path) {
    if (path.empty() || path[0] != '/') return false;
    if (path.size() == 1) return true;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == "..") return false;
        start = end + 1;
    }
    return true;
}

std::string_view parentOf(std::string_view path) {
    size_t slash = path.rfind('/');
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string childOf(std::string_view folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder);
    if (folder.size() != 1) path.push_back('/');
    path.append(name);
    return path;
}

bool failedForAbsence(int error) {
    return error == ENOENT || error == ENOTDIR;
}

} // namespace

WatchedFileStat::WatchedFileStat() : WatchedFileStat(InotifyFileEventSource::create(), Limits{}) {}

WatchedFileStat::WatchedFileStat(std::unique_ptr<FileEventSource> source)
    : WatchedFileStat(std::move(source), Limits{}) {}

WatchedFileStat::WatchedFileStat(std::unique_ptr<FileEventSource> source, Limits limits)
    : source_(std::move(source)), limits_(limits) {}

WatchedFileStat::~WatchedFileStat() = default;

uint64_t WatchedFileStat::fileSystemCalls() const {
    std::lock_guard lock(mutex_);
    return fileSystemCalls_;
}

size_t WatchedFileStat::cachedPaths() const {
    std::lock_guard lock(mutex_);
    return nodes_.size();
}

size_t WatchedFileStat::watchedFolders() const {
    std::lock_guard lock(mutex_);
    return pathsByWatch_.size();
}

void WatchedFileStat::refresh() {
    std::lock_guard lock(mutex_);
    if (!source_) return;
    ++generation_;
    FileEventSource::ReadResult changes = source_->read();
    if (changes.overflowed) {
        reset();
        return;
    }
    for (const FileEventSource::Event& event : changes.events) apply(event.watch, static_cast<int>(event.kind), event.name);
    if (generation_ % kForgetAnswersEvery == 0) forgetAnswers();
}

std::optional<FileStat::Info> WatchedFileStat::info(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (!source_) return statUncached(path);
    if (auto it = findNode(path); it != nodes_.end() && it->second.hasInfo) return it->second.info;
    if (path.size() < 2 || !isPlainAbsolute(path)) return statUncached(path);

    makeRoomFor(path);
    Chain chain = watchChain(parentOf(path));
    if (chain == Chain::Unwatchable) return statUncached(path);
    if (chain == Chain::Missing) {
        // A folder on the way is absent (or a file): the path cannot exist
        // until an event on the watched folder above says otherwise.
        if (Node* node = nodeForAnswer(path)) {
            node->hasInfo = true;
            node->info.reset();
        }
        return std::nullopt;
    }

    // Everything up to the parent folder is watched: an lstat tells what the
    // path is without following a link, and equals stat() for anything else.
    struct stat st {};
    ++fileSystemCalls_;
    if (::lstat(path.c_str(), &st) != 0) {
        if (!failedForAbsence(errno)) return statUncached(path);
        if (Node* node = nodeForAnswer(path)) {
            node->hasInfo = true;
            node->info.reset();
        }
        return std::nullopt;
    }
    if (S_ISLNK(st.st_mode)) return statUncached(path);
    FileStat::Info value = toInfo(st);
    if (S_ISDIR(st.st_mode)) {
        // A folder's own time changes with its entries, which only its own
        // watch reports.
        auto existing = findNode(path);
        if (existing == nodes_.end() || existing->second.watch < 0) {
            if (watchChain(path) != Chain::Watched) return value;
            ++fileSystemCalls_;
            if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return statUncached(path);
            value = toInfo(st);
        }
    } else if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
        // Writes through another hard link are reported to that link's
        // folder only; devices, pipes and sockets change without events.
        return value;
    }
    if (Node* node = nodeForAnswer(path)) {
        node->hasInfo = true;
        node->info = value;
    }
    return value;
}

std::shared_ptr<const std::vector<WatchedFileStat::Entry>> WatchedFileStat::entries(const std::string& folder) {
    std::lock_guard lock(mutex_);
    int error = 0;
    if (!source_) return readFolder(folder, &error);
    if (auto it = findNode(folder); it != nodes_.end() && it->second.hasListing) return it->second.listing;
    if (!isPlainAbsolute(folder)) return readFolder(folder, &error);

    makeRoomFor(folder);
    Chain chain = watchChain(folder);
    if (chain == Chain::Unwatchable) return readFolder(folder, &error);
    std::shared_ptr<const std::vector<Entry>> listing;
    if (chain == Chain::Watched) {
        listing = readFolder(folder, &error);
        if (error != 0 && (listing || !failedForAbsence(error))) return listing;
    }
    if (Node* node = nodeForAnswer(folder)) {
        node->hasListing = true;
        node->listing = listing;
    }
    return listing;
}

std::optional<FileStat::Info> WatchedFileStat::statUncached(const std::string& path) {
    ++fileSystemCalls_;
    return FileStat::info(path);
}

std::shared_ptr<const std::vector<WatchedFileStat::Entry>> WatchedFileStat::readFolder(const std::string& folder,
                                                                                     int* error) {
    ++fileSystemCalls_;
    *error = 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        *error = errno;
        return nullptr;
    }
    auto result = std::make_shared<std::vector<Entry>>();
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            *error = errno;
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        result->push_back(Entry{name, entry->d_type});
    }
    ::closedir(dir);
    return result;
}

// Watches every folder from "/" down to `folder`, top down, so that each is
// watched before anything below it is looked at.
WatchedFileStat::Chain WatchedFileStat::watchChain(std::string_view folder) {
    if (auto it = findNode(folder); it != nodes_.end() && it->second.watch >= 0) return Chain::Watched;
    size_t length = 1;
    for (;;) {
        std::string_view current = folder.substr(0, length);
        auto it = findNode(current);
        if (it != nodes_.end()) {
            Node& node = it->second;
            if (node.missing) return Chain::Missing;
            if (node.watch < 0 && node.unwatchableUntil > generation_) return Chain::Unwatchable;
        }
        if (it == nodes_.end() || it->second.watch < 0) {
            if (watchedPaths_ >= limits_.watches) return Chain::Unwatchable;
            if (it == nodes_.end() && nodes_.size() >= limits_.answers) return Chain::Unwatchable;
            std::string path(current);
            std::optional<int> watch = source_->watchFolder(path);
            if (it == nodes_.end()) it = addNode(path);
            Node& node = it->second;
            node.unwatchableUntil = 0;
            if (watch) {
                node.watch = *watch;
                pathsByWatch_[*watch].push_back(std::move(path));
                ++watchedPaths_;
            } else {
                // Absent, or a plain file: nothing below it exists, and the
                // watched parent reports when that changes.
                struct stat st {};
                ++fileSystemCalls_;
                bool absent = ::lstat(path.c_str(), &st) != 0 ? failedForAbsence(errno)
                                                               : !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode);
                if (absent && length > 1) {
                    node.missing = true;
                    return Chain::Missing;
                }
                node.unwatchableUntil = generation_ + kRetryUnwatchableAfter;
                return Chain::Unwatchable;
            }
        }
        if (length == folder.size()) return Chain::Watched;
        size_t next = folder.find('/', length + 1);
        length = next == std::string_view::npos ? folder.size() : next;
    }
}

WatchedFileStat::NodeMap::iterator WatchedFileStat::findNode(std::string_view path) {
    auto found = index_.find(path);
    return found == index_.end() ? nodes_.end() : found->second;
}

WatchedFileStat::NodeMap::iterator WatchedFileStat::addNode(std::string path) {
    auto it = nodes_.emplace(std::move(path), Node{}).first;
    index_.emplace(it->first, it);
    return it;
}

WatchedFileStat::Node* WatchedFileStat::nodeForAnswer(const std::string& path) {
    auto it = findNode(path);
    if (it != nodes_.end()) return &it->second;
    if (nodes_.size() >= limits_.answers) return nullptr;
    return &addNode(path)->second;
}

// Starts over when the answers and watches one more path may need would pass
// the limits.
void WatchedFileStat::makeRoomFor(std::string_view path) {
    size_t needed = static_cast<size_t>(std::count(path.begin(), path.end(), '/')) + 2;
    if (nodes_.empty()) return;
    if (nodes_.size() + needed > limits_.answers || watchedPaths_ + needed > limits_.watches) reset();
}

void WatchedFileStat::apply(int watch, int kind, const std::string& name) {
    auto found = pathsByWatch_.find(watch);
    if (found == pathsByWatch_.end()) return;
    const std::vector<std::string> folders = found->second; // invalidation may change the list
    auto what = static_cast<FileEventSource::Kind>(kind);
    if (name.empty() && what != FileEventSource::Kind::FolderGone) what = FileEventSource::Kind::FolderChanged;
    for (const std::string& folder : folders) {
        switch (what) {
        case FileEventSource::Kind::EntryChanged:
            invalidate(childOf(folder, name), false);
            break;
        case FileEventSource::Kind::EntryMoved: {
            // What the name now refers to may be another file or folder: forget
            // the watches below it too. The folder's own time and listing changed.
            invalidate(childOf(folder, name), true);
            if (auto it = findNode(folder); it != nodes_.end()) {
                Node& node = it->second;
                node.hasInfo = false;
                node.info.reset();
                node.hasListing = false;
                node.listing.reset();
            }
            break;
        }
        case FileEventSource::Kind::FolderChanged:
            // Permissions of a folder decide what can be seen below it.
            invalidate(folder, false);
            break;
        case FileEventSource::Kind::FolderGone:
            invalidate(folder, true);
            break;
        }
    }
}

// Forgets the answers for `path` and everything below it; with `dropWatches`,
// also the watches, as the names may now lead to other folders.
void WatchedFileStat::invalidate(std::string_view path, bool dropWatches) {
    if (auto it = findNode(path); it != nodes_.end()) clearNode(it, dropWatches);
    std::string prefix(path);
    if (prefix.size() != 1) prefix.push_back('/');
    auto it = nodes_.lower_bound(prefix);
    while (it != nodes_.end() && it->first.starts_with(prefix)) {
        if (it->first.size() == prefix.size()) { // "/" itself
            ++it;
            continue;
        }
        it = clearNode(it, dropWatches);
    }
}

WatchedFileStat::NodeMap::iterator WatchedFileStat::clearNode(NodeMap::iterator it, bool dropWatch) {
    Node& node = it->second;
    node.hasInfo = false;
    node.info.reset();
    node.hasListing = false;
    node.listing.reset();
    node.missing = false;
    node.unwatchableUntil = 0;
    if (dropWatch && node.watch >= 0) {
        auto paths = pathsByWatch_.find(node.watch);
        if (paths != pathsByWatch_.end()) {
            auto& list = paths->second;
            list.erase(std::remove(list.begin(), list.end(), it->first), list.end());
            if (list.empty()) {
                pathsByWatch_.erase(paths);
                source_->unwatch(node.watch);
            }
        }
        --watchedPaths_;
        node.watch = -1;
    }
    if (node.watch >= 0) return std::next(it);
    index_.erase(it->first);
    return nodes_.erase(it);
}

void WatchedFileStat::forgetAnswers() {
    for (auto it = nodes_.begin(); it != nodes_.end();) it = clearNode(it, false);
}

void WatchedFileStat::reset() {
    for (const auto& entry : pathsByWatch_) source_->unwatch(entry.first);
    pathsByWatch_.clear();
    index_.clear();
    nodes_.clear();
    watchedPaths_ = 0;
}

} // namespace brindleaf
