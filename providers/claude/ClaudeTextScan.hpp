#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text searches used on transcript texts and process command lines.
namespace brindleaf::claudetext {

inline bool contains(std::string_view text, std::string_view needle) {
    return text.find(needle) != std::string_view::npos;
}

inline char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive search for an ASCII needle.
bool containsIgnoringCase(std::string_view text, std::string_view needle);

std::string asciiLowercased(std::string_view text);

// The longest run at the start of `text` of letters, numeric characters, "_" and "-".
std::string_view leadingIDRun(std::string_view text);

} // namespace brindleaf::claudetext
