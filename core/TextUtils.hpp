#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// The first non-empty line of `text` (split at LF, VT, FF, CR, CR LF, U+0085,
// U+2028, U+2029; the whole text when there is no non-empty line), cut to
// `limit` user-perceived characters (extended grapheme clusters) followed by
// "..." when it is longer.
std::string firstLineTruncated(std::size_t limit, std::string_view text);

// The text, or absent when it is absent or empty.
std::optional<std::string> nonEmptyString(std::optional<std::string_view> text);

// The number of user-perceived characters (extended grapheme clusters) of the
// text, ill-formed UTF-8 sequences counting as one U+FFFD each.
std::size_t userPerceivedLength(std::string_view text);

// True when the bytes are well-formed UTF-8.
bool isValidUTF8(std::string_view bytes);

// The bytes with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string repairUTF8(std::string_view bytes);

// The text without leading and trailing white space and line breaks: tab, LF
// through CR, U+0085 and the Unicode space, line and paragraph separators (the
// Unicode White_Space property). Ill-formed UTF-8 stops the trim.
std::string_view trimmedWhitespaceAndNewlines(std::string_view text);

} // namespace brindleaf
