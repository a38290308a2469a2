#include "app/CompositionRoot.hpp"

#include "core/ProcessResourceSampler.hpp"
#include "core/ProviderCatalog.hpp"
#include "core/UserHomeDirectory.hpp"
#include "platform/UserDefaults.hpp"
#include "providers/claude/ClaudeProviderConfig.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "providers/codex/CodexAppServerStatusProbe.hpp"
#include "providers/codex/CodexDaemonStatusProbe.hpp"
#include "providers/codex/CodexOfficialStatusProbes.hpp"
#include "providers/codex/CodexProviderConfig.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "providers/hermes/HermesOfficialStatusProbe.hpp"
#include "providers/hermes/HermesProviderConfig.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"
#include "services/BuildInfo.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

extern char** environ;

namespace brindleaf::CompositionRoot {

namespace {

// The tray application reuses process samples up to this age.
constexpr double applicationSampleMaxAge = 10.0;
constexpr double stalePreviousStateInterval = 12.0;
constexpr double transientCompleteHoldInterval = 1.2;

} // namespace

std::map<std::string, std::string> processEnvironment() {
    std::map<std::string, std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* separator = std::strchr(*entry, '=');
        if (!separator) continue;
        environment.emplace(std::string(*entry, static_cast<std::size_t>(separator - *entry)),
                            std::string(separator + 1));
    }
    return environment;
}

ProcessSnapshotReader processSnapshotReader(bool cliMode) {
    if (cliMode) return ProcessResourceSampler::freshReader();
    return ProcessResourceSampler::cachedReader(applicationSampleMaxAge);
}

std::shared_ptr<CodexOfficialStatusProbe> codexOfficialStatusProbe(const std::string& codexHome, bool cliMode) {
    std::vector<std::shared_ptr<CodexOfficialStatusProbe>> probes;
    if (auto endpoint = CodexAppServerStatusProbe::fromEnvironment(processEnvironment())) probes.push_back(endpoint);
    CodexDaemonStatusProbe::Options daemon;
    daemon.codexHome = codexHome;
    daemon.clientVersion = std::string(BuildInfo::version());
    daemon.mode = cliMode ? CodexDaemonStatusProbe::Mode::once : CodexDaemonStatusProbe::Mode::follow;
    daemon.user = ::getuid();
    probes.push_back(std::make_shared<CodexDaemonStatusProbe>(std::move(daemon)));
    return std::make_shared<CodexOfficialStatusProbes>(std::move(probes));
}

std::unique_ptr<AgentStatusService> makeStatusService(const std::string& codexHome,
                                                      const std::optional<std::string>& sqliteHome, bool cliMode,
                                                      double timeout, const std::optional<std::string>& home) {
    const std::string userHome = home.value_or(UserHomeDirectory::path());
    const ProcessSnapshotReader reader = processSnapshotReader(cliMode);

    auto codex = std::make_shared<CodexStatusProvider>(CodexProviderConfig::standard(codexHome, sqliteHome), reader,
                                                       codexOfficialStatusProbe(codexHome, cliMode));
    auto claude =
        std::make_shared<ClaudeStatusProvider>(ClaudeProviderConfig::standard(userHome, cliMode ? 0.0 : 10.0), reader);
    auto hermes =
        std::make_shared<HermesStatusProvider>(HermesProviderConfig::standard(userHome), reader, ProcessCommandReader{},
                                               std::make_shared<HermesDefaultOfficialStatusProbe>(), 30.0);

    std::vector<std::shared_ptr<AgentStatusProvider>> providers{codex, claude, hermes};
    return std::make_unique<AgentStatusService>(std::move(providers), timeout, stalePreviousStateInterval,
                                                transientCompleteHoldInterval);
}

std::set<std::string> enabledStatusProviders() {
    ProviderSettingsStore settings(UserDefaults::standard());
    std::set<std::string> names;
    for (const auto& provider : ProviderCatalog::all()) {
        if (settings.enabledProviderIDs().count(provider.id)) names.insert(provider.displayName);
    }
    return names;
}

bool isAppSandboxed() { return std::getenv("APP_SANDBOX_CONTAINER_ID") != nullptr; }

} // namespace brindleaf::CompositionRoot
