#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// An absolute http or https address, as read by libcurl's URL parser. Text
// with blanks or control characters, a user name or password, another scheme
// or no host is not a web address.
struct WebAddress {
    std::string text;   // the address as given
    std::string scheme; // "http" or "https", lower case
    std::string host;   // lower case; an IPv6 host keeps its brackets

    static std::optional<WebAddress> parse(std::string_view text);

    bool isHTTPS() const { return scheme == "https"; }
    // Plain http to this machine: "localhost", 127.0.0.0/8 or [::1].
    bool isLoopbackHTTP() const;
};

} // namespace brindleaf
