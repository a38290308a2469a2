#pragma once

#include "platform/FileEventSource.hpp"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace brindleaf {

// Watches handed out by hand and events queued by hand, for tests. A folder
// can be watched when it is a real folder (not a link) and not refused; a path
// when it exists (links followed) and is not refused, one id per inode.
// Safe to use from several threads.
class FakeFileEventSource final : public FileEventSource {
public:
    FakeFileEventSource();
    ~FakeFileEventSource() override;
    FakeFileEventSource(const FakeFileEventSource&) = delete;
    FakeFileEventSource& operator=(const FakeFileEventSource&) = delete;

    std::optional<int> watchFolder(const std::string& path) override;
    std::optional<int> watchPath(const std::string& path) override;
    void unwatch(int watch) override;
    ReadResult read() override;
    // Readable while events or a lost-events report are queued.
    int descriptor() const override { return wakeFd_; }

    // The id of a watched folder, absent when it is not watched.
    std::optional<int> watchOf(const std::string& path) const;
    std::vector<std::string> watchedPaths() const;
    // Makes watchFolder fail for this folder (as when the kernel is out of watches).
    void refuse(const std::string& path);
    // Queues an event (for the folder's current watch) or a lost-events report.
    void queue(const std::string& folder, Kind kind, const std::string& name = {});
    void queueOverflow();

    // Calls of watchFolder and watchPath, refused ones included.
    int watchCalls() const;
    int unwatchCalls() const;
    int readCalls() const;
    // Events queued and not read yet.
    size_t queuedCount() const;

private:
    void signalLocked();

    mutable std::mutex mutex_;
    int wakeFd_ = -1;
    std::map<std::string, int> watches_;
    std::map<std::pair<unsigned long, unsigned long>, int> watchByInode_;
    std::set<std::string> refused_;
    std::vector<Event> queued_;
    bool overflowed_ = false;
    int nextWatch_ = 1;
    int watchCalls_ = 0;
    int unwatchCalls_ = 0;
    int readCalls_ = 0;
};

} // namespace brindleaf
