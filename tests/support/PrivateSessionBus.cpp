#include "tests/support/PrivateSessionBus.hpp"

#include "tests/support/ProgramRun.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brindleaf::testing {

PrivateSessionBus::PrivateSessionBus() : address_("unix:path=" + (dir_ / "bus").string()) {
    const std::string address = "--address=" + address_;
    // Only the test's own services can be started on it, none of the system's.
    const std::string configure = std::string("'") + BRINDLEAF_SOURCE_DIR + "/tools/private-bus-config.sh' '" +
                                  serviceFolder().string() + "' > '" + (dir_ / "bus.conf").string() +
                                  "' && echo written";
    if (shellOutput(configure).find("written") == std::string::npos) return;
    const std::string config = "--config-file=" + (dir_ / "bus.conf").string();
    const pid_t parent = ::getpid();
    daemon_ = ::fork();
    if (daemon_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        // Its complaints (it may not raise its descriptor limit) are no test's business.
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) ::dup2(null, STDERR_FILENO);
        ::execl("/usr/bin/dbus-daemon", "dbus-daemon", config.c_str(), "--nofork", "--nosyslog", address.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Ready once it answers on its socket.
    const std::string ask = "dbus-send --bus=" + address_ +
                            " --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                            "org.freedesktop.DBus.GetId >/dev/null 2>&1 && echo ready";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(ready_ = shellOutput(ask).find("ready") != std::string::npos)) {
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

PrivateSessionBus::~PrivateSessionBus() {
    if (daemon_ <= 0) return;
    ::kill(daemon_, SIGKILL);
    int status = 0;
    ::waitpid(daemon_, &status, 0);
}

void PrivateSessionBus::makeSessionBus() const { ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1); }

} // namespace brindleaf::testing
