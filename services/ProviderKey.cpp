#include "services/ProviderKey.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace brindleaf {

std::string providerKey(std::string_view providerName) {
    std::string trimmed(trimmedWhitespaceAndNewlines(providerName));
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
