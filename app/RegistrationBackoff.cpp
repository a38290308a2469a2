#include "app/RegistrationBackoff.hpp"

#include <algorithm>

namespace brindleaf::RegistrationBackoff {

std::optional<double> delayAfter(int failures) {
    if (failures < 1) return std::nullopt;
    // The waits before the attempts so far: firstDelay, then twice the one
    // before, the last cut short at giveUpAfter.
    double waited = 0;
    double delay = firstDelay;
    for (int failure = 1; failure < failures; ++failure) {
        waited += std::min(delay, giveUpAfter - waited);
        delay *= 2;
    }
    if (waited >= giveUpAfter) return std::nullopt;
    return std::min(delay, giveUpAfter - waited);
}

} // namespace brindleaf::RegistrationBackoff
