#pragma once

#include <functional>
#include <string>
#include <vector>

namespace brindleaf {

// Reports changes to a list of files and folders. A path that does not exist
// yet is reported once when it appears.
class FileWatching {
public:
    using Callback = std::function<void(const std::string& path)>;
    virtual ~FileWatching() = default;
    // Replaces the whole list and the callback; returns at once. The callback
    // runs on the watcher's own thread, never on the main queue.
    virtual void watch(std::vector<std::string> paths, Callback onChange) = 0;
    // Ends every watch; no callback runs once it has returned.
    virtual void stop() = 0;
};

} // namespace brindleaf
