#pragma once

#include <set>
#include <string>

namespace brindleaf::testing {

// What a Wayland client told its compositor, read from the requests
// libwayland writes to standard error under WAYLAND_DEBUG=client.
namespace WaylandProtocolLog {

// The titles of the top-level windows shown at the log's end: a toplevel
// made, titled, not destroyed, whose surface last had a buffer attached.
std::set<std::string> shownToplevels(const std::string& log);

// The lines of standard error that are not protocol messages: what the
// program or its libraries said themselves.
std::string otherLines(const std::string& log);

} // namespace WaylandProtocolLog

} // namespace brindleaf::testing
