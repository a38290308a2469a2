#pragma once

#include "sync/StatusPayload.hpp"

namespace brindleaf {

// What the sync controller needs of the cloud store. Each operation completes
// before it returns and throws on failure; the controller calls them on its
// worker, never on the main queue.
class StatusCloudSyncStore {
public:
    virtual ~StatusCloudSyncStore() = default;
    virtual void save(const StatusPayload& payload) = 0;
    virtual void ensureSubscription() = 0;
    virtual void deleteStatus() = 0;
};

} // namespace brindleaf
