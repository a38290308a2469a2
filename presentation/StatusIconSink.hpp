#pragma once

#include "presentation/StatusIconImage.hpp"

namespace brindleaf {

// Where the tray icon's images go: the system tray icon in the application,
// a recorder in tests.
class StatusIconSink {
public:
    virtual ~StatusIconSink() = default;
    virtual void showIcon(const StatusIconImageRef& image) = 0;
};

} // namespace brindleaf
