#pragma once

#include "core/ProviderDescriptor.hpp"

#include <vector>

namespace brindleaf {

// The fixed list of agents, in order: "codex", "claude", "hermes".
namespace ProviderCatalog {

const std::vector<ProviderDescriptor>& all();

} // namespace ProviderCatalog

} // namespace brindleaf
