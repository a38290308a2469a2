#pragma once

#include "sync/StatusPayload.hpp"
#include "sync/StatusPayloadPrivacy.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <string_view>

namespace brindleaf {

// A failure to encode or decode payload JSON; what() says what and where.
class StatusPayloadCodecError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The one JSON form of the payload, used by every producer and consumer.
// Encoding: compact, keys sorted at every level, optional values omitted
// (never null), enumerations as their raw values, dates as ISO 8601 UTC text
// with whole seconds and "Z". Text that is not valid UTF-8 is repaired, and a
// CPU percentage that is not a finite number is left out.
// Decoding: every key of the payload, provider and privacy records is
// required; sessions and resource usage have the defaults documented on the
// records (needsUserAttention false, evidenceStrength confirmed, processCount
// 1 and never below 1); an unknown state or strength fails. Dates may carry a
// fraction or a numeric offset; a date the encoder could not write (outside
// the years 0000 to 9999 in UTC) fails.
namespace StatusPayloadCodec {

std::string encode(const StatusPayload& payload);
std::string encode(const StatusPayloadPrivacy& privacy);
nlohmann::json toJSON(const StatusPayload& payload);
nlohmann::json toJSON(const ProviderStatusPayload& provider);
nlohmann::json toJSON(const SessionStatusPayload& session);
nlohmann::json toJSON(const SessionResourceUsagePayload& usage);

StatusPayload decodePayload(std::string_view json);
StatusPayloadPrivacy decodePrivacy(std::string_view json);
StatusPayload payloadFromJSON(const nlohmann::json& json);
ProviderStatusPayload providerFromJSON(const nlohmann::json& json);
SessionStatusPayload sessionFromJSON(const nlohmann::json& json);
SessionResourceUsagePayload resourceUsageFromJSON(const nlohmann::json& json);

// ISO 8601 UTC with whole seconds: 2026-01-31T09:05:00Z (fractions cut off).
// Throws StatusPayloadCodecError for a date that is not a finite number or
// lies outside the years 0000 to 9999 in UTC.
std::string formatDate(Date date);

} // namespace StatusPayloadCodec

} // namespace brindleaf
