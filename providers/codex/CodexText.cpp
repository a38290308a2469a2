#include "providers/codex/CodexText.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <memory>

namespace brindleaf::codex {

namespace {

// Length of the white-space or line-break character that starts at `i`, else 0.
std::size_t whitespaceAt(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
    if (c < 0xC2) return 0;
    const std::size_t left = text.size() - i;
    if (c == 0xC2 && left >= 2) {
        const auto d = static_cast<unsigned char>(text[i + 1]);
        return (d == 0x85 || d == 0xA0) ? 2 : 0;
    }
    if (left < 3) return 0;
    const auto d = static_cast<unsigned char>(text[i + 1]);
    const auto e = static_cast<unsigned char>(text[i + 2]);
    if (c == 0xE1 && d == 0x9A && e == 0x80) return 3;                 // U+1680
    if (c == 0xE2 && d == 0x80 && (e <= 0x8A || e == 0xA8 || e == 0xA9 || e == 0xAF)) return 3; // U+2000-200A, 2028, 2029, 202F
    if (c == 0xE2 && d == 0x81 && e == 0x9F) return 3;                 // U+205F
    if (c == 0xE3 && d == 0x80 && e == 0x80) return 3;                 // U+3000
    return 0;
}

// Length of the white-space character that ends right before `end`, else 0.
std::size_t whitespaceBefore(std::string_view text, std::size_t end) {
    std::size_t start = end - 1;
    // Step back over continuation bytes to the start of the last character.
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    return whitespaceAt(text, start) == end - start ? end - start : 0;
}

// Length of the line break that starts at `i`, else 0 (CR LF counts as one break).
std::size_t lineBreakAt(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r') return (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    if (c == '\n' || c == '\v' || c == '\f') return 1;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) return 2;
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80) {
        const auto e = static_cast<unsigned char>(text[i + 2]);
        if (e == 0xA8 || e == 0xA9) return 3;
    }
    return 0;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t len = whitespaceAt(text, start);
        if (len == 0) break;
        start += len;
    }
    std::size_t end = text.size();
    while (end > start) {
        const std::size_t len = whitespaceBefore(text, end);
        if (len == 0) break;
        end -= len;
    }
    return text.substr(start, end - start);
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t len = lineBreakAt(text, i);
        if (len == 0) {
            ++i;
            continue;
        }
        if (i > start) lines.push_back(text.substr(start, i - start));
        i += len;
        start = i;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string cleanedFirstLine(std::optional<std::string_view> text) {
    if (!text) return {};
    const std::string_view trimmed = trimWhitespaceAndNewlines(*text);
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < trimmed.size()) {
        const std::size_t len = lineBreakAt(trimmed, i);
        if (len == 0) {
            ++i;
            continue;
        }
        if (i > start) break;
        i += len;
        start = i;
    }
    return std::string(trimWhitespaceAndNewlines(trimmed.substr(start, i - start)));
}

std::optional<double> parseDecimalNumber(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t mantissaStart = i;
    std::size_t digits = 0;
    while (i < n && isDigit(text[i])) ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t exponentDigits = 0;
        while (i < n && isDigit(text[i])) ++i, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != n) return std::nullopt;
    double value = 0;
    // from_chars accepts no leading "+"; the sign is applied here.
    const auto result = std::from_chars(text.data() + mantissaStart, text.data() + n, value);
    if (result.ec != std::errc() || result.ptr != text.data() + n) return std::nullopt;
    if (!std::isfinite(value)) return std::nullopt;
    return (text[0] == '-') ? -value : value;
}

std::optional<int64_t> parseDecimalInteger(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::size_t start = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (start == text.size()) return std::nullopt;
    for (std::size_t i = start; i < text.size(); ++i)
        if (!isDigit(text[i])) return std::nullopt;
    int64_t value = 0;
    // Parse with the sign so that the most negative value fits.
    std::string_view digits = text[0] == '+' ? text.substr(1) : text;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) return std::nullopt;
    return value;
}

std::optional<int64_t> floorToInt64(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double floored = std::floor(value);
    // 2^63 is exactly representable; every double below it fits.
    if (floored < -9223372036854775808.0 || floored >= 9223372036854775808.0) return std::nullopt;
    return static_cast<int64_t>(floored);
}

std::optional<double> plausibleDate(double seconds) {
    constexpr double earliest = -62135596800.0; // 0001-01-01T00:00:00Z
    constexpr double latest = 253402300799.0;   // 9999-12-31T23:59:59Z
    if (!std::isfinite(seconds) || seconds < earliest || seconds > latest) return std::nullopt;
    return seconds;
}

std::string numberText(double value) {
    if (!std::isfinite(value)) return {};
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<int64_t>(value));
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

} // namespace brindleaf::codex
