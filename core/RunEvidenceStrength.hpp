#pragma once

#include <optional>
#include <string_view>

namespace brindleaf {

enum class RunEvidenceStrength { strongActive, strongComplete, weakRecent, healthOnly };

std::string_view toString(RunEvidenceStrength strength);
std::optional<RunEvidenceStrength> runEvidenceStrengthFromString(std::string_view raw);

} // namespace brindleaf
