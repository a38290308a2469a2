#pragma once

#include "core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// The sync controller's published record of its last success and failure.
struct StatusCloudSyncHealth {
    int64_t latestSubmittedGeneration = 0;
    std::optional<int64_t> lastSucceededGeneration;
    std::optional<Date> lastSucceededAt;
    std::optional<int64_t> lastFailedGeneration;
    std::optional<std::string> lastFailureDescription; // the error's full description
    std::optional<std::string> lastFailureMessage;     // the presenter's sentence for the user
    std::optional<Date> lastFailureAt;

    bool operator==(const StatusCloudSyncHealth&) const = default;
};

} // namespace brindleaf
