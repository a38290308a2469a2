#include "tests/providers/codex/CodexDaemonHome.hpp"

#include <chrono>
#include <thread>
#include <unistd.h>

namespace brindleaf::testing {

namespace fs = std::filesystem;

CodexDaemonHome::CodexDaemonHome(std::optional<fs::path> home) : codexHome(home ? *home : ownHome.path()) {
    fs::create_directories(controlFolder());
    fs::permissions(controlFolder(), fs::perms(0755));
    fs::create_directories(socketFolder());
    fs::permissions(socketFolder(), fs::perms(0700));
    daemon = std::make_unique<TestCodexDaemon>(socket());
    fs::create_symlink(socket(), link());
}

CodexDaemonStatusProbe::Options CodexDaemonHome::options(CodexDaemonStatusProbe::Mode mode) const {
    CodexDaemonStatusProbe::Options options;
    options.codexHome = codexHome.string();
    options.clientVersion = "1.0.0";
    options.mode = mode;
    options.user = ::getuid();
    return options;
}

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace brindleaf::testing
