#pragma once

#include "services/FolderPicker.hpp"

#include <deque>
#include <vector>

namespace brindleaf {

// Answers each request with the next queued choice (cancelling when none is
// left) and keeps the requests, for tests.
class FakeFolderPicker final : public FolderPicker {
public:
    std::optional<std::string> chooseFolder(const Request& request) override {
        requests.push_back(request);
        if (answers.empty()) return std::nullopt;
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<std::optional<std::string>> answers; // absent: the user cancels
    std::vector<Request> requests;
};

} // namespace brindleaf
