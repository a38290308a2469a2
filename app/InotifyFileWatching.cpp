#include "app/InotifyFileWatching.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>

namespace brindleaf {

namespace {

constexpr uint32_t folderMask = IN_ONLYDIR | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t entryMoved = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

} // namespace

InotifyFileWatching::InotifyFileWatching()
    : inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (inotify_ >= 0 && wake_ >= 0) thread_ = std::thread([this] { loop(); });
}

InotifyFileWatching::~InotifyFileWatching() {
    stop();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (wake_ >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
    if (inotify_ >= 0) ::close(inotify_);
    if (wake_ >= 0) ::close(wake_);
}

void InotifyFileWatching::watch(std::vector<std::string> paths, Callback onChange) {
    std::lock_guard delivery(delivery_);
    std::lock_guard lock(mutex_);
    cancelLocked();
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    paths_ = std::move(paths);
    pathSet_ = {paths_.begin(), paths_.end()};
    for (const auto& path : paths_) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) existing_.insert(path);
    }
    callback_ = std::move(onChange);
    rebindLocked();
}

void InotifyFileWatching::stop() {
    std::lock_guard delivery(delivery_);
    std::lock_guard lock(mutex_);
    cancelLocked();
}

void InotifyFileWatching::cancelLocked() {
    ++generation_;
    for (const auto& [descriptor, folder] : folders_) ::inotify_rm_watch(inotify_, descriptor);
    folders_.clear();
    paths_.clear();
    pathSet_.clear();
    existing_.clear();
    callback_ = nullptr;
}

std::size_t InotifyFileWatching::watchedFolderCount() const {
    std::lock_guard lock(mutex_);
    return folders_.size();
}

std::vector<std::string> InotifyFileWatching::rebindLocked() {
    for (const auto& [descriptor, folder] : folders_) ::inotify_rm_watch(inotify_, descriptor);
    folders_.clear();
    if (inotify_ < 0) return {};
    auto add = [&](const std::string& path, bool reports) {
        int descriptor = ::inotify_add_watch(inotify_, path.c_str(), folderMask | IN_DONT_FOLLOW);
        if (descriptor < 0) return;
        auto& folder = folders_[descriptor];
        folder.path = path;
        folder.reports = folder.reports || reports;
    };
    std::set<std::string> existing;
    std::vector<std::string> appeared;
    std::set<std::string> parents;
    for (const auto& path : paths_) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) {
            existing.insert(path);
            if (!existing_.contains(path)) appeared.push_back(path);
            if (S_ISDIR(info.st_mode)) add(path, true);
        }
        std::string parent = parentOf(path);
        if (!pathSet_.contains(parent)) parents.insert(parent);
    }
    for (const auto& parent : parents) add(parent, false);
    existing_ = std::move(existing);
    return appeared;
}

void InotifyFileWatching::loop() {
    alignas(struct inotify_event) char buffer[64 * 1024];
    pollfd descriptors[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
    while (true) {
        if (::poll(descriptors, 2, -1) < 0 && errno != EINTR) return;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        std::vector<std::string> changed;
        bool rebind = false;
        std::uint64_t generation = 0;
        {
            std::lock_guard lock(mutex_);
            generation = generation_;
            auto report = [&](const std::string& path) {
                if (std::find(changed.begin(), changed.end(), path) == changed.end()) changed.push_back(path);
            };
            while (true) {
                ssize_t length = ::read(inotify_, buffer, sizeof buffer);
                if (length <= 0) break;
                for (ssize_t offset = 0; offset < length;) {
                    auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                    offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                    if (event->mask & IN_Q_OVERFLOW) {
                        rebind = true;
                        for (const auto& path : existing_) report(path);
                        continue;
                    }
                    auto folder = folders_.find(event->wd);
                    if (folder == folders_.end()) continue;
                    std::string name = event->len > 0 ? std::string(event->name) : std::string();
                    if (name.empty()) {
                        if (folder->second.reports && (event->mask & (IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF)))
                            report(folder->second.path);
                        if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) rebind = true;
                        continue;
                    }
                    std::string child = folder->second.path == "/" ? "/" + name : folder->second.path + "/" + name;
                    if (pathSet_.contains(child) && existing_.contains(child)) report(child);
                    if (event->mask & entryMoved) {
                        rebind = true;
                        if (folder->second.reports) report(folder->second.path);
                    }
                }
            }
            if (rebind)
                for (auto& path : rebindLocked()) report(path);
        }
        uint64_t count = 0;
        [[maybe_unused]] auto drained = ::read(wake_, &count, sizeof count);
        if (changed.empty()) continue;
        std::lock_guard delivery(delivery_);
        Callback callback;
        {
            std::lock_guard lock(mutex_);
            if (generation != generation_) continue;
            callback = callback_;
        }
        if (callback)
            for (const auto& path : changed) callback(path);
    }
}

} // namespace brindleaf
