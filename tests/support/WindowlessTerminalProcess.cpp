#include "tests/support/WindowlessTerminalProcess.hpp"

#include "platform/ProcessLineage.hpp"
#include "tests/support/Eventually.hpp"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace brindleaf::testing {

WindowlessTerminalProcess::WindowlessTerminalProcess() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* name = ::ptsname(master_);
    if (!name) return;
    const std::string slave = name;
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setsid();
        ::close(::open(slave.c_str(), O_RDWR)); // becomes the controlling terminal
        ::close(ready[1]);
        char byte;
        (void)!::read(ready[0], &byte, 1); // until the object goes
        ::_exit(0);
    }
    ::close(ready[0]);
    release_ = ready[1];
}

WindowlessTerminalProcess::~WindowlessTerminalProcess() {
    if (release_ >= 0) ::close(release_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    if (master_ >= 0) ::close(master_);
}

bool WindowlessTerminalProcess::hasTerminal() const {
    return pid_ > 0 && eventually([this] { return ProcessLineage().hasTerminal(pid_); });
}

} // namespace brindleaf::testing
