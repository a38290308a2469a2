#pragma once

#include <cstdint>
#include <string>

namespace brindleaf {

// Appends the UTF-8 bytes of one Unicode scalar value (callers pass values up
// to U+10FFFF that are not surrogates).
void appendUTF8(std::string& out, std::uint32_t codePoint);

} // namespace brindleaf
