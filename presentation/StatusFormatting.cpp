#include "presentation/StatusFormatting.hpp"

#include "core/TextUtils.hpp"

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <charconv>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

namespace brindleaf::StatusFormatting {

std::string fixedDecimal(double value, int fractionDigits) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, fractionDigits);
    if (result.ec != std::errc()) return {};
    std::string text(buffer, result.ptr);
    if (text.size() > 1 && text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text = text.substr(1);
    return text;
}

namespace {

// One English formatter for the process; ICU formatters may be shared, the
// lock keeps the cached object's first construction and use simple.
struct RelativeFormatter {
    std::mutex mutex;
    std::unique_ptr<icu::RelativeDateTimeFormatter> formatter;

    RelativeFormatter() {
        UErrorCode status = U_ZERO_ERROR;
        formatter = std::make_unique<icu::RelativeDateTimeFormatter>(icu::Locale("en"), nullptr, UDAT_STYLE_LONG,
                                                                     UDISPCTX_CAPITALIZATION_NONE, status);
        if (U_FAILURE(status)) formatter.reset();
    }

    std::string format(double offset, URelativeDateTimeUnit unit) {
        std::lock_guard lock(mutex);
        if (!formatter) return {};
        icu::UnicodeString text;
        UErrorCode status = U_ZERO_ERROR;
        formatter->formatNumeric(offset, unit, text, status);
        if (U_FAILURE(status)) return {};
        std::string out;
        text.toUTF8String(out);
        return out;
    }
};

// The number a fixedDecimal() text stands for, read without the C locale.
double shownValue(const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

RelativeFormatter& relativeFormatter() {
    static RelativeFormatter shared;
    return shared;
}

} // namespace

std::string relativeTime(Date date, Date reference) {
    if (!std::isfinite(date) || !std::isfinite(reference)) return {};
    const double difference = date - reference;
    const double magnitude = std::fabs(difference);
    if (magnitude < 10) return "just now";
    // The largest unit that fits at least once, counted in whole units.
    struct Unit {
        double seconds;
        URelativeDateTimeUnit unit;
    };
    static const Unit units[] = {{365.0 * 86400, UDAT_REL_UNIT_YEAR},
                                 {30.0 * 86400, UDAT_REL_UNIT_MONTH},
                                 {7.0 * 86400, UDAT_REL_UNIT_WEEK},
                                 {86400, UDAT_REL_UNIT_DAY},
                                 {3600, UDAT_REL_UNIT_HOUR},
                                 {60, UDAT_REL_UNIT_MINUTE},
                                 {1, UDAT_REL_UNIT_SECOND}};
    for (const auto& unit : units) {
        if (magnitude < unit.seconds) continue;
        const double count = std::trunc(magnitude / unit.seconds);
        return relativeFormatter().format(difference < 0 ? -count : count, unit.unit);
    }
    return "just now";
}

std::optional<std::string> modelEffort(const std::optional<std::string>& model,
                                       const std::optional<std::string>& effort) {
    std::string m = model ? std::string(trimmedWhitespaceAndNewlines(*model)) : std::string();
    std::string e = effort ? std::string(trimmedWhitespaceAndNewlines(*effort)) : std::string();
    if (!m.empty() && !e.empty()) return m + " \u00B7 " + e;
    if (!m.empty()) return m;
    if (!e.empty()) return "Effort: " + e;
    return std::nullopt;
}

std::string cpuPercent(double percent) {
    if (!std::isfinite(percent)) return {};
    if (percent < 0.1) return "<0.1%";
    if (percent < 10) return fixedDecimal(percent, 1) + "%";
    return fixedDecimal(percent, 0) + "%";
}

std::string memory(std::int64_t bytes) {
    if (bytes < 0) {
        // Magnitude as an unsigned value, so the lowest int64 has one too.
        const auto magnitude = static_cast<std::uint64_t>(-(bytes + 1)) + 1;
        if (magnitude > static_cast<std::uint64_t>(INT64_MAX)) return "-8 EB";
        std::string text = "-";
        text += memory(static_cast<std::int64_t>(magnitude));
        return text;
    }
    if (bytes == 0) return "Zero KB";
    if (bytes == 1) return "1 byte";
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    // Fraction digits grow with the unit: none for KB, one for MB, two above.
    static const char* const names[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    static const int digits[] = {0, 1, 2, 2, 2, 2};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    // The unit is chosen for the number as shown: 1,048,575 bytes are
    // 1023.999 KB, which round to 1024 KB, so they read "1 MB".
    std::string number = fixedDecimal(value, digits[unit]);
    while (unit < 5 && shownValue(number) >= 1024.0) {
        value /= 1024.0;
        ++unit;
        number = fixedDecimal(value, digits[unit]);
    }
    // "212.0 MB" reads "212 MB": trailing zero decimals are dropped.
    if (number.find('.') != std::string::npos) {
        while (!number.empty() && number.back() == '0') number.pop_back();
        if (!number.empty() && number.back() == '.') number.pop_back();
    }
    return number + " " + names[unit];
}

std::optional<std::string> resourceLine(std::optional<double> cpu, std::optional<std::int64_t> memoryBytes,
                                        std::int64_t processCount) {
    std::vector<std::string> parts;
    if (cpu && std::isfinite(*cpu)) parts.push_back("CPU " + cpuPercent(*cpu));
    if (memoryBytes && *memoryBytes >= 0) parts.push_back(memory(*memoryBytes));
    if (processCount >= 2) parts.push_back(std::to_string(processCount) + " processes");
    if (parts.empty()) return std::nullopt;
    std::string line = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) line += " \u00B7 " + parts[i];
    return line;
}

} // namespace brindleaf::StatusFormatting
