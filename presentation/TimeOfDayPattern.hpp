#pragma once

#include <string>

namespace brindleaf {

// The time of day in the locale's standard style: hours, minutes and seconds
// without the time zone ("9:26:03 AM", "09:26:03", "9時26分03秒").
namespace TimeOfDayPattern {

// The locale's long time pattern (Qt's "h:mm:ss AP t", in UTF-8) without its
// time-zone field: every unquoted run of "t" goes, with the parentheses
// directly around it and the white space that separated it from the rest.
// Quoted literals stay as they are.
std::string withoutTimeZone(const std::string& longPattern);

} // namespace TimeOfDayPattern

} // namespace brindleaf
