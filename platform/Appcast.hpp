#pragma once

#include "platform/AppcastItem.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// Reads an RSS 2.0 appcast: the items of its channel, with the update fields
// in the Sparkle namespace ("version" and "shortVersionString" on the item or
// its enclosure, "releaseNotesLink"), the item's description as release notes,
// and its link (else the enclosure's url) as download link. Items without a
// valid version or without an https download link are left out.
class Appcast {
public:
    static constexpr std::string_view updateNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";
    static constexpr std::size_t maxBytes = 1u << 20;
    static constexpr std::size_t maxItems = 1000;

    // The usable items in document order; none when the text is larger than
    // maxBytes, not well-formed or not an RSS document with a channel.
    static std::optional<std::vector<AppcastItem>> parse(std::string_view xml);

    // The newest item whose version is above the running version; none when
    // there is no such item, the running version is unreadable, or the newest
    // one's version is the skipped version.
    static std::optional<AppcastItem> bestUpdate(const std::vector<AppcastItem>& items, std::string_view runningVersion,
                                                 const std::optional<std::string>& skippedVersion);
};

} // namespace brindleaf
