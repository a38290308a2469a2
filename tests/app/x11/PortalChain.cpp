#include "tests/app/x11/PortalChain.hpp"

#include "tests/app/x11/TrayRig.hpp"
#include "tests/support/ProgramRun.hpp"

#include <cstdlib>
#include <fstream>

namespace brindleaf::testing {

ScopedVariable::ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
}

ScopedVariable::~ScopedVariable() {
    if (old_)
        ::setenv(name_, old_->c_str(), 1);
    else
        ::unsetenv(name_);
}

PortalChain::PortalChain(const PrivateSessionBus& bus, std::filesystem::path logFile)
    : bus_(bus), logFile_(std::move(logFile)) {}

PortalChain::~PortalChain() {
    portal_.reset();
    backend_.reset();
    accel_.reset();
}

::testing::AssertionResult PortalChain::start() {
    if (auto started = startPart(accel_, "/usr/bin/kglobalaccel5", "org.kde.kglobalaccel"); !started) return started;
    return startPortal();
}

::testing::AssertionResult PortalChain::startPortal() {
    if (auto started = startPart(backend_, "/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde",
                                 "org.freedesktop.impl.portal.desktop.kde");
        !started)
        return started;
    return startPart(portal_, "/usr/libexec/xdg-desktop-portal", "org.freedesktop.portal.Desktop");
}

void PortalChain::stopPortal() {
    portal_.reset();
    backend_.reset();
    waitUntil([&] {
        return !hasName("org.freedesktop.portal.Desktop") && !hasName("org.freedesktop.impl.portal.desktop.kde");
    });
}

::testing::AssertionResult PortalChain::startPart(std::unique_ptr<ChildProcess>& part, const std::string& program,
                                                  const std::string& name) {
    ScopedVariable bus("DBUS_SESSION_BUS_ADDRESS", bus_.address());
    ScopedVariable desktop("XDG_CURRENT_DESKTOP", "KDE");
    ScopedVariable platform("QT_QPA_PLATFORM", "xcb");
    ScopedVariable session("XDG_SESSION_TYPE", "x11");
    // exec: the process started is the part itself, ended by its pid.
    part = std::make_unique<ChildProcess>(
        "/bin/sh", std::vector<std::string>{"sh", "-c", "exec \"$0\" >>\"$1\" 2>&1", program, logFile_.string()});
    if (waitUntil([&] { return hasName(name); })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << program << " took no name " << name
                                         << " on the test's bus within 20 s (its output: " << logFile_ << ")";
}

int PortalChain::bindCalls() const {
    std::ifstream log(logFile_);
    int calls = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.find("BindShortcuts called") != std::string::npos) ++calls;
    }
    return calls;
}

bool PortalChain::hasName(const std::string& name) const {
    return shellOutput("dbus-send --bus='" + bus_.address() +
                       "' --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                       "org.freedesktop.DBus.NameHasOwner string:" +
                       name + " 2>&1")
               .find("boolean true") != std::string::npos;
}

} // namespace brindleaf::testing
