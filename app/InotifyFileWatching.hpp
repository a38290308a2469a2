#pragma once

#include "app/FileWatching.hpp"

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace brindleaf {

// A file watcher on inotify with a thread of its own that sleeps in poll()
// until the kernel reports something. Each watched path that is a folder is
// watched itself; every watched path's parent folder is watched too, so a
// path that does not exist yet is reported when it appears.
//
// What is reported: a watched file when its content or attributes change or
// it is replaced; a watched folder when an entry is added, removed or
// renamed, or its own attributes change (not when a file inside it is only
// written); a watched path that appears. Entries added, removed or renamed
// in any watched folder re-bind the watches.
class InotifyFileWatching final : public FileWatching {
public:
    InotifyFileWatching();
    ~InotifyFileWatching() override;
    InotifyFileWatching(const InotifyFileWatching&) = delete;
    InotifyFileWatching& operator=(const InotifyFileWatching&) = delete;

    void watch(std::vector<std::string> paths, Callback onChange) override;
    void stop() override;

    // Folders with a kernel watch now, for tests.
    std::size_t watchedFolderCount() const;

private:
    struct Folder {
        std::string path;
        bool reports = false; // the folder is itself a watched path
    };

    void loop();
    // Returns the watched paths that exist now but did not at the last binding.
    std::vector<std::string> rebindLocked();
    void cancelLocked();

    int inotify_ = -1;
    int wake_ = -1;
    // Held while callbacks run, so stop() returns only once none runs; recursive
    // so that a callback may call stop() or watch() itself.
    std::recursive_mutex delivery_;
    mutable std::mutex mutex_;
    bool stopping_ = false;
    std::uint64_t generation_ = 0;
    std::vector<std::string> paths_;
    std::set<std::string> pathSet_;
    std::set<std::string> existing_;
    std::map<int, Folder> folders_;
    Callback callback_;
    std::thread thread_;
};

} // namespace brindleaf
