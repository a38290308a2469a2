#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brindleaf {

// How a working directory is split for display: the parent in the regular
// weight, the folder's own name in bold.
namespace WorkspacePathDisplay {

struct Parts {
    std::string parent; // up to and including the last "/", or empty
    std::string name;
    bool operator==(const Parts&) const = default;
};

// One piece of styled text. Shown as plain text, never as markup.
struct Run {
    std::string text;
    bool bold = false;
    bool operator==(const Run&) const = default;
};

// Trailing slashes go (a lone "/" stays); then the path splits after its last
// "/": "/Users/me/project/" gives ("/Users/me/", "project"), "project" gives
// ("", "project"), "//" gives ("", "/").
Parts parts(std::string_view path);

// The parent (regular, when not empty) followed by the bold name.
std::vector<Run> text(std::string_view path);

} // namespace WorkspacePathDisplay

} // namespace brindleaf
