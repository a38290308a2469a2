#pragma once

#include "tests/support/ChildProcess.hpp"
#include "tests/support/PrivateSessionBus.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace brindleaf::testing {

// Sets a variable of this process (and what it starts) for the object's life.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The desktop portal chain of KDE (kglobalaccel5, xdg-desktop-portal-kde,
// xdg-desktop-portal) on a bus of the test's own and the X server of
// $DISPLAY, with the folders of the environment it is started in (each test
// gives it its own: kglobalaccel keeps keys in $XDG_CONFIG_HOME). Each part
// is started and ended by pid, in the order they need each other (the KDE
// backend outlives its bus). Their output goes to `logFile`.
class PortalChain {
public:
    PortalChain(const PrivateSessionBus& bus, std::filesystem::path logFile);
    ~PortalChain();

    ::testing::AssertionResult start();
    // The portal and its backend, ended and started again (kglobalaccel stays).
    ::testing::AssertionResult startPortal();
    void stopPortal();
    bool hasName(const std::string& name) const;
    // How many BindShortcuts calls the KDE backend has logged. A client
    // binds only once its session is made, so it is then ready for presses.
    int bindCalls() const;

private:
    ::testing::AssertionResult startPart(std::unique_ptr<ChildProcess>& part, const std::string& program,
                                         const std::string& name);

    const PrivateSessionBus& bus_;
    std::filesystem::path logFile_;
    std::unique_ptr<ChildProcess> accel_;
    std::unique_ptr<ChildProcess> backend_;
    std::unique_ptr<ChildProcess> portal_;
};

} // namespace brindleaf::testing
