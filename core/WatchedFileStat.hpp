#pragma once
#include "core/FileStat.hpp"
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brindleaf {

class FileEventSource; // platform/FileEventSource.hpp

// stat() and directory listings answered from memory while the kernel reports
// no change that could affect them (inotify watches on the folders involved).
// Without inotify every call goes to the file system. One instance per
// provider; calls are serialised internally (thread-safe).
class WatchedFileStat {
public:
    struct Entry {                  // one directory entry, as readdir reports it
        std::string name;           // never "." or ".."
        unsigned char type = 0;     // d_type (DT_UNKNOWN when not reported)
        bool operator==(const Entry&) const = default;
    };

    WatchedFileStat();                                           // inotify when available
    explicit WatchedFileStat(std::unique_ptr<FileEventSource> source); // tests; null = no watching
    ~WatchedFileStat();
    WatchedFileStat(const WatchedFileStat&) = delete;
    WatchedFileStat& operator=(const WatchedFileStat&) = delete;

    // Takes in every change reported since the last call. Call once at the
    // start of each scan: answers then reflect the files as of that moment or later.
    void refresh();

    // As FileStat::info(path): one stat() with links followed; absent on failure.
    std::optional<FileStat::Info> info(const std::string& path);
    bool exists(const std::string& path) { return info(path).has_value(); }

    // The entries of a folder (hidden ones included, "." and ".." not), in
    // readdir order; null when the folder cannot be opened.
    std::shared_ptr<const std::vector<Entry>> entries(const std::string& folder);

    // How much one instance may hold before it drops everything and starts over.
    struct Limits {
        size_t answers = 16384; // paths with a remembered answer or watch
        size_t watches = 4096;  // watched folders
    };
    WatchedFileStat(std::unique_ptr<FileEventSource> source, Limits limits);

    // stat(), lstat() and opendir() calls made so far.
    uint64_t fileSystemCalls() const;
    // Paths currently remembered, and folders currently watched.
    size_t cachedPaths() const;
    size_t watchedFolders() const;

private:
    enum class Chain { Watched, Missing, Unwatchable };

    struct Node {
        int watch = -1;                   // this folder is watched, and so is every folder above it
        bool missing = false;             // this folder is absent (or not a folder); its parent is watched
        uint64_t unwatchableUntil = 0;    // watching failed; try again after this refresh
        bool hasInfo = false;
        std::optional<FileStat::Info> info;
        bool hasListing = false;
        std::shared_ptr<const std::vector<Entry>> listing;
    };
    using NodeMap = std::map<std::string, Node, std::less<>>;

    std::optional<FileStat::Info> statUncached(const std::string& path);
    std::shared_ptr<const std::vector<Entry>> readFolder(const std::string& folder, int* error);
    Chain watchChain(std::string_view folder);
    NodeMap::iterator findNode(std::string_view path);
    NodeMap::iterator addNode(std::string path);
    Node* nodeForAnswer(const std::string& path);
    void makeRoomFor(std::string_view path);
    void apply(int watch, int kind, const std::string& name);
    void invalidate(std::string_view path, bool dropWatches);
    NodeMap::iterator clearNode(NodeMap::iterator it, bool dropWatch);
    void forgetAnswers();
    void reset();

    mutable std::mutex mutex_;
    std::unique_ptr<FileEventSource> source_;
    Limits limits_;
    NodeMap nodes_;                                                      // ordered: a folder's paths are one range
    std::unordered_map<std::string_view, NodeMap::iterator> index_;      // the same nodes, for exact look-ups
    std::unordered_map<int, std::vector<std::string>> pathsByWatch_;
    size_t watchedPaths_ = 0;
    uint64_t generation_ = 1;
    uint64_t fileSystemCalls_ = 0;
};

} // namespace brindleaf
