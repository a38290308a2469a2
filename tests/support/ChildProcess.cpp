#include "tests/support/ChildProcess.hpp"

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brindleaf::testing {

ChildProcess::ChildProcess(const std::string& program, std::vector<std::string> argv,
                           const std::filesystem::path& workingDirectory) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // Its own process group, so whatever it starts is killed with it.
        ::setpgid(0, 0);
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(127);
        execv(program.c_str(), args.data());
        _exit(127);
    }
    // Also set here: the kill may come before the child has run.
    ::setpgid(pid_, pid_);
    if (!argv.empty()) waitForExec(pid_, argv.front());
}

ChildProcess::~ChildProcess() { kill(); }

void ChildProcess::kill() {
    if (pid_ <= 0) return;
    // The whole group: a shell child's own children must not outlive the test.
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

bool ChildProcess::waitForExit(int timeoutMs) {
    if (pid_ <= 0) return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool waitForExec(pid_t pid, const std::string& expectedArg0, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string path = "/proc/" + std::to_string(pid) + "/cmdline";
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(path, std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto end = cmdline.find('\0');
        if (cmdline.substr(0, end) == expectedArg0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

} // namespace brindleaf::testing
