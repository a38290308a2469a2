#pragma once

#include "core/TextUtils.hpp"

#include <string>
#include <string_view>

namespace brindleaf {

// The key a provider's display name is stored under: trimmed and lower-cased
// ("Claude Code" gives "claude code").
std::string providerKey(std::string_view providerName);

} // namespace brindleaf
