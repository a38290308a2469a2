#include "tests/support/SpawnedProgram.hpp"

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brindleaf::testing {

pid_t startProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                   const std::filesystem::path& log, const std::function<bool()>& beforeExec) {
    if (arguments.empty()) return -1;
    std::vector<char*> argv, envp;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (output >= 0) {
            ::dup2(output, 1);
            ::dup2(output, 2);
        }
        ::setsid();
        if (beforeExec && !beforeExec()) ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return child;
}

void stopProgram(pid_t pid) {
    if (pid <= 0) return;
    ::kill(-pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

} // namespace brindleaf::testing
