#include "windows/FrameSaveThrottle.hpp"

namespace brindleaf {

bool FrameSaveThrottle::changed(double now) {
    if (hasSaved_ && now - lastSave_ < interval_) return false;
    saved(now);
    return true;
}

void FrameSaveThrottle::saved(double now) {
    hasSaved_ = true;
    lastSave_ = now;
}

double FrameSaveThrottle::dueAt() const { return hasSaved_ ? lastSave_ + interval_ : 0; }

} // namespace brindleaf
