#pragma once

#include <optional>

namespace brindleaf {

// When to try again after a tray registration failed: a watcher that has just
// taken its name may not answer for its object yet, or may refuse an item for
// a moment while its host starts. The first retry comes a quarter of a second
// after the first failure, each wait twice the one before, the last at ten
// seconds after the first failure; then no more.
namespace RegistrationBackoff {

inline constexpr double firstDelay = 0.25;
inline constexpr double giveUpAfter = 10;

// The wait before the next attempt after `failures` failed attempts in a row
// (1 for the first); none once the attempts have taken their time.
std::optional<double> delayAfter(int failures);

} // namespace RegistrationBackoff

} // namespace brindleaf
