#include "windows/CloudSyncPaneContent.hpp"

#include "presentation/StatusFormatting.hpp"

namespace brindleaf::CloudSyncPaneContent {

Shown shown(bool hasStore, bool isSyncEnabled, const StatusCloudSyncHealth& health, Date now) {
    Shown result;
    result.toggleEnabled = hasStore;
    if (!hasStore) {
        result.unavailable = true;
        return result;
    }
    if (!isSyncEnabled) return result;
    result.lastSynced =
        health.lastSucceededAt ? StatusFormatting::relativeTime(*health.lastSucceededAt, now) : std::string(notYetText);
    result.failure = health.lastFailureMessage;
    return result;
}

} // namespace brindleaf::CloudSyncPaneContent
