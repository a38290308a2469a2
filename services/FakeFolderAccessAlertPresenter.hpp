#pragma once

#include "services/FolderAccessAlertPresenter.hpp"

#include <utility>
#include <vector>

namespace brindleaf {

// Keeps every alert's title and text, for tests.
class FakeFolderAccessAlertPresenter final : public FolderAccessAlertPresenter {
public:
    void showAlert(const std::string& title, const std::string& text) override { alerts.emplace_back(title, text); }

    std::vector<std::pair<std::string, std::string>> alerts;
};

} // namespace brindleaf
