#pragma once

#include <optional>
#include <string>

namespace brindleaf {

// The user's home directory as the password database records it for the real
// user id, with $HOME as the fallback. Computed once per process.
namespace UserHomeDirectory {

const std::string& path();

// path() as a file URL naming a directory ("file:///home/ann/").
std::string url();

// The choice itself: the password entry's home when present and not empty,
// else the environment's home (the empty text when that is absent too).
std::string choose(const std::optional<std::string>& passwordHome, const std::optional<std::string>& environmentHome);

} // namespace UserHomeDirectory

} // namespace brindleaf
