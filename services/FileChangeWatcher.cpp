#include "services/FileChangeWatcher.hpp"

#include "platform/FileEventSource.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace brindleaf {

namespace {

std::string parentOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == 0 || slash == std::string::npos) return "/";
    return path.substr(0, slash);
}

std::string childOf(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

} // namespace

FileChangeWatcher::FileChangeWatcher(EventSourceFactory makeSource, std::chrono::milliseconds rebindDelay)
    : makeSource_(std::move(makeSource)), rebindDelay_(rebindDelay) {}

FileChangeWatcher::~FileChangeWatcher() {
    FileChangeWatcher::stop();
    {
        std::lock_guard lock(mutex_);
        exiting_ = true;
        ++requested_;
    }
    wake();
    if (thread_.joinable()) thread_.join();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::optional<std::string> FileChangeWatcher::normalisedPath(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return std::nullopt;
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

void FileChangeWatcher::watch(std::vector<std::string> paths, Callback onChange) {
    std::lock_guard lock(mutex_);
    if (unavailable_) return;
    if (!thread_.joinable()) {
        source_ = makeSource_ ? makeSource_() : InotifyFileEventSource::create();
        wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (!source_ || wakeFd_ < 0) {
            // Without change notifications the poll alone notices changes.
            unavailable_ = true;
            source_.reset();
            return;
        }
        thread_ = std::thread([this] { run(); });
    }
    pending_ = Command{false, std::move(paths), std::move(onChange)};
    ++requested_;
    wake();
}

void FileChangeWatcher::stop() {
    if (threadID_.load() == std::this_thread::get_id()) {
        // From inside the callback: the thread is ours, cancel here and now.
        {
            std::lock_guard lock(mutex_);
            pending_.reset();
            handled_ = requested_;
        }
        handledChanged_.notify_all();
        cancelAll();
        return;
    }
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) return;
    pending_ = Command{true, {}, {}};
    const uint64_t ticket = ++requested_;
    wake();
    handledChanged_.wait(lock, [&] { return handled_ >= ticket; });
}

void FileChangeWatcher::wake() {
    uint64_t one = 1;
    if (wakeFd_ >= 0 && ::write(wakeFd_, &one, sizeof one) < 0) one = 0; // full: already readable
}

void FileChangeWatcher::run() {
    threadID_.store(std::this_thread::get_id());
    for (;;) {
        int timeout = -1;
        if (rebindDue_) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*rebindDue_ - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
        }
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {source_->descriptor(), POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR) fds[1].revents = 0;

        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            if (::read(wakeFd_, &count, sizeof count) < 0) count = 0; // drained already
        }
        std::optional<Command> command;
        uint64_t ticket = 0;
        bool exiting = false;
        {
            std::lock_guard lock(mutex_);
            command.swap(pending_);
            ticket = requested_;
            exiting = exiting_;
        }
        if (command) apply(std::move(*command));
        {
            std::lock_guard lock(mutex_);
            handled_ = std::max(handled_, ticket);
        }
        handledChanged_.notify_all();
        if (exiting) {
            cancelAll();
            return;
        }
        if (fds[1].revents) readEvents();
        if (rebindDue_ && Clock::now() >= *rebindDue_) {
            rebindDue_.reset();
            deliver(bind(true));
        }
    }
}

void FileChangeWatcher::apply(Command command) {
    cancelAll();
    if (command.stop) return;
    for (const std::string& path : command.paths) {
        if (auto normal = normalisedPath(path)) watchedSet_.insert(std::move(*normal));
    }
    watchedPaths_.assign(watchedSet_.begin(), watchedSet_.end());
    for (const std::string& path : watchedPaths_) {
        for (std::string step = path; boundTo_.insert(step).second && step != "/";) step = parentOf(step);
    }
    if (command.onChange) callback_ = std::make_shared<const Callback>(std::move(command.onChange));
    bind(false);
}

void FileChangeWatcher::cancelAll() {
    ++generation_;
    int last = -1;
    for (const auto& [watch, path] : pathsByWatch_) {
        if (watch != last) source_->unwatch(watch);
        last = watch;
    }
    bindings_.clear();
    pathsByWatch_.clear();
    watchedPaths_.clear();
    watchedSet_.clear();
    boundTo_.clear();
    existing_.clear();
    callback_.reset();
    rebindDue_.reset();
}

// Binds every watched path that exists and every folder above one, keeping the
// watches whose file is unchanged (the kernel hands out the same watch for the
// same file), so that no change falls between dropping a watch and adding it
// again. Returns the watched paths that exist now and did not at the last
// binding when `reportAppeared`.
std::vector<std::string> FileChangeWatcher::bind(bool reportAppeared) {
    std::map<std::string, Binding> next;
    std::set<std::string> existing;
    std::vector<std::string> appeared;
    for (const std::string& path : watchedPaths_) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) continue;
        existing.insert(path);
        if (reportAppeared && !existing_.count(path)) appeared.push_back(path);
        if (auto watch = source_->watchPath(path)) next[path] = Binding{*watch, S_ISDIR(info.st_mode), true};
    }
    std::set<std::string> parents;
    for (const std::string& path : watchedPaths_) {
        std::string parent = parentOf(path);
        if (!watchedSet_.count(parent)) parents.insert(std::move(parent));
    }
    for (const std::string& parent : parents) {
        struct stat info {};
        if (::stat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
        if (auto watch = source_->watchPath(parent)) next[parent] = Binding{*watch, true, false};
    }

    std::set<int> kept;
    for (const auto& [path, binding] : next) kept.insert(binding.watch);
    std::set<int> released;
    for (const auto& [watch, path] : pathsByWatch_) {
        if (!kept.count(watch) && released.insert(watch).second) source_->unwatch(watch);
    }
    bindings_ = std::move(next);
    pathsByWatch_.clear();
    for (const auto& [path, binding] : bindings_) pathsByWatch_.emplace(binding.watch, path);
    existing_ = std::move(existing);
    if (reportAppeared) ++rebinds_;
    return appeared;
}

void FileChangeWatcher::readEvents() {
    FileEventSource::ReadResult result = source_->read();
    std::vector<std::string> reports;
    std::set<std::string> reported;
    auto report = [&](const std::string& path) {
        if (reported.insert(path).second) reports.push_back(path);
    };
    bool rebind = false;
    for (const FileEventSource::Event& event : result.events) {
        auto [first, last] = pathsByWatch_.equal_range(event.watch);
        if (event.watchEnded) {
            // The kernel ended a watch we still hold (the file is gone): bind again.
            for (auto it = first; it != last; ++it) bindings_.erase(it->second);
            if (first != last) rebind = true;
            pathsByWatch_.erase(first, last);
            continue;
        }
        for (auto it = first; it != last; ++it) {
            const std::string& path = it->second;
            const Binding& binding = bindings_.at(path);
            switch (event.kind) {
            case FileEventSource::Kind::EntryChanged:
                if (binding.triggersChange && binding.isDirectory) report(childOf(path, event.name));
                break;
            case FileEventSource::Kind::EntryMoved: {
                std::string child = childOf(path, event.name);
                if (binding.triggersChange && binding.isDirectory) report(child);
                // Only a watched entry, or a folder on the way to one, changes what must be bound.
                if (boundTo_.count(child)) rebind = true;
                break;
            }
            case FileEventSource::Kind::FolderChanged:
                if (binding.triggersChange) report(path);
                break;
            case FileEventSource::Kind::FolderGone:
                if (binding.triggersChange) report(path);
                rebind = true;
                break;
            }
        }
    }
    if (result.overflowed) {
        // Changes were lost: bind again now and report everything that exists.
        bind(true);
        for (const std::string& path : watchedPaths_) {
            if (existing_.count(path)) report(path);
        }
        rebind = false;
        rebindDue_.reset();
    }
    if (rebind && !rebindDue_) rebindDue_ = Clock::now() + rebindDelay_;
    deliver(reports);
}

void FileChangeWatcher::deliver(const std::vector<std::string>& paths) {
    const uint64_t generation = generation_;
    std::shared_ptr<const Callback> callback = callback_;
    if (!callback) return;
    for (const std::string& path : paths) {
        if (generation_ != generation) return; // stopped or replaced from inside the callback
        (*callback)(path);
    }
}

} // namespace brindleaf
