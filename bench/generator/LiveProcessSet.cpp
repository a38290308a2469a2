#include "bench/generator/LiveProcessSet.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brindleaf::bench {

namespace {

constexpr const char* holdVariable = "BRINDLEAF_BENCH_HOLD";
constexpr const char* childVariable = "BRINDLEAF_BENCH_HOLD_CHILD";
constexpr char separator = '\x1f';

std::string selfExecutable() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) throw std::runtime_error("cannot find the running program");
    return std::string(buffer, std::size_t(n));
}

std::string joined(const std::vector<std::string>& argv) {
    std::string out;
    for (const auto& a : argv) {
        if (!out.empty()) out.push_back(separator);
        out += a;
    }
    return out;
}

std::vector<std::string> split(const char* text) {
    std::vector<std::string> out;
    std::string current;
    for (const char* p = text; *p; ++p) {
        if (*p == separator) {
            out.push_back(current);
            current.clear();
        } else {
            current.push_back(*p);
        }
    }
    out.push_back(current);
    return out;
}

// Forks a copy of this program that shows `argv` and waits. Returns the pid.
pid_t spawnHolder(const std::string& executable, const std::vector<std::string>& argv, const std::string& cwd,
                  const std::vector<std::string>& childArgv) {
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    for (auto& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    std::string hold = std::string(holdVariable) + "=1";
    std::string child = std::string(childVariable) + "=" + joined(childArgv);
    std::vector<char*> environment;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, holdVariable, std::strlen(holdVariable)) == 0) continue;
        environment.push_back(*e);
    }
    environment.push_back(hold.data());
    if (!childArgv.empty()) environment.push_back(child.data());
    environment.push_back(nullptr);

    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        execve(executable.c_str(), pointers.data(), environment.data());
        _exit(127);
    }
    return pid;
}

// Waits until the process table shows the new arguments (the exec happened).
void waitForArguments(pid_t pid, const std::string& argv0) {
    const std::string path = "/proc/" + std::to_string(pid) + "/cmdline";
    for (int attempt = 0; attempt < 2500; ++attempt) {
        std::ifstream in(path, std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (cmdline.substr(0, cmdline.find('\0')) == argv0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

const bool holdChecked = (LiveProcessSet::holdIfRequested(), true);

} // namespace

void LiveProcessSet::holdIfRequested() {
    (void)holdChecked;
    const char* hold = std::getenv(holdVariable);
    if (!hold || std::strcmp(hold, "1") != 0) return;
    const char* child = std::getenv(childVariable);
    if (child && *child) {
        std::vector<std::string> argv = split(child);
        unsetenv(childVariable);
        try {
            spawnHolder(selfExecutable(), argv, "", {});
        } catch (...) {
        }
    }
    for (;;) pause();
}

LiveProcessSet::LiveProcessSet(const GeneratedHome& home) : home_(home) {
    std::string executable = selfExecutable();
    for (const auto& plan : home_.processes) {
        pid_t pid = 0;
        try {
            pid = spawnHolder(executable, plan.argv, plan.cwd, plan.childArgv);
        } catch (...) {
            pid = 0;
        }
        pids_.push_back(int(pid));
    }
    for (std::size_t i = 0; i < pids_.size(); ++i) {
        if (pids_[i] > 0) waitForArguments(pids_[i], home_.processes[i].argv.front());
    }
    // Give each shell-task child a moment to show up below its engine.
    for (std::size_t i = 0; i < pids_.size(); ++i) {
        if (pids_[i] <= 0 || home_.processes[i].childArgv.empty()) continue;
        const std::string children = "/proc/" + std::to_string(pids_[i]) + "/task/" + std::to_string(pids_[i]) + "/children";
        for (int attempt = 0; attempt < 500; ++attempt) {
            std::ifstream in(children);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!text.empty()) {
                // ...and to have become the planned command.
                waitForArguments(std::atoi(text.c_str()), home_.processes[i].childArgv.front());
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    writeProcessFiles(home_, pids_, currentDate());
}

LiveProcessSet::~LiveProcessSet() { stop(); }

void LiveProcessSet::stop() {
    if (pids_.empty()) return;
    std::error_code ignored;
    for (std::size_t i = 0; i < pids_.size(); ++i) {
        if (pids_[i] <= 0) continue;
        ::kill(pids_[i], SIGKILL);
        int status = 0;
        waitpid(pids_[i], &status, 0);
        if (home_.processes[i].kind == "claude-engine") {
            std::filesystem::remove(home_.claudeHome() / "sessions" / (std::to_string(pids_[i]) + ".json"), ignored);
        }
    }
    pids_.clear();
    writeProcessFiles(home_, {}, currentDate());
}

} // namespace brindleaf::bench
