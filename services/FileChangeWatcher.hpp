#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
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
// again 0.2 seconds after the first of a burst, keeping every watch whose file
// is unchanged. When the kernel lost events, every watched
// path that exists is reported. Paths on network and FUSE file systems are not
// watched (the poll covers them); paths that are not absolute are ignored.
//
// A thread of its own, started by the first watch(), waits for the kernel's
// events and calls the callback; owners hop to their own thread themselves.
// virtual so that a fake can stand in for it. Never destroy a watcher from
// inside its own callback.
class FileChangeWatcher {
public:
    using Callback = std::function<void(const std::string& path)>;
    // Makes the event source; the inotify one when not given. A null source
    // (inotify unavailable) watches nothing.
    using EventSourceFactory = std::function<std::unique_ptr<FileEventSource>()>;

    static constexpr std::chrono::milliseconds defaultRebindDelay{200};

    explicit FileChangeWatcher(EventSourceFactory makeSource = {},
                               std::chrono::milliseconds rebindDelay = defaultRebindDelay);
    // Calls stop().
    virtual ~FileChangeWatcher();
    FileChangeWatcher(const FileChangeWatcher&) = delete;
    FileChangeWatcher& operator=(const FileChangeWatcher&) = delete;

    // Replaces the watched paths and the callback; returns at once, the
    // watches are bound on the watcher's thread. Paths that exist now are not
    // reported; duplicates count once.
    virtual void watch(std::vector<std::string> paths, Callback onChange);
    // Ends every watch and drops the callback; when it returns, the callback
    // is not called any more. Synchronous; safe from inside the callback.
    virtual void stop();

    // How many times the watches were bound again after a change or lost events.
    uint64_t rebindCount() const { return rebinds_.load(); }

    // The form a path is watched and reported under: absolute, without "."
    // and ".." components, repeated or trailing slashes; absent for a text
    // that cannot be an absolute path.
    static std::optional<std::string> normalisedPath(const std::string& path);

private:
    struct Command {
        bool stop = false;
        std::vector<std::string> paths;
        Callback onChange;
    };
    struct Binding {
        int watch = -1;
        bool isDirectory = false;
        bool triggersChange = false; // a watched path; otherwise the folder above one, which only binds again
    };
    using Clock = std::chrono::steady_clock;

    void run();
    void apply(Command command);
    void cancelAll();
    std::vector<std::string> bind(bool reportAppeared);
    void readEvents();
    void deliver(const std::vector<std::string>& paths);
    void wake();

    // Shared with callers, under mutex_.
    EventSourceFactory makeSource_;
    const std::chrono::milliseconds rebindDelay_;
    std::mutex mutex_;
    std::condition_variable handledChanged_;
    std::optional<Command> pending_;
    uint64_t requested_ = 0;
    uint64_t handled_ = 0;
    bool exiting_ = false;
    bool unavailable_ = false;
    std::thread thread_;
    int wakeFd_ = -1;
    std::atomic<std::thread::id> threadID_{};
    std::atomic<uint64_t> rebinds_{0};

    // Touched only on the watcher's thread.
    std::unique_ptr<FileEventSource> source_;
    std::vector<std::string> watchedPaths_; // sorted, without duplicates
    std::set<std::string> watchedSet_;
    std::set<std::string> boundTo_;  // the watched paths and every folder above them
    std::set<std::string> existing_; // the watched paths that existed at the last binding
    std::map<std::string, Binding> bindings_;
    std::multimap<int, std::string> pathsByWatch_;
    std::shared_ptr<const Callback> callback_;
    std::optional<Clock::time_point> rebindDue_;
    uint64_t generation_ = 0; // changes whenever the watched set is cancelled
};

} // namespace brindleaf
