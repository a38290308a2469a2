#pragma once

#include "sync/CloudKitStatusConfiguration.hpp"
#include "sync/CloudKitStatusStore.hpp"

#include <memory>
#include <string>

namespace brindleaf {

// Store factory for the companion side.
namespace CloudKitStatusRuntimeSupport {

// A status store for the configuration when the CloudKit entitlement is held, else nullptr.
std::shared_ptr<CloudKitStatusStore> makeStore(const CloudKitStatusConfiguration& configuration);
bool hasEntitlement();
// "The status record store isn’t available on this computer."
std::string unavailableMessage();

} // namespace CloudKitStatusRuntimeSupport

} // namespace brindleaf
