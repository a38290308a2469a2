#pragma once

#include <algorithm>
#include <cstdint>

namespace brindleaf {

// What leaves the machine. Negative limits are raised to 0 on construction
// and when decoded; the payload builder treats them the same way.
struct StatusPayloadPrivacy {
    bool includeSessionDetails = true;
    bool includeProviderErrors = true;
    int64_t maxSessions = 8;
    int64_t maxErrorLength = 240;

    StatusPayloadPrivacy() = default;
    StatusPayloadPrivacy(bool includeSessionDetails, bool includeProviderErrors, int64_t maxSessions,
                         int64_t maxErrorLength)
        : includeSessionDetails(includeSessionDetails), includeProviderErrors(includeProviderErrors),
          maxSessions(std::max<int64_t>(0, maxSessions)), maxErrorLength(std::max<int64_t>(0, maxErrorLength)) {}

    // The values of the application and the command-line modes: true, true, 8, 240.
    static StatusPayloadPrivacy standard() { return StatusPayloadPrivacy(true, true, 8, 240); }

    bool operator==(const StatusPayloadPrivacy&) const = default;
};

} // namespace brindleaf
