#include "platform/FakeFileEventSource.hpp"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

namespace brindleaf {

FakeFileEventSource::FakeFileEventSource() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

FakeFileEventSource::~FakeFileEventSource() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::optional<int> FakeFileEventSource::watchFolder(const std::string& path) {
    std::lock_guard lock(mutex_);
    ++watchCalls_;
    if (refused_.count(path)) return std::nullopt;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    auto [it, inserted] = watches_.emplace(path, nextWatch_);
    if (inserted) ++nextWatch_;
    return it->second;
}

std::optional<int> FakeFileEventSource::watchPath(const std::string& path) {
    std::lock_guard lock(mutex_);
    ++watchCalls_;
    if (refused_.count(path)) return std::nullopt;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    auto [it, inserted] =
        watchByInode_.emplace(std::pair<unsigned long, unsigned long>(st.st_dev, st.st_ino), nextWatch_);
    if (inserted) ++nextWatch_;
    watches_[path] = it->second;
    return it->second;
}

void FakeFileEventSource::unwatch(int watch) {
    std::lock_guard lock(mutex_);
    ++unwatchCalls_;
    std::erase_if(watches_, [&](const auto& entry) { return entry.second == watch; });
    std::erase_if(watchByInode_, [&](const auto& entry) { return entry.second == watch; });
}

FileEventSource::ReadResult FakeFileEventSource::read() {
    std::lock_guard lock(mutex_);
    ++readCalls_;
    uint64_t count = 0;
    if (wakeFd_ >= 0 && ::read(wakeFd_, &count, sizeof count) < 0) count = 0; // nothing was queued
    ReadResult result;
    result.events.swap(queued_);
    result.overflowed = overflowed_;
    overflowed_ = false;
    return result;
}

std::optional<int> FakeFileEventSource::watchOf(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = watches_.find(path);
    if (it == watches_.end()) return std::nullopt;
    return it->second;
}

std::vector<std::string> FakeFileEventSource::watchedPaths() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const auto& [path, watch] : watches_) paths.push_back(path);
    return paths;
}

void FakeFileEventSource::refuse(const std::string& path) {
    std::lock_guard lock(mutex_);
    refused_.insert(path);
}

void FakeFileEventSource::queue(const std::string& folder, Kind kind, const std::string& name) {
    std::lock_guard lock(mutex_);
    auto it = watches_.find(folder);
    queued_.push_back(Event{it == watches_.end() ? -1 : it->second, kind, name});
    signalLocked();
}

void FakeFileEventSource::queueOverflow() {
    std::lock_guard lock(mutex_);
    overflowed_ = true;
    signalLocked();
}

int FakeFileEventSource::watchCalls() const {
    std::lock_guard lock(mutex_);
    return watchCalls_;
}

int FakeFileEventSource::unwatchCalls() const {
    std::lock_guard lock(mutex_);
    return unwatchCalls_;
}

int FakeFileEventSource::readCalls() const {
    std::lock_guard lock(mutex_);
    return readCalls_;
}

size_t FakeFileEventSource::queuedCount() const {
    std::lock_guard lock(mutex_);
    return queued_.size();
}

void FakeFileEventSource::signalLocked() {
    uint64_t one = 1;
    if (wakeFd_ >= 0 && ::write(wakeFd_, &one, sizeof one) < 0) one = 0; // the counter is full: already readable
}

} // namespace brindleaf
