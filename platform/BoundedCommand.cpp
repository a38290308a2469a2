#include "platform/BoundedCommand.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brindleaf {

std::optional<std::string> BoundedCommand::run(const std::vector<std::string>& arguments, double seconds) {
    if (arguments.empty()) return std::nullopt;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return std::nullopt;
    }

    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    bool timedOut = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd entry{pipeFds[0], POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            if (ready == 0) continue;
            break;
        }
        char buffer[4096];
        const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        output.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    if (timedOut) kill(child, SIGKILL);
    int status = 0;
    // The output is closed: the program has ended or is about to (killed, or
    // it closed its standard output and exits); wait for it only up to the deadline.
    for (;;) {
        const pid_t done = waitpid(child, &status, timedOut ? 0 : WNOHANG);
        if (done == child) break;
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            timedOut = true;
            continue;
        }
        pollfd none{-1, 0, 0};
        poll(&none, 0, 5);
    }
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return output;
}

} // namespace brindleaf
