#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The parts of the freedesktop.org Desktop Entry format the application reads
// and writes (autostart entries).
namespace brindleaf::DesktopEntry {

// The value of `key` in the "[Desktop Entry]" group of a file's contents, with
// the string escapes (\s \n \t \r \\) undone; absent when the key is missing.
// Localised variants ("Name[de]") are other keys.
std::optional<std::string> value(std::string_view contents, std::string_view key);

// Whether a Boolean key holds "true" / "false" (anything else is neither).
bool isTrue(const std::optional<std::string>& value);
bool isFalse(const std::optional<std::string>& value);

// A text as a string value: backslashes, line breaks, tabs, carriage returns
// and a leading space escaped.
std::string escapeValue(std::string_view text);

// The arguments as an Exec value (before escapeValue): each argument that holds
// a reserved character (space, tab, line break, " ' \ > < ~ | & ; $ * ? # ( ) `)
// is put in double quotes with " ` $ \ escaped by a backslash, and every "%"
// is written "%%" so that it is no field code.
std::string execCommand(const std::vector<std::string>& arguments);

} // namespace brindleaf::DesktopEntry
