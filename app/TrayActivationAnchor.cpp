#include "app/TrayActivationAnchor.hpp"

namespace brindleaf {

TrayActivationAnchor::Point TrayActivationAnchor::activated(std::optional<Point> hostPosition, Point pointer) {
    const bool known = hostPosition && !(hostPosition->x == 0 && hostPosition->y == 0);
    last_ = known ? *hostPosition : pointer;
    return *last_;
}

} // namespace brindleaf
