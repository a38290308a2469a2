#pragma once

#include "platform/FileEventSource.hpp"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace brindleaf {

// Watches handed out by hand and events queued by hand, for tests. A folder
// can be watched when it is a real folder (not a link) and not refused.
class FakeFileEventSource final : public FileEventSource {
public:
    std::optional<int> watchFolder(const std::string& path) override;
    void unwatch(int watch) override;
    ReadResult read() override;

    // The id of a watched folder, absent when it is not watched.
    std::optional<int> watchOf(const std::string& path) const;
    std::vector<std::string> watchedPaths() const;
    // Makes watchFolder fail for this folder (as when the kernel is out of watches).
    void refuse(const std::string& path) { refused_.insert(path); }
    // Queues an event (for the folder's current watch) or a lost-events report.
    void queue(const std::string& folder, Kind kind, const std::string& name = {});
    void queueOverflow() { overflowed_ = true; }

    int unwatchCalls() const { return unwatchCalls_; }
    int readCalls() const { return readCalls_; }

private:
    std::map<std::string, int> watches_;
    std::set<std::string> refused_;
    std::vector<Event> queued_;
    bool overflowed_ = false;
    int nextWatch_ = 1;
    int unwatchCalls_ = 0;
    int readCalls_ = 0;
};

} // namespace brindleaf
