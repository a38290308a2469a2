#include "platform/FakeFileEventSource.hpp"

#include <sys/stat.h>

namespace brindleaf {

std::optional<int> FakeFileEventSource::watchFolder(const std::string& path) {
    if (refused_.count(path)) return std::nullopt;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    auto [it, inserted] = watches_.emplace(path, nextWatch_);
    if (inserted) ++nextWatch_;
    return it->second;
}

void FakeFileEventSource::unwatch(int watch) {
    ++unwatchCalls_;
    for (auto it = watches_.begin(); it != watches_.end(); ++it) {
        if (it->second == watch) {
            watches_.erase(it);
            return;
        }
    }
}

FileEventSource::ReadResult FakeFileEventSource::read() {
    ++readCalls_;
    ReadResult result;
    result.events.swap(queued_);
    result.overflowed = overflowed_;
    overflowed_ = false;
    return result;
}

std::optional<int> FakeFileEventSource::watchOf(const std::string& path) const {
    auto it = watches_.find(path);
    if (it == watches_.end()) return std::nullopt;
    return it->second;
}

std::vector<std::string> FakeFileEventSource::watchedPaths() const {
    std::vector<std::string> paths;
    for (const auto& [path, watch] : watches_) paths.push_back(path);
    return paths;
}

void FakeFileEventSource::queue(const std::string& folder, Kind kind, const std::string& name) {
    auto watch = watchOf(folder);
    queued_.push_back(Event{watch.value_or(-1), kind, name});
}

} // namespace brindleaf
