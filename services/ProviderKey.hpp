#pragma once

#include <string>
#include <string_view>

namespace brindleaf {

// The text without leading and trailing whitespace and line breaks (Unicode
// separators, tab, LF through CR and U+0085). Ill-formed UTF-8 stops the trim.
std::string trimmedWhitespaceAndNewlines(std::string_view text);

// The key a provider's display name is stored under: trimmed and lower-cased
// ("Claude Code" gives "claude code").
std::string providerKey(std::string_view providerName);

} // namespace brindleaf
