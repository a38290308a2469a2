#pragma once

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>

namespace brindleaf {

// One agent the system knows. JSON keys: "id", "displayName", "subtitle",
// "symbolName", "iconAssetName" (only when present), "integrationState"
// ("Live" or "Planned").
struct ProviderDescriptor {
    enum class IntegrationState { live, planned };

    std::string id{};
    std::string displayName{}; // equals the provider's name()
    std::string subtitle{};
    std::string symbolName{};
    std::optional<std::string> iconAssetName{};
    IntegrationState integrationState = IntegrationState::live;

    bool operator==(const ProviderDescriptor&) const = default;

    static std::string rawValue(IntegrationState state);
    static std::optional<IntegrationState> integrationStateFromRaw(const std::string& raw);

    // The six keys in declaration order ("iconAssetName" only when present).
    nlohmann::ordered_json toJSON() const;
    // Throws std::invalid_argument when a required key is missing, a value has
    // the wrong type, or the integration state is unknown.
    static ProviderDescriptor fromJSON(const nlohmann::json& json);
};

} // namespace brindleaf
