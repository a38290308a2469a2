#pragma once

#include <sys/types.h>

namespace brindleaf::testing {

// A process with a terminal of its own (a pseudo-terminal as its controlling
// terminal) that no window shows; it ends with the object.
class WindowlessTerminalProcess {
public:
    WindowlessTerminalProcess();
    ~WindowlessTerminalProcess();
    WindowlessTerminalProcess(const WindowlessTerminalProcess&) = delete;
    WindowlessTerminalProcess& operator=(const WindowlessTerminalProcess&) = delete;

    // -1 when it could not start.
    pid_t pid() const { return pid_; }
    // Waits (bounded) until the process has its controlling terminal.
    bool hasTerminal() const;

private:
    int master_ = -1;
    int release_ = -1;
    pid_t pid_ = -1;
};

} // namespace brindleaf::testing
