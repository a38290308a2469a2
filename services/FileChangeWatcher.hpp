#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brindleaf {

class FileEventSource; // platform/FileEventSource.hpp

// Reports changes to a set of files and folders, so that the application can
// refresh soon after an agent writes instead of waiting for the next poll.
//
// Each watched path that exists is watched itself (links followed); the folder
// above each watched path is watched too, so that a path that appears is
// reported once, and a file replaced by another (deleted, or renamed over) is
// watched again. A change to a watched file reports the file; a change to an
// entry of a watched folder reports that entry's path; the folder itself
// reports its own attribute changes and its removal. Deletions, creations and
// renames of watched paths or of folders on the way to them bind the watches
// again 0.2 seconds after the first event of a burst (later events of the
// burst do not move that time), keeping every watch whose file is unchanged;
// so does a change to a watched file after which its path leads to another
// file (a file renamed over while held open reports only its link count).
// When the kernel lost events, every watched path that exists is reported.
// Paths on network and FUSE file systems are not watched (the poll covers
// them); paths that are not absolute are ignored.
//
// A thread of its own, started by the first watch(), waits for the kernel's
// events and calls the callback; owners hop to their own thread themselves.
// The callback may call watch() and stop(), and may destroy the watcher.
// virtual so that a fake can stand in for it.
class FileChangeWatcher {
public:
    using Callback = std::function<void(const std::string& path)>;
    // Makes the event source; the inotify one when not given. A null source
    // (inotify unavailable) watches nothing.
    using EventSourceFactory = std::function<std::unique_ptr<FileEventSource>()>;
    using Clock = std::chrono::steady_clock;
    // The clock the rebinding delay is measured on; the monotonic clock when
    // not given. It is read whenever an event or a call wakes the watcher.
    using Now = std::function<Clock::time_point()>;

    static constexpr std::chrono::milliseconds defaultRebindDelay{200};

    explicit FileChangeWatcher(EventSourceFactory makeSource = {},
                               std::chrono::milliseconds rebindDelay = defaultRebindDelay, Now now = {});
    // Calls stop().
    virtual ~FileChangeWatcher();
    FileChangeWatcher(const FileChangeWatcher&) = delete;
    FileChangeWatcher& operator=(const FileChangeWatcher&) = delete;

    // Replaces the watched paths and the callback; returns at once, the
    // watches are bound on the watcher's thread. Changes queued before are
    // reported first (to the callback they were watched for); the watches of
    // paths that stay, on the same file, are kept, so nothing written to them
    // meanwhile is missed. Paths new to the list that exist now are not
    // reported; duplicates count once.
    virtual void watch(std::vector<std::string> paths, Callback onChange);
    // Ends every watch and drops the callback; when it returns, the callback
    // is not called any more. Synchronous. From inside the callback it ends
    // the watches at once; a watch() another thread asked for meanwhile still
    // follows.
    virtual void stop();

    // How many times the watches were bound again after a change or lost events.
    uint64_t rebindCount() const;

    // The form a path is watched and reported under: absolute, without "."
    // and ".." components, repeated or trailing slashes; absent for a text
    // that cannot be an absolute path.
    static std::optional<std::string> normalisedPath(const std::string& path);

private:
    // Everything the watcher's thread touches. The thread holds it too, so
    // that a watcher destroyed from inside its callback leaves the thread
    // something to finish on.
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_; // under the state's mutex
};

} // namespace brindleaf
