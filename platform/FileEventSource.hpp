#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// Change notifications for files and folders (inotify on Linux). A watch on a
// folder reports changes to the folder's entries and to the folder itself; a
// watch on a file reports changes to the file. One instance serves either
// watchFolder or watchPath, not both: a folder watched both ways would share
// one watch with one set of options.
class FileEventSource {
public:
    enum class Kind {
        EntryChanged,  // an entry's content or attributes changed (IN_MODIFY, IN_ATTRIB with a name)
        EntryMoved,    // an entry appeared, disappeared or moved (IN_CREATE, IN_DELETE, IN_MOVED_FROM/TO)
        FolderChanged, // the watched folder or file itself changed (IN_ATTRIB, or IN_MODIFY of a file)
        FolderGone,    // the folder or file was deleted, moved or unmounted, or its watch ended
    };

    struct Event {
        int watch = -1;
        Kind kind = Kind::EntryChanged;
        std::string name; // empty for events about the folder itself
        // The kernel dropped the watch (after a deletion, an unmount or unwatch):
        // its id means nothing any more and may be handed out again.
        bool watchEnded = false;
        bool operator==(const Event&) const = default;
    };

    struct ReadResult {
        std::vector<Event> events;
        bool overflowed = false; // events were lost: every answer derived before must be forgotten
    };

    virtual ~FileEventSource() = default;

    // Starts watching a folder (links not followed) and returns the watch's id;
    // the same folder (inode) always gets the same id while it is watched.
    // Absent when the folder cannot be watched: missing, not a folder, a
    // symbolic link, out of watches, or on a file system whose changes the
    // kernel does not see (network and FUSE file systems).
    virtual std::optional<int> watchFolder(const std::string& path) = 0;
    // Starts watching a file or folder, following links, and returns the
    // watch's id; the same file (inode), by whatever path, always gets the same
    // id while it is watched. Absent as for watchFolder, links excepted.
    virtual std::optional<int> watchPath(const std::string& path) = 0;
    virtual void unwatch(int watch) = 0;
    // Everything queued since the last call, without blocking.
    virtual ReadResult read() = 0;
    // A descriptor that polls readable while events are queued.
    virtual int descriptor() const = 0;

    // Whether the kernel sees every change of the file system holding `path`
    // (links followed): local file systems, not network or FUSE ones. Neither
    // watch is made where it does not; false when `path` cannot be examined.
    static bool reportsAllChanges(const std::string& path);
};

// The inotify implementation.
class InotifyFileEventSource final : public FileEventSource {
public:
    // Null when inotify cannot be initialised (e.g. the per-user instance limit).
    static std::unique_ptr<InotifyFileEventSource> create();
    ~InotifyFileEventSource() override;
    InotifyFileEventSource(const InotifyFileEventSource&) = delete;
    InotifyFileEventSource& operator=(const InotifyFileEventSource&) = delete;

    std::optional<int> watchFolder(const std::string& path) override;
    std::optional<int> watchPath(const std::string& path) override;
    void unwatch(int watch) override;
    ReadResult read() override;
    int descriptor() const override { return fd_; }

    // Number of read() system calls made so far.
    uint64_t readCalls() const { return readCalls_; }

private:
    explicit InotifyFileEventSource(int fd);
    int fd_;
    std::unique_ptr<char[]> buffer_;
    uint64_t readCalls_ = 0;
};

} // namespace brindleaf
