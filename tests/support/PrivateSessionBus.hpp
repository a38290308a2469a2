#pragma once

#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace brindleaf::testing {

// A D-Bus session bus of the test's own: a bus daemon listening on a socket in
// a temporary folder, ended with the object (or with the test process, should
// it abort). Ready when constructed. It starts no service of the system's:
// only those whose .service files a test puts in serviceFolder().
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // "unix:path=…", as DBUS_SESSION_BUS_ADDRESS takes it.
    const std::string& address() const { return address_; }
    bool isReady() const { return ready_; }
    // Makes it this process's session bus (DBUS_SESSION_BUS_ADDRESS), for
    // itself and the programs it starts after.
    void makeSessionBus() const;
    std::filesystem::path serviceFolder() const { return dir_ / "services"; }

private:
    TempDir dir_;
    std::string address_;
    pid_t daemon_ = -1;
    bool ready_ = false;
};

} // namespace brindleaf::testing
