#include "services/ProviderKey.hpp"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace brindleaf {

namespace {

bool isWhitespaceOrNewline(UChar32 c) {
    if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
    const auto type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

} // namespace

std::string trimmedWhitespaceAndNewlines(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());

    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !isWhitespaceOrNewline(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !isWhitespaceOrNewline(c)) break;
        end = previous;
    }
    return std::string(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

std::string providerKey(std::string_view providerName) {
    std::string trimmed = trimmedWhitespaceAndNewlines(providerName);
    bool ascii = true;
    for (unsigned char c : trimmed) {
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        for (char& c : trimmed) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return trimmed;
    }
    std::string lowered;
    icu::UnicodeString::fromUTF8(trimmed).toLower(icu::Locale::getRoot()).toUTF8String(lowered);
    return lowered;
}

} // namespace brindleaf
