#include "presentation/TimeOfDayPattern.hpp"

#include <cstddef>
#include <string_view>

namespace brindleaf::TimeOfDayPattern {

namespace {

// Length of the white space character (space, no-break space or narrow
// no-break space) that ends just before `end`, or 0.
std::size_t spaceBefore(std::string_view text, std::size_t end) {
    if (end >= 1 && text[end - 1] == ' ') return 1;
    if (end >= 2 && text.substr(end - 2, 2) == "\xC2\xA0") return 2;
    if (end >= 3 && text.substr(end - 3, 3) == "\xE2\x80\xAF") return 3;
    return 0;
}

// Length of the white space character that starts at `begin`, or 0.
std::size_t spaceAfter(std::string_view text, std::size_t begin) {
    if (begin < text.size() && text[begin] == ' ') return 1;
    if (text.substr(begin, 2) == "\xC2\xA0") return 2;
    if (text.substr(begin, 3) == "\xE2\x80\xAF") return 3;
    return 0;
}

} // namespace

std::string withoutTimeZone(const std::string& longPattern) {
    std::string result;
    bool quoted = false;
    for (std::size_t i = 0; i < longPattern.size();) {
        const char c = longPattern[i];
        if (c == '\'') quoted = !quoted;
        if (quoted || c != 't') {
            result += c;
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < longPattern.size() && longPattern[end] == 't') ++end;
        // "(t)": the parentheses go with the zone.
        if (!result.empty() && result.back() == '(' && end < longPattern.size() && longPattern[end] == ')') {
            result.pop_back();
            ++end;
        }
        if (const std::size_t before = spaceBefore(result, result.size())) {
            result.resize(result.size() - before);
        } else {
            while (const std::size_t after = spaceAfter(longPattern, end)) end += after;
        }
        i = end;
    }
    while (const std::size_t trailing = spaceBefore(result, result.size())) result.resize(result.size() - trailing);
    return result;
}

} // namespace brindleaf::TimeOfDayPattern
