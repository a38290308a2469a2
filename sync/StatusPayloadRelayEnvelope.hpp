#pragma once

#include "sync/StatusPayload.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace brindleaf {

// Raw bytes inside a relay message.
struct RelayBytes {
    std::string bytes;
    bool operator==(const RelayBytes&) const = default;
};

using RelayValue = std::variant<bool, int64_t, double, std::string, RelayBytes>;
using RelayMessage = std::map<std::string, RelayValue>;

// The messages the phone and the watch exchange about the current status.
namespace StatusPayloadRelayEnvelope {

// {"requestCurrentStatus": true}
RelayMessage requestMessage();
// True when "requestCurrentStatus" holds the Boolean true.
bool isRequest(const RelayMessage& message);
// {"payloadData": <JSON bytes>} for a payload (encoding errors are thrown), {"clear": true} without one.
RelayMessage message(const std::optional<StatusPayload>& payload);
// Absent when "clear" is the Boolean true or "payloadData" holds no bytes;
// else the decoded payload (decoding errors are thrown).
std::optional<StatusPayload> payload(const RelayMessage& message);

} // namespace StatusPayloadRelayEnvelope

} // namespace brindleaf
