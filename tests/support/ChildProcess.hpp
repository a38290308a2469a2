#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brindleaf::testing {

// A real process the test starts in its own process group; the group (the
// process and whatever it started) is killed and the process reaped when the
// object goes.
// The first element of `argv` is what the process table shows as argument 0;
// `program` is the executable actually run (e.g. "/bin/sleep").
class ChildProcess {
public:
    ChildProcess(const std::string& program, std::vector<std::string> argv,
                 const std::filesystem::path& workingDirectory = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void kill();
    // Whether the process ended (it is then reaped) within the time.
    bool waitForExit(int timeoutMs);

private:
    pid_t pid_ = -1;
};

// Waits until /proc shows the process's arguments as given (the exec has happened).
bool waitForExec(pid_t pid, const std::string& expectedArg0, int timeoutMs = 5000);

} // namespace brindleaf::testing
