#include "core/TimestampParsing.hpp"

#include <cmath>
#include <cstdint>

namespace brindleaf {

namespace {

inline bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline int digit(unsigned char c) { return c - '0'; }
inline int twoDigits(const unsigned char* b) { return digit(b[0]) * 10 + digit(b[1]); }

// Days from 1970-01-01 of a proleptic Gregorian date (month 1-12); the day
// may run past the month's end and counts on into the next month.
inline int64_t daysFromCivil(int64_t year, int month, int day) {
    const int64_t y = month <= 2 ? year - 1 : year;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The fraction weights 0.1, 0.01, ... each the previous one divided by 10,
// computed once exactly as the per-digit division would.
struct FractionWeights {
    double values[32];
    constexpr FractionWeights() : values() {
        double weight = 0.1;
        for (double& value : values) {
            value = weight;
            weight /= 10;
        }
    }
};
constexpr FractionWeights fractionWeights;

inline bool isLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

inline int daysInMonth(int64_t year, int month) {
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : lengths[month - 1];
}

struct DateTimeFields {
    int year, month, day, hour, minute, second;
};

// The numbers of "YYYY-MM-DD?HH:MM:SS" at the start of `b` (at least 19 bytes;
// the separators are the caller's to check); absent when a digit is missing.
inline std::optional<DateTimeFields> dateTimeFields(const unsigned char* b) {
    static constexpr int digitPositions[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
    for (int p : digitPositions)
        if (!isDigit(b[p])) return std::nullopt;
    return DateTimeFields{twoDigits(b) * 100 + twoDigits(b + 2), twoDigits(b + 5), twoDigits(b + 8),
                          twoDigits(b + 11), twoDigits(b + 14), twoDigits(b + 17)};
}

} // namespace

std::optional<Date> parseISO8601Timestamp(std::string_view text) {
    const std::size_t n = text.size();
    if (n < 20) return std::nullopt;
    const auto* b = reinterpret_cast<const unsigned char*>(text.data());
    if (b[4] != '-' || b[7] != '-' || (b[10] != 'T' && b[10] != ' ') || b[13] != ':' || b[16] != ':' ||
        b[n - 1] != 'Z')
        return std::nullopt;
    const auto fields = dateTimeFields(b);
    if (!fields) return std::nullopt;
    const auto [year, month, day, hour, minute, second] = *fields;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;

    double fraction = 0;
    if (n != 20) {
        if (n < 22 || b[19] != '.') return std::nullopt;
        std::size_t i = 20;
        for (std::size_t k = 0; i + 1 < n && k < 32; ++i, ++k) {
            if (!isDigit(b[i])) return std::nullopt;
            fraction += digit(b[i]) * fractionWeights.values[k];
        }
        double weight = fractionWeights.values[31] / 10;
        for (; i + 1 < n; ++i) {
            if (!isDigit(b[i])) return std::nullopt;
            fraction += digit(b[i]) * weight;
            weight /= 10;
        }
    }
    const int64_t seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return fraction + static_cast<double>(seconds);
}

std::optional<Date> parseISO8601Fallback(std::string_view text) {
    const std::size_t n = text.size();
    const auto* b = reinterpret_cast<const unsigned char*>(text.data());
    // YYYY-MM-DD(T|t| )HH:MM:SS
    if (n < 20) return std::nullopt;
    if (b[4] != '-' || b[7] != '-' || (b[10] != 'T' && b[10] != 't' && b[10] != ' ') || b[13] != ':' ||
        b[16] != ':')
        return std::nullopt;
    const auto fields = dateTimeFields(b);
    if (!fields) return std::nullopt;
    const auto [year, month, day, hour, minute, second] = *fields;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 60)
        return std::nullopt;

    std::size_t i = 19;
    double fraction = 0;
    if (i < n && (b[i] == '.' || b[i] == ',')) {
        ++i;
        const std::size_t start = i;
        double weight = 0.1;
        while (i < n && isDigit(b[i])) {
            fraction += digit(b[i]) * weight;
            weight /= 10;
            ++i;
        }
        if (i == start) return std::nullopt;
    }
    if (i >= n) return std::nullopt;

    int64_t offsetSeconds = 0;
    if (b[i] == 'Z' || b[i] == 'z') {
        ++i;
    } else if (b[i] == '+' || b[i] == '-') {
        const int sign = b[i] == '-' ? -1 : 1;
        ++i;
        if (i + 2 > n || !isDigit(b[i]) || !isDigit(b[i + 1])) return std::nullopt;
        const int offsetHours = twoDigits(b + i);
        i += 2;
        int offsetMinutes = 0;
        if (i < n) {
            if (b[i] == ':') ++i;
            if (i + 2 > n || !isDigit(b[i]) || !isDigit(b[i + 1])) return std::nullopt;
            offsetMinutes = twoDigits(b + i);
            i += 2;
        }
        if (offsetHours > 23 || offsetMinutes > 59) return std::nullopt;
        offsetSeconds = sign * (offsetHours * 3600 + offsetMinutes * 60);
    } else {
        return std::nullopt;
    }
    if (i != n) return std::nullopt;

    const int64_t seconds =
        daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offsetSeconds;
    return fraction + static_cast<double>(seconds);
}

std::optional<Date> parseISO8601Date(std::string_view text) {
    if (auto date = parseISO8601Timestamp(text)) return date;
    return parseISO8601Fallback(text);
}

std::optional<Date> dateFromNumericTimestamp(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double seconds = value > 1e10 ? value / 1000 : value;
    // Beyond the years 1 to 9999 a value describes no date an agent wrote.
    constexpr double earliest = -62135596800.0; // 0001-01-01T00:00:00Z
    constexpr double latest = 253402300799.0;   // 9999-12-31T23:59:59Z
    if (seconds < earliest || seconds > latest) return std::nullopt;
    return seconds;
}

} // namespace brindleaf
