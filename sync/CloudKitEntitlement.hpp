#pragma once

#include "platform/Entitlements.hpp"

namespace brindleaf {

inline constexpr const char* iCloudServicesEntitlement = "com.apple.developer.icloud-services";

// The application's test: the iCloud services entitlement is an array of
// texts that holds "CloudKit", or the text "CloudKit" itself.
bool hasCloudKitEntitlement(const Entitlements& entitlements);
bool hasCloudKitEntitlement();

// The command line's stricter test: only an array of texts that holds "CloudKit".
bool commandLineHasCloudKitEntitlement(const Entitlements& entitlements);
bool commandLineHasCloudKitEntitlement();

} // namespace brindleaf
