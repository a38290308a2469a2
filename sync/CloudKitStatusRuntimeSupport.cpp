#include "sync/CloudKitStatusRuntimeSupport.hpp"

#include "sync/CloudKitEntitlement.hpp"

namespace brindleaf::CloudKitStatusRuntimeSupport {

std::shared_ptr<CloudKitStatusStore> makeStore(const CloudKitStatusConfiguration& configuration) {
    if (!hasCloudKitEntitlement()) return nullptr;
    return std::make_shared<CloudKitStatusStore>(configuration);
}

bool hasEntitlement() { return hasCloudKitEntitlement(); }

std::string unavailableMessage() { return "The status record store isn\u2019t available on this computer."; }

} // namespace brindleaf::CloudKitStatusRuntimeSupport
