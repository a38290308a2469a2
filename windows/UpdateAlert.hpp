#pragma once

#include "services/SoftwareUpdaterAlert.hpp"

namespace brindleaf {

// The software updater's alerts as modal message boxes.
class UpdateAlert final : public SoftwareUpdaterAlert {
public:
    void showAlert(const std::string& title, const std::string& message) override;
};

} // namespace brindleaf
