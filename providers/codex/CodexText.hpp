#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf::codex {

// Small text helpers the Codex provider shares between its sources.

// The text without white space and line breaks at both ends (ASCII and the
// Unicode space and line-break characters).
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// Splits at LF, VT, FF, CR, CR LF, U+0085, U+2028 and U+2029, dropping empty pieces.
std::vector<std::string_view> splitLines(std::string_view text);

// Trimmed, the first non-empty line, trimmed again; empty when there is none.
std::string cleanedFirstLine(std::optional<std::string_view> text);

// The whole text read as a decimal floating-point number: optional sign,
// digits with an optional fraction, optional exponent, no blanks. Non-finite
// results are absent.
std::optional<double> parseDecimalNumber(std::string_view text);

// A text of decimal digits with an optional leading "+" or "-" that fits a
// signed 64-bit integer.
std::optional<int64_t> parseDecimalInteger(std::string_view text);

// Rounds down to a signed 64-bit integer; absent when not finite or out of range.
std::optional<int64_t> floorToInt64(double value);

// A date of seconds since 1970 when finite and between the years 1 and 9999.
std::optional<double> plausibleDate(double seconds);

// The plain decimal text of a number as it appears in a status answer: whole
// values without a fraction ("42"), others in their shortest exact form.
std::string numberText(double value);

} // namespace brindleaf::codex
