#include "core/RunEvidenceStrength.hpp"

namespace brindleaf {

std::string_view toString(RunEvidenceStrength strength) {
    switch (strength) {
    case RunEvidenceStrength::strongActive: return "strongActive";
    case RunEvidenceStrength::strongComplete: return "strongComplete";
    case RunEvidenceStrength::weakRecent: return "weakRecent";
    case RunEvidenceStrength::healthOnly: return "healthOnly";
    }
    return "healthOnly";
}

std::optional<RunEvidenceStrength> runEvidenceStrengthFromString(std::string_view raw) {
    if (raw == "strongActive") return RunEvidenceStrength::strongActive;
    if (raw == "strongComplete") return RunEvidenceStrength::strongComplete;
    if (raw == "weakRecent") return RunEvidenceStrength::weakRecent;
    if (raw == "healthOnly") return RunEvidenceStrength::healthOnly;
    return std::nullopt;
}

} // namespace brindleaf
