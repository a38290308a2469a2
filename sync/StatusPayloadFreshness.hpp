#pragma once

#include "core/Date.hpp"
#include "sync/StatusPayload.hpp"

namespace brindleaf {

// True when the payload was checked more than maxAge seconds before now.
inline bool isStatusPayloadStale(const StatusPayload& payload, Date now, double maxAge) {
    return now - payload.checkedAt > maxAge;
}

// The companion shows a payload live while it is at most 90 seconds old.
namespace StatusPayloadLiveGate {
inline constexpr double defaultMaxAge = 90.0;
inline bool isFresh(const StatusPayload& payload, Date now, double maxAge = defaultMaxAge) {
    return now - payload.checkedAt <= maxAge;
}
} // namespace StatusPayloadLiveGate

// Older payloads, up to 15 minutes, serve as a fallback.
namespace StatusPayloadFallbackGate {
inline constexpr double defaultMaxAge = 900.0;
inline bool isFresh(const StatusPayload& payload, Date now, double maxAge = defaultMaxAge) {
    return now - payload.checkedAt <= maxAge;
}
} // namespace StatusPayloadFallbackGate

// The companion widget's kind and its number.
namespace StatusWidgetConfiguration {
inline constexpr const char* kind = "ActiveWorkComplication";
inline constexpr double value = 5.0;
} // namespace StatusWidgetConfiguration

} // namespace brindleaf
