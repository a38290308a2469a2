#include "presentation/SystemTrayIconSink.hpp"

namespace brindleaf {

void SystemTrayIconSink::showIcon(const StatusIconImageRef& image) {
    if (!trayIcon_ || !image) return;
    for (const auto& [known, icon] : converted_) {
        if (known == image) {
            trayIcon_->setIcon(icon);
            return;
        }
    }
    // Bounded: two loops of sixteen frames and their tints are plenty.
    if (converted_.size() >= 64) converted_.clear();
    converted_.emplace_back(image, image->toIcon());
    trayIcon_->setIcon(converted_.back().second);
}

} // namespace brindleaf
