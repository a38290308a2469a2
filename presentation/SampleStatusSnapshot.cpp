#include "presentation/SampleStatusSnapshot.hpp"

namespace brindleaf {

AgentStatusSnapshot makeSampleStatusSnapshot(Date now) {
    AgentSession codex({
        .id = "sample-codex-7c2e1f",
        .provider = "Codex",
        .title = "Add offline mode to the sync client",
        .cwd = "/Users/Shared/Projects/weather-app",
        .lastActivityAt = now - 12,
        .evidence = "rollout has pending tool call",
        .needsUserAttention = false,
        .resourceUsage = SessionResourceUsage(4321, 18.4, 222298112, 3),
        .runtimeProfile = SessionRuntimeProfile("gpt-5-codex", "high", SessionRuntimeProfileSource::codexThreadStore),
    });
    AgentSession writing({
        .id = "sample-claude-a19b44",
        .provider = "Claude Code",
        .title = "Write release notes for version 2.0",
        .cwd = "/Users/Shared/Projects/website",
        .lastActivityAt = now - 40,
        .evidence = "Claude turn awaiting assistant response",
        .needsUserAttention = false,
        .resourceUsage = SessionResourceUsage(5678, 6.2, 319815680, 2),
        .runtimeProfile =
            SessionRuntimeProfile("claude-sonnet-5", "medium", SessionRuntimeProfileSource::claudeTranscript),
    });
    // Stored as given, without the normalising initialiser.
    SessionRuntimeProfile opus;
    opus.model = "claude-opus-5";
    opus.source = SessionRuntimeProfileSource::claudeTranscript;
    AgentSession choosing({
        .id = "sample-claude-d42c90",
        .provider = "Claude Code",
        .title = "Choose a database migration plan",
        .cwd = "/Users/Shared/Projects/inventory-service",
        .lastActivityAt = now - 95,
        .evidence = "Claude is waiting for your choice",
        .needsUserAttention = true,
        .runtimeProfile = opus,
    });

    std::vector<ProviderSnapshot> providers;
    providers.push_back(ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {codex}, 0, now, {}));
    providers.push_back(
        ProviderSnapshot::make("Claude Code", std::nullopt, std::nullopt, {writing, choosing}, 1, now, {}));
    providers.push_back(ProviderSnapshot::make("Hermes", std::nullopt, std::nullopt, {}, 0, now, {}));
    return AgentStatusSnapshot::make(std::move(providers), now);
}

} // namespace brindleaf
