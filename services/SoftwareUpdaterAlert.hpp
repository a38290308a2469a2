#pragma once

#include <string>

namespace brindleaf {

// Shows the software updater's alerts: a modal message with one button.
class SoftwareUpdaterAlert {
public:
    virtual ~SoftwareUpdaterAlert() = default;
    virtual void showAlert(const std::string& title, const std::string& message) = 0;
};

} // namespace brindleaf
