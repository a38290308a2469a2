#include "core/ProviderCatalog.hpp"

namespace brindleaf::ProviderCatalog {

const std::vector<ProviderDescriptor>& all() {
    static const std::vector<ProviderDescriptor> catalog = {
        {"codex", "Codex", "Codex CLI and app sessions", "terminal", std::nullopt,
         ProviderDescriptor::IntegrationState::live},
        {"claude", "Claude Code", "Claude Code sessions in the terminal, IDE, and Claude app", "curlybraces",
         std::nullopt, ProviderDescriptor::IntegrationState::live},
        {"hermes", "Hermes", "Hermes agent sessions", "bolt.horizontal.circle", std::nullopt,
         ProviderDescriptor::IntegrationState::live},
    };
    return catalog;
}

} // namespace brindleaf::ProviderCatalog
