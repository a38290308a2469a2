// brindleaf-bench-run: runs a command and prints "<wall ms> <peak resident KiB>
// <exit status>" on standard output. The benchmark program starts commands
// through it because a child forked from a large process inherits that
// process's resident size as its starting peak; forked from this small
// program, the child's peak is its own.
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: brindleaf-bench-run PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    auto started = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        // The command's own output is not wanted.
        int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) < 0) return 1;
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%.3f %ld %d\n", ms, usage.ru_maxrss, code);
    return 0;
}
