#pragma once

#include "core/Date.hpp"

#include <optional>
#include <string_view>

namespace brindleaf {

// The fast parser of UTC timestamps: YYYY-MM-DDTHH:MM:SS[.fraction]Z (a space
// may stand for the T). Allocates nothing; absent for anything else.
std::optional<Date> parseISO8601Timestamp(std::string_view text);

// The general ISO 8601 internet date-time parser the fast one falls back to:
// with or without a fraction, "Z" or a numeric offset ("+02:00", "-0530").
std::optional<Date> parseISO8601Fallback(std::string_view text);

// parseISO8601Timestamp, then parseISO8601Fallback.
std::optional<Date> parseISO8601Date(std::string_view text);

// A numeric timestamp from an agent's file: seconds since 1970, or
// milliseconds when the value is above 1e10. Non-finite values, and values
// that do not describe a plausible date, are absent.
std::optional<Date> dateFromNumericTimestamp(double value);

} // namespace brindleaf
