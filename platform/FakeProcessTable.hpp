#pragma once

#include "platform/ProcessTable.hpp"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// A process table held in memory, for tests. Processes are listed in the
// order they were added.
class FakeProcessTable final : public ProcessTable {
public:
    struct Process {
        int64_t pid = 0;
        int64_t parentPID = 0;
        std::optional<TaskInfo> task{};
        std::optional<std::string> argumentArea{}; // NUL-terminated arguments
        std::optional<std::string> shortName{};
        std::optional<std::string> workingDirectory{};
        bool statusReadable = true;
        std::optional<uint64_t> startTicks{};
    };

    // Adds or replaces a process (a replaced one keeps its place in the listing).
    void set(Process process);
    void remove(int64_t pid);
    void clear();

    // Runs before every allPIDs() (a test can block a sampling with it).
    void setListingHook(std::function<void()> hook);

    // Builds an argument area from arguments.
    static std::string arguments(const std::vector<std::string>& args);

    std::vector<int64_t> allPIDs() override;
    std::optional<Status> status(int64_t pid) override;
    std::optional<std::string> argumentArea(int64_t pid) override;
    std::optional<std::string> shortName(int64_t pid) override;
    std::optional<std::string> workingDirectory(int64_t pid) override;
    std::optional<uint64_t> startTicks(int64_t pid) override;

    int listingCount() const;

private:
    std::optional<Process> find(int64_t pid) const;

    mutable std::mutex lock_;
    std::vector<Process> processes_;
    std::function<void()> hook_;
    int listings_ = 0;
};

} // namespace brindleaf
