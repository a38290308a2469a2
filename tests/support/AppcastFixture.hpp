#pragma once

#include <string>
#include <vector>

namespace brindleaf::testing {

// One appcast item with the update fields on the enclosure, as a release
// server writes them.
std::string appcastItem(const std::string& version, const std::string& displayVersion,
                        const std::string& link = "https://quorvale.com/en/brindleaf/",
                        const std::string& notes = "Fixes.");

// An RSS 2.0 appcast holding the items.
std::string appcastDocument(const std::vector<std::string>& items);

} // namespace brindleaf::testing
