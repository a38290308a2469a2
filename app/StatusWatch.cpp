#include "app/StatusWatch.hpp"

#include "app/CodexRuntimeWatchConfiguration.hpp"
#include "app/CompositionRoot.hpp"
#include "app/StatusBarController.hpp"
#include "app/StatusItemSurface.hpp"
#include "core/UserHomeDirectory.hpp"
#include "platform/ThreadMainQueue.hpp"
#include "platform/UserDefaults.hpp"
#include "services/FileChangeWatcher.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf::StatusWatch {

namespace {

// The newest line not yet taken by the writer; putting a line wakes it.
class Outbox {
public:
    explicit Outbox(int wakeFd) : wakeFd_(wakeFd) {}

    void put(std::string line) {
        {
            std::lock_guard lock(mutex_);
            newest_ = std::move(line);
        }
        const std::uint64_t one = 1;
        const ssize_t written = ::write(wakeFd_, &one, sizeof one);
        (void)written; // a counter at its maximum wakes the writer all the same
    }

    std::optional<std::string> take() {
        std::lock_guard lock(mutex_);
        std::optional<std::string> line = std::move(newest_);
        newest_.reset();
        return line;
    }

private:
    int wakeFd_;
    std::mutex mutex_;
    std::optional<std::string> newest_;
};

// The controller's surface: each render becomes a line, handed on only when
// it differs from the one before.
class LineSurface final : public StatusItemSurface {
public:
    LineSurface(StatusLine::Format format, std::shared_ptr<Outbox> outbox)
        : format_(format), outbox_(std::move(outbox)) {}

    void reloadIcons() override {}
    void render(const AgentStatusSnapshot& snapshot) override {
        std::string line = StatusLine::make(snapshot).printed(format_) + "\n";
        if (line == last_) return;
        last_ = line;
        outbox_->put(std::move(line));
    }

private:
    StatusLine::Format format_;
    std::shared_ptr<Outbox> outbox_;
    std::string last_;
};

// Standard output for writes that never wait: a pipe is opened again,
// non-blocking, as a description of our own (the one we were given may be
// shared, and stays as it is). Anything else is written as it is.
int outputDescriptor() {
    struct stat status {};
    if (::fstat(STDOUT_FILENO, &status) != 0 || !S_ISFIFO(status.st_mode)) return STDOUT_FILENO;
    const int reopened = ::open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return reopened >= 0 ? reopened : STDOUT_FILENO;
}

int failed(const char* what) {
    const std::string text = std::string("brindleaf: ") + what + ": " + std::strerror(errno) + "\n";
    std::fputs(text.c_str(), stderr);
    return 1;
}

} // namespace

int run(StatusLine::Format format) {
    // Before any thread starts, so that every thread leaves these signals to
    // the descriptor below.
    sigset_t ending;
    sigemptyset(&ending);
    for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&ending, number);
    ::pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    const int signals = ::signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signals < 0) return failed("cannot watch for signals");
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return failed("cannot start");
    const int out = outputDescriptor();

    // The refresh cycle of the tray application, on a main queue of its own
    // thread. It is never taken down: the caller ends the process (scans
    // past their deadline may still be running on worker threads).
    auto outbox = std::make_shared<Outbox>(wake);
    auto queue = std::make_shared<ThreadMainQueue>();
    const std::string home = UserHomeDirectory::path();
    CodexRuntimeWatchConfiguration codexWatch(CompositionRoot::processEnvironment(), home);
    StatusBarController::Dependencies deps;
    deps.mainQueue = queue;
    deps.service = CompositionRoot::makeStatusService(codexWatch.codexHome, codexWatch.sqliteHome, false,
                                                      CompositionRoot::providerTimeout, home);
    deps.codexWatchConfiguration = codexWatch;
    deps.home = home;
    deps.settings = std::make_shared<ProviderSettingsStore>(UserDefaults::standard());
    deps.statusItem = std::make_shared<LineSurface>(format, outbox);
    deps.fileWatcher = std::make_shared<FileChangeWatcher>();
    deps.runtimeLogFileWatcher = std::make_shared<FileChangeWatcher>();
    deps.sessionActivityFileWatcher = std::make_shared<FileChangeWatcher>();
    auto* controller = new std::shared_ptr<StatusBarController>(); // it holds the queue
    queue->runAndWait([&] { *controller = StatusBarController::make(std::move(deps)); });

    std::string line;
    std::size_t written = 0;
    while (true) {
        if (written == line.size()) {
            line.clear();
            written = 0;
            if (auto next = outbox->take()) line = std::move(*next);
        }
        if (!line.empty()) {
            const ssize_t count = ::write(out, line.data() + written, line.size() - written);
            if (count > 0) {
                written += std::size_t(count);
                continue;
            }
            if (count < 0 && errno == EPIPE) return 0;
            if (count < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
                return failed("cannot write the status line");
        }
        // A pipe's write end reports POLLERR once its reader has closed it, a
        // terminal POLLHUP when it hangs up, whether or not a line waits.
        pollfd watched[] = {{out, short(line.empty() ? 0 : POLLOUT), 0}, {signals, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(watched, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return failed("cannot wait for the status");
        }
        if (watched[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return 0;
        if (watched[1].revents & POLLIN) return 0;
        if (watched[2].revents & POLLIN) {
            std::uint64_t count = 0;
            const ssize_t read = ::read(wake, &count, sizeof count);
            (void)read;
        }
    }
}

} // namespace brindleaf::StatusWatch
