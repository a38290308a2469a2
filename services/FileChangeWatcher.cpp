#include "services/FileChangeWatcher.hpp"

#include "core/FileStat.hpp"
#include "platform/FileEventSource.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

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

struct FileChangeWatcher::State {
    struct Command {
        bool stop = false;
        bool fromWatcherThread = false; // asked for from inside the callback
        std::vector<std::string> paths;
        Callback onChange;
    };
    struct Binding {
        int watch = -1;
        bool isDirectory = false;
        bool triggersChange = false; // a watched path; otherwise the folder above one, which only binds again
        dev_t device = 0;            // the file watched, links followed
        ino_t inode = 0;

        // Whether `path` no longer leads to the file watched (or to none).
        bool leadsElsewhere(const std::string& path) const {
            struct stat info {};
            return ::stat(path.c_str(), &info) != 0 || info.st_dev != device || info.st_ino != inode;
        }
    };

    State(EventSourceFactory makeSource, std::chrono::milliseconds rebindDelay, Now now)
        : makeSource(std::move(makeSource)), rebindDelay(rebindDelay), now(std::move(now)) {}
    ~State() {
        if (wakeFd >= 0) ::close(wakeFd);
    }

    bool onWatcherThread() const { return threadID.load() == std::this_thread::get_id(); }
    void run();
    bool isExiting();
    void markHandled(uint64_t ticket);
    void apply(Command command);
    void cancelAll();
    std::vector<std::string> bind();
    void rebind();
    void readEvents();
    void deliver(const std::vector<std::string>& paths);
    void wake();

    // Shared with callers, under mutex.
    const EventSourceFactory makeSource;
    const std::chrono::milliseconds rebindDelay;
    const Now now;
    std::mutex mutex;
    std::condition_variable handledChanged;
    std::optional<Command> pending;
    uint64_t requested = 0;
    uint64_t handled = 0;
    bool exiting = false;
    bool unavailable = false;
    int wakeFd = -1; // set before the thread starts
    std::atomic<std::thread::id> threadID{};
    std::atomic<uint64_t> rebinds{0};

    // Touched only on the watcher's thread (source: set before it starts).
    std::unique_ptr<FileEventSource> source;
    std::vector<std::string> watchedPaths; // sorted, without duplicates
    std::set<std::string> watchedSet;
    std::set<std::string> boundTo;  // the watched paths and every folder above them
    std::set<std::string> existing; // the watched paths that existed at the last binding
    std::map<std::string, Binding> bindings;
    std::multimap<int, std::string> pathsByWatch;
    std::shared_ptr<const Callback> callback;
    std::optional<Clock::time_point> rebindDue;
    uint64_t generation = 0; // changes whenever the callback is replaced or dropped
};

FileChangeWatcher::FileChangeWatcher(EventSourceFactory makeSource, std::chrono::milliseconds rebindDelay, Now now)
    : state_(std::make_shared<State>(std::move(makeSource), rebindDelay, now ? std::move(now) : Now(Clock::now))) {}

FileChangeWatcher::~FileChangeWatcher() {
    FileChangeWatcher::stop();
    {
        std::lock_guard lock(state_->mutex);
        state_->exiting = true;
        ++state_->requested;
        state_->wake();
    }
    if (!thread_.joinable()) return;
    // From inside the callback the thread cannot wait for itself: it ends on
    // its own once the callback returns, keeping the state alive until then.
    if (state_->onWatcherThread()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

uint64_t FileChangeWatcher::rebindCount() const { return state_->rebinds.load(); }

std::optional<std::string> FileChangeWatcher::normalisedPath(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return std::nullopt;
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

void FileChangeWatcher::watch(std::vector<std::string> paths, Callback onChange) {
    State& state = *state_;
    std::lock_guard lock(state.mutex);
    if (state.unavailable) return;
    if (!thread_.joinable()) {
        state.source = state.makeSource ? state.makeSource() : InotifyFileEventSource::create();
        state.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (!state.source || state.wakeFd < 0) {
            // Without change notifications the poll alone notices changes.
            state.unavailable = true;
            state.source.reset();
            return;
        }
        thread_ = std::thread([shared = state_] { shared->run(); });
    }
    state.pending = State::Command{false, state.onWatcherThread(), std::move(paths), std::move(onChange)};
    ++state.requested;
    state.wake();
}

void FileChangeWatcher::stop() {
    State& state = *state_;
    if (state.onWatcherThread()) {
        // From inside the callback: the thread is ours, end the watches here
        // and now. A watch() the callback asked for before is dropped with
        // them; one from another thread is still carried out afterwards.
        {
            std::lock_guard lock(state.mutex);
            if (state.pending && state.pending->fromWatcherThread) state.pending.reset();
        }
        state.cancelAll();
        return;
    }
    std::unique_lock lock(state.mutex);
    if (!thread_.joinable()) return;
    state.pending = State::Command{true, false, {}, {}};
    const uint64_t ticket = ++state.requested;
    state.wake();
    state.handledChanged.wait(lock, [&] { return state.handled >= ticket; });
}

void FileChangeWatcher::State::wake() {
    uint64_t one = 1;
    if (wakeFd >= 0 && ::write(wakeFd, &one, sizeof one) < 0) one = 0; // full: already readable
}

bool FileChangeWatcher::State::isExiting() {
    std::lock_guard lock(mutex);
    return exiting;
}

void FileChangeWatcher::State::markHandled(uint64_t ticket) {
    {
        std::lock_guard lock(mutex);
        handled = std::max(handled, ticket);
    }
    handledChanged.notify_all();
}

void FileChangeWatcher::State::run() {
    threadID.store(std::this_thread::get_id());
    for (;;) {
        int timeout = -1;
        if (rebindDue) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*rebindDue - now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
        }
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {source->descriptor(), POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0) fds[0].revents = fds[1].revents = 0;

        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            if (::read(wakeFd, &count, sizeof count) < 0) count = 0; // drained already
        }
        std::optional<Command> command;
        uint64_t ticket = 0;
        bool stopping = false;
        {
            std::lock_guard lock(mutex);
            command.swap(pending);
            ticket = requested;
            stopping = exiting;
        }
        if (command && !command->stop) {
            // What changed before the list is replaced is reported first, to
            // the callback it was watched for; the callback may end it all.
            readEvents();
            stopping = isExiting();
        }
        if (stopping) {
            cancelAll();
            markHandled(ticket);
            return;
        }
        if (command) {
            apply(std::move(*command));
        } else if (fds[1].revents) {
            readEvents();
        }
        markHandled(ticket);
        if (rebindDue && now() >= *rebindDue) rebind();
    }
}

// Replaces the list, keeping every watch whose path stays on the same file
// and ending only the watches no longer needed, so that nothing written to a
// path that stays is missed.
void FileChangeWatcher::State::apply(Command command) {
    if (command.stop) {
        cancelAll();
        return;
    }
    std::set<std::string> paths;
    for (const std::string& path : command.paths) {
        if (auto normal = normalisedPath(path)) paths.insert(std::move(*normal));
    }
    // A path new to the list that exists now is not reported; one that stays
    // keeps its last answer, so that one that appeared meanwhile is.
    std::set<std::string> existed;
    for (const std::string& path : paths) {
        if (watchedSet.count(path) ? existing.count(path) > 0 : FileStat::info(path).has_value()) existed.insert(path);
    }
    watchedSet = std::move(paths);
    watchedPaths.assign(watchedSet.begin(), watchedSet.end());
    boundTo.clear();
    for (const std::string& path : watchedPaths) {
        for (std::string step = path; boundTo.insert(step).second && step != "/";) step = parentOf(step);
    }
    existing = std::move(existed);
    ++generation;
    callback = command.onChange ? std::make_shared<const Callback>(std::move(command.onChange)) : nullptr;
    rebindDue.reset(); // the binding below is the one a pending rebinding waited for
    deliver(bind());
}

void FileChangeWatcher::State::cancelAll() {
    ++generation;
    int last = -1;
    for (const auto& [watch, path] : pathsByWatch) {
        if (watch != last) source->unwatch(watch);
        last = watch;
    }
    bindings.clear();
    pathsByWatch.clear();
    watchedPaths.clear();
    watchedSet.clear();
    boundTo.clear();
    existing.clear();
    callback.reset();
    rebindDue.reset();
}

// Binds every watched path that exists and every folder above one. A path
// still on the file it was bound to keeps its watch untouched: asking the
// kernel again for a watch it holds briefly loses the changes of a folder's
// entries, and dropping one and adding it again loses what falls in between.
// A file replaced by another gets a watch of its own (the same file by
// another path shares it) and the old one ends. A kept watch whose file was
// deleted and its inode number reused is ended by the kernel, which binds
// again. Returns the watched paths that exist now and did not at the last
// binding.
std::vector<std::string> FileChangeWatcher::State::bind() {
    std::map<std::string, Binding> next;
    auto install = [&](const std::string& path, const struct stat& info, bool triggersChange) {
        Binding binding{-1, S_ISDIR(info.st_mode), triggersChange, info.st_dev, info.st_ino};
        auto held = bindings.find(path);
        if (held != bindings.end() && held->second.device == info.st_dev && held->second.inode == info.st_ino) {
            binding.watch = held->second.watch;
        } else if (auto watch = source->watchPath(path)) {
            binding.watch = *watch;
        } else {
            return;
        }
        next[path] = binding;
    };
    std::set<std::string> nowExisting;
    std::vector<std::string> appeared;
    for (const std::string& path : watchedPaths) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) continue;
        nowExisting.insert(path);
        if (!existing.count(path)) appeared.push_back(path);
        install(path, info, true);
    }
    std::set<std::string> parents;
    for (const std::string& path : watchedPaths) {
        std::string parent = parentOf(path);
        if (!watchedSet.count(parent)) parents.insert(std::move(parent));
    }
    for (const std::string& parent : parents) {
        struct stat info {};
        if (::stat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
        install(parent, info, false);
    }

    std::set<int> kept;
    for (const auto& [path, binding] : next) kept.insert(binding.watch);
    std::set<int> released;
    for (const auto& [watch, path] : pathsByWatch) {
        if (!kept.count(watch) && released.insert(watch).second) source->unwatch(watch);
    }
    bindings = std::move(next);
    pathsByWatch.clear();
    for (const auto& [path, binding] : bindings) pathsByWatch.emplace(binding.watch, path);
    existing = std::move(nowExisting);
    return appeared;
}

// Binds again after a change that may have replaced watched files or folders
// on the way to them, and reports the watched paths that appeared.
void FileChangeWatcher::State::rebind() {
    rebindDue.reset();
    ++rebinds;
    deliver(bind());
}

void FileChangeWatcher::State::readEvents() {
    FileEventSource::ReadResult result = source->read();
    std::vector<std::string> reports;
    std::set<std::string> reported;
    auto report = [&](const std::string& path) {
        if (reported.insert(path).second) reports.push_back(path);
    };
    bool rebindNeeded = false;
    std::set<std::string> examined;
    for (const FileEventSource::Event& event : result.events) {
        auto [first, last] = pathsByWatch.equal_range(event.watch);
        if (event.watchEnded) {
            // The kernel ended a watch we still hold (the file is gone): bind again.
            for (auto it = first; it != last; ++it) bindings.erase(it->second);
            if (first != last) rebindNeeded = true;
            pathsByWatch.erase(first, last);
            continue;
        }
        for (auto it = first; it != last; ++it) {
            const std::string& path = it->second;
            const Binding& binding = bindings.at(path);
            switch (event.kind) {
            case FileEventSource::Kind::EntryChanged:
                if (binding.triggersChange && binding.isDirectory) report(childOf(path, event.name));
                break;
            case FileEventSource::Kind::EntryMoved: {
                std::string child = childOf(path, event.name);
                if (binding.triggersChange && binding.isDirectory) report(child);
                // Only a watched entry, or a folder on the way to one, changes what must be bound.
                if (boundTo.count(child)) rebindNeeded = true;
                break;
            }
            case FileEventSource::Kind::FolderChanged:
                if (binding.triggersChange) report(path);
                // A file renamed over or deleted while another process holds it
                // open reports only its link count until the last holder closes
                // it; reached through a link from a folder not watched, nothing
                // else tells. Bound again, as after a rename over it, once the
                // path leads to another file.
                if (!rebindNeeded && !rebindDue && examined.insert(path).second && binding.leadsElsewhere(path)) {
                    rebindNeeded = true;
                }
                break;
            case FileEventSource::Kind::FolderGone:
                if (binding.triggersChange) report(path);
                rebindNeeded = true;
                break;
            }
        }
    }
    if (result.overflowed) {
        // Changes were lost: bind again now and report everything that exists.
        ++rebinds;
        bind();
        for (const std::string& path : watchedPaths) {
            if (existing.count(path)) report(path);
        }
        rebindNeeded = false;
        rebindDue.reset();
    }
    // Timed from the first event of a burst: later ones do not postpone it.
    if (rebindNeeded && !rebindDue) rebindDue = now() + rebindDelay;
    deliver(reports);
}

void FileChangeWatcher::State::deliver(const std::vector<std::string>& paths) {
    const uint64_t current = generation;
    std::shared_ptr<const Callback> target = callback;
    if (!target) return;
    for (const std::string& path : paths) {
        if (generation != current) return; // stopped, or the watcher destroyed, from inside the callback
        (*target)(path);
    }
}

} // namespace brindleaf
