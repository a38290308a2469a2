#include "platform/DecimalText.hpp"

#include <charconv>
#include <vector>

namespace brindleaf {

namespace {

std::string written(double value, std::chars_format format, int precision) {
    if (precision < 0) precision = 0;
    char small[64];
    if (const auto result = std::to_chars(small, small + sizeof small, value, format, precision);
        result.ec == std::errc())
        return std::string(small, result.ptr);
    // The longest fixed form: 309 integer digits, a sign, the point and the fraction.
    std::vector<char> large(static_cast<std::size_t>(precision) + 320);
    const auto result = std::to_chars(large.data(), large.data() + large.size(), value, format, precision);
    return result.ec == std::errc() ? std::string(large.data(), result.ptr) : std::string();
}

} // namespace

std::string DecimalText::fixed(double value, int fractionDigits) {
    return written(value, std::chars_format::fixed, fractionDigits);
}

std::string DecimalText::general(double value, int significantDigits) {
    return written(value, std::chars_format::general, significantDigits);
}

std::optional<double> DecimalText::read(std::string_view text, std::size_t& used) {
    // from_chars takes no "+" before the number; strtod does.
    const std::size_t sign = !text.empty() && text[0] == '+' && (text.size() < 2 || text[1] != '-') ? 1 : 0;
    double value = 0;
    const char* first = text.data() + sign;
    const auto result = std::from_chars(first, text.data() + text.size(), value);
    if (result.ec != std::errc()) return std::nullopt;
    used = static_cast<std::size_t>(result.ptr - text.data());
    return value;
}

} // namespace brindleaf
