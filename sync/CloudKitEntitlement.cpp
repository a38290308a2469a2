#include "sync/CloudKitEntitlement.hpp"

#include <algorithm>

namespace brindleaf {

namespace {

bool isStringArrayHoldingCloudKit(const nlohmann::json& value) {
    if (!value.is_array()) return false;
    if (!std::all_of(value.begin(), value.end(), [](const nlohmann::json& v) { return v.is_string(); })) return false;
    return std::any_of(value.begin(), value.end(), [](const nlohmann::json& v) { return v.get<std::string>() == "CloudKit"; });
}

} // namespace

bool hasCloudKitEntitlement(const Entitlements& entitlements) {
    auto value = entitlements.value(iCloudServicesEntitlement);
    if (!value) return false;
    if (value->is_string()) return value->get<std::string>() == "CloudKit";
    return isStringArrayHoldingCloudKit(*value);
}

bool hasCloudKitEntitlement() { return hasCloudKitEntitlement(Entitlements::current()); }

bool commandLineHasCloudKitEntitlement(const Entitlements& entitlements) {
    auto value = entitlements.value(iCloudServicesEntitlement);
    return value && isStringArrayHoldingCloudKit(*value);
}

bool commandLineHasCloudKitEntitlement() { return commandLineHasCloudKitEntitlement(Entitlements::current()); }

} // namespace brindleaf
