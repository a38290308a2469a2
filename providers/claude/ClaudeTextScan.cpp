#include "providers/claude/ClaudeTextScan.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>


namespace brindleaf::claudetext {

bool containsIgnoringCase(std::string_view text, std::string_view needle) {
    if (needle.empty()) return true;
    if (text.size() < needle.size()) return false;
    const char first = asciiLower(needle.front());
    const size_t last = text.size() - needle.size();
    for (size_t i = 0; i <= last; ++i) {
        if (asciiLower(text[i]) != first) continue;
        size_t j = 1;
        while (j < needle.size() && asciiLower(text[i + j]) == asciiLower(needle[j])) ++j;
        if (j == needle.size()) return true;
    }
    return false;
}

std::string asciiLowercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = asciiLower(c);
    return out;
}

std::string_view leadingIDRun(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
    int32_t end = 0;
    while (end < length) {
        int32_t next = end;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        const bool idChar = c == '_' || c == '-' ||
                            (c >= 0 && (u_hasBinaryProperty(c, UCHAR_ALPHABETIC) ||
                                        u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE));
        if (!idChar) break;
        end = next;
    }
    return text.substr(0, static_cast<size_t>(end));
}

} // namespace brindleaf::claudetext
