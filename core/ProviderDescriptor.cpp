#include "core/ProviderDescriptor.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace brindleaf {

std::string ProviderDescriptor::rawValue(IntegrationState state) {
    return state == IntegrationState::planned ? "Planned" : "Live";
}

std::optional<ProviderDescriptor::IntegrationState> ProviderDescriptor::integrationStateFromRaw(const std::string& raw) {
    if (raw == "Live") return IntegrationState::live;
    if (raw == "Planned") return IntegrationState::planned;
    return std::nullopt;
}

nlohmann::ordered_json ProviderDescriptor::toJSON() const {
    nlohmann::ordered_json ordered;
    ordered["id"] = id;
    ordered["displayName"] = displayName;
    ordered["subtitle"] = subtitle;
    ordered["symbolName"] = symbolName;
    if (iconAssetName) ordered["iconAssetName"] = *iconAssetName;
    ordered["integrationState"] = rawValue(integrationState);
    return ordered;
}

namespace {

std::string requiredString(const nlohmann::json& json, const char* key) {
    auto it = json.find(key);
    if (it == json.end()) throw std::invalid_argument(std::string("missing key ") + key);
    if (!it->is_string()) throw std::invalid_argument(std::string("key ") + key + " is not a string");
    return it->get<std::string>();
}

} // namespace

ProviderDescriptor ProviderDescriptor::fromJSON(const nlohmann::json& json) {
    if (!json.is_object()) throw std::invalid_argument("provider descriptor is not an object");
    ProviderDescriptor descriptor;
    descriptor.id = requiredString(json, "id");
    descriptor.displayName = requiredString(json, "displayName");
    descriptor.subtitle = requiredString(json, "subtitle");
    descriptor.symbolName = requiredString(json, "symbolName");
    if (auto it = json.find("iconAssetName"); it != json.end() && !it->is_null()) {
        if (!it->is_string()) throw std::invalid_argument("key iconAssetName is not a string");
        descriptor.iconAssetName = it->get<std::string>();
    }
    const std::string raw = requiredString(json, "integrationState");
    auto state = integrationStateFromRaw(raw);
    if (!state) throw std::invalid_argument("unknown integrationState " + raw);
    descriptor.integrationState = *state;
    return descriptor;
}

} // namespace brindleaf
