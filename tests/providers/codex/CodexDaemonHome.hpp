#pragma once

#include "providers/codex/CodexDaemonStatusProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestCodexDaemon.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindleaf::testing {

// A Codex home laid out as the daemon leaves it: the link
// <home>/app-server-control/app-server-control.sock pointing at the socket in
// a private folder of its own (the stand-in for /tmp/codex-daemon-UID), and a
// test daemon listening there.
struct CodexDaemonHome {
    // Without a Codex home, one of its own.
    explicit CodexDaemonHome(std::optional<std::filesystem::path> codexHome = std::nullopt);

    CodexDaemonStatusProbe::Options options(CodexDaemonStatusProbe::Mode mode) const;
    std::filesystem::path controlFolder() const { return codexHome / "app-server-control"; }
    std::filesystem::path link() const { return controlFolder() / "app-server-control.sock"; }
    std::filesystem::path socketFolder() const { return socketRoot.path() / "codex-daemon"; }
    std::filesystem::path socket() const { return socketFolder() / "app-server-control.sock"; }

    TempDir ownHome;
    TempDir socketRoot;
    std::filesystem::path codexHome;
    std::unique_ptr<TestCodexDaemon> daemon;
};

// Waits (up to 20 s) until the condition holds; whether it does.
bool eventually(const std::function<bool()>& condition);

} // namespace brindleaf::testing
