#include "core/TolerantJSON.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>
#include <vector>

namespace brindleaf {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether `token` is one JSON number: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool isJSONNumber(std::string_view token) {
    size_t i = 0;
    const size_t n = token.size();
    if (i < n && token[i] == '-') ++i;
    if (i >= n || !isDigit(token[i])) return false;
    if (token[i] == '0') {
        ++i;
    } else {
        while (i < n && isDigit(token[i])) ++i;
    }
    if (i < n && token[i] == '.') {
        ++i;
        if (i >= n || !isDigit(token[i])) return false;
        while (i < n && isDigit(token[i])) ++i;
    }
    if (i < n && (token[i] == 'e' || token[i] == 'E')) {
        ++i;
        if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
        if (i >= n || !isDigit(token[i])) return false;
        while (i < n && isDigit(token[i])) ++i;
    }
    return i == n;
}

bool isInteger(std::string_view token) { return token.find_first_of(".eE") == std::string_view::npos; }

// Whether a valid number token too far from zero for a double lies above the
// double range (rather than below it, where it reads as zero).
bool liesAboveDoubleRange(std::string_view token) {
    size_t i = token[0] == '-' ? 1 : 0;
    const size_t integerStart = i;
    while (i < token.size() && isDigit(token[i])) ++i;
    const size_t integerEnd = i;
    int64_t magnitude = 0; // decimal exponent of the first significant digit
    bool significant = false;
    for (size_t k = integerStart; k < integerEnd; ++k) {
        if (token[k] != '0') {
            magnitude = static_cast<int64_t>(integerEnd - k) - 1;
            significant = true;
            break;
        }
    }
    if (i < token.size() && token[i] == '.') {
        const size_t fractionStart = ++i;
        while (i < token.size() && isDigit(token[i])) {
            if (!significant && token[i] != '0') {
                magnitude = -static_cast<int64_t>(i - fractionStart) - 1;
                significant = true;
            }
            ++i;
        }
    }
    if (!significant) return false;
    int64_t exponent = 0;
    if (i < token.size()) { // 'e' or 'E'
        ++i;
        bool negative = false;
        if (token[i] == '+' || token[i] == '-') negative = token[i++] == '-';
        constexpr int64_t bound = int64_t{1} << 40; // far beyond any double exponent
        for (; i < token.size(); ++i) exponent = std::min(bound, exponent * 10 + (token[i] - '0'));
        if (negative) exponent = -exponent;
    }
    return magnitude + exponent > 0;
}

// How one valid number token is read.
enum class NumberReading { asIs, asDouble, absent };

NumberReading reading(std::string_view token, double& value) {
    if (isInteger(token)) {
        const char* end = token.data() + token.size();
        if (token[0] == '-') {
            int64_t integer;
            if (std::from_chars(token.data(), end, integer).ec == std::errc()) return NumberReading::asIs;
        } else {
            uint64_t integer;
            if (std::from_chars(token.data(), end, integer).ec == std::errc()) return NumberReading::asIs;
        }
    }
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    if (result.ec == std::errc()) return isInteger(token) ? NumberReading::asDouble : NumberReading::asIs;
    if (result.ec == std::errc::result_out_of_range && liesAboveDoubleRange(token)) return NumberReading::absent;
    return NumberReading::asIs;
}

struct Container {
    bool isObject = false;
    size_t memberStart = 0;     // where the current member begins in the output
    bool dropNextComma = false; // the member before the next comma was dropped
};

} // namespace

std::optional<std::string> TolerantJSON::withRepresentableNumbers(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    std::vector<Container> open;
    bool changed = false;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (c == '"') {
            size_t j = i + 1;
            while (j < n && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
            j = std::min(j + 1, n);
            out.append(text.substr(i, j - i));
            i = j;
        } else if (c == '{' || c == '[') {
            out.push_back(c);
            open.push_back(Container{c == '{', out.size(), false});
            ++i;
        } else if (c == '}' || c == ']') {
            if (!open.empty()) open.pop_back();
            out.push_back(c);
            ++i;
        } else if (c == ',') {
            ++i;
            if (!open.empty() && open.back().isObject) {
                Container& object = open.back();
                if (object.dropNextComma) {
                    object.dropNextComma = false;
                } else {
                    out.push_back(c);
                }
                object.memberStart = out.size();
            } else {
                out.push_back(c);
            }
        } else if (c == '-' || isDigit(c)) {
            size_t j = i + 1;
            while (j < n && (isDigit(text[j]) || text[j] == '.' || text[j] == 'e' || text[j] == 'E' || text[j] == '+' ||
                             text[j] == '-'))
                ++j;
            const std::string_view token = text.substr(i, j - i);
            i = j;
            double value = 0;
            const NumberReading how = isJSONNumber(token) ? reading(token, value) : NumberReading::asIs;
            if (how == NumberReading::asIs) {
                out.append(token);
                continue;
            }
            changed = true;
            if (how == NumberReading::asDouble) {
                char digits[32];
                const auto written =
                    std::to_chars(digits, digits + sizeof digits, value, std::chars_format::scientific);
                out.append(digits, written.ptr);
            } else if (!open.empty() && open.back().isObject) {
                // The member is dropped with one comma next to it.
                Container& object = open.back();
                out.resize(object.memberStart);
                if (object.memberStart > 0 && out.back() == ',') {
                    out.pop_back();
                    object.memberStart = out.size();
                } else {
                    object.dropNextComma = true;
                }
            } else {
                out.append("null");
            }
        } else {
            out.push_back(c);
            ++i;
        }
    }
    if (!changed) return std::nullopt;
    return out;
}

simdjson::simdjson_result<simdjson::dom::element> TolerantJSON::parse(simdjson::dom::parser& parser, const char* data,
                                                                      size_t length, bool padded) {
    auto result = parser.parse(data, length, !padded);
    if (result.error() != simdjson::NUMBER_ERROR) return result;
    const auto repaired = withRepresentableNumbers(std::string_view(data, length));
    if (!repaired) return result;
    // The parsed document keeps copies of its strings; the repaired text may go.
    return parser.parse(*repaired);
}

} // namespace brindleaf
