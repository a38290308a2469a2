#pragma once

#include "core/AgentStatusService.hpp"
#include "core/ProcessResourceSample.hpp"
#include "core/ProcessSampleList.hpp"
#include "providers/codex/CodexOfficialStatusProbe.hpp"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace brindleaf {

// The one place where the status service and its three providers are built
// and every tuning value they receive is fixed.
namespace CompositionRoot {

// Seconds each provider scan may take; both the tray and the headless modes use it.
inline constexpr double providerTimeout = 5.0;

// The process's environment as a dictionary.
std::map<std::string, std::string> processEnvironment();

// The process sampling the providers share: a fresh sample on every call in
// the command-line modes, samples up to 10 seconds old in the tray application
// (whose first scans wait, off the main thread, up to 1.5 s for its first
// sample).
ProcessSnapshotReader processSnapshotReader(bool cliMode);

// The Codex provider's official statuses: the app-server endpoint the
// environment names (if any), then the Codex daemon's control socket in
// `codexHome`, followed on a thread of its own in the tray application and
// asked once per scan (within 0.5 s) in the command-line modes.
std::shared_ptr<CodexOfficialStatusProbe> codexOfficialStatusProbe(const std::string& codexHome, bool cliMode);

// A new service with the providers Codex, Claude Code and Hermes, in that
// order. `home` defaults to the user's real home directory.
std::unique_ptr<AgentStatusService> makeStatusService(const std::string& codexHome,
                                                      const std::optional<std::string>& sqliteHome, bool cliMode,
                                                      double providerTimeout,
                                                      const std::optional<std::string>& home = std::nullopt);

// The display names of the catalog providers enabled in the standard
// settings (loading them runs their migrations); the snapshot filter of the
// service. Folder grants are not consulted.
std::set<std::string> enabledStatusProviders();

// Whether the environment holds "APP_SANDBOX_CONTAINER_ID" (any value, empty too).
bool isAppSandboxed();

} // namespace CompositionRoot

} // namespace brindleaf
