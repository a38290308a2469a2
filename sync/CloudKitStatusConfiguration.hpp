#pragma once

#include "platform/CloudRecordStore.hpp"

#include <optional>
#include <string>

namespace brindleaf {

// Where the status record lives and what it is called.
struct CloudKitStatusConfiguration {
    std::optional<std::string> containerIdentifier;
    CloudDatabaseScope databaseScope = CloudDatabaseScope::privateScope;
    std::string recordType;
    std::string recordName;
    std::string subscriptionID;

    // The values every part of the application uses.
    static CloudKitStatusConfiguration standard() {
        return {"iCloud.com.quorvale.Brindleaf", CloudDatabaseScope::privateScope, "CurrentStatus", "current",
                "current-status-silent"};
    }

    bool operator==(const CloudKitStatusConfiguration&) const = default;
};

} // namespace brindleaf
