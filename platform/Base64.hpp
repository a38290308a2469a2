#pragma once

#include <optional>
#include <string>
#include <string_view>

// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks).
namespace brindleaf::Base64 {

// The bytes as base64 text, padded to a multiple of four characters.
std::string encode(std::string_view bytes);

// The bytes of a padded base64 text; absent when the length is not a multiple
// of four, a character is outside the alphabet, or "=" appears anywhere but as
// the last one or two characters. Unused low bits of the last digit are ignored.
std::optional<std::string> decode(std::string_view text);

} // namespace brindleaf::Base64
