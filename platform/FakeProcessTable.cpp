#include "platform/FakeProcessTable.hpp"

#include <algorithm>

namespace brindleaf {

void FakeProcessTable::set(Process process) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it =
        std::find_if(processes_.begin(), processes_.end(), [&](const Process& p) { return p.pid == process.pid; });
    if (it != processes_.end())
        *it = std::move(process);
    else
        processes_.push_back(std::move(process));
}

void FakeProcessTable::remove(int64_t pid) {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase_if(processes_, [&](const Process& p) { return p.pid == pid; });
}

void FakeProcessTable::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    processes_.clear();
}

void FakeProcessTable::setListingHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    hook_ = std::move(hook);
}

std::string FakeProcessTable::arguments(const std::vector<std::string>& args) {
    std::string area;
    for (const auto& arg : args) {
        area += arg;
        area += '\0';
    }
    return area;
}

std::vector<int64_t> FakeProcessTable::allPIDs() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(lock_);
        hook = hook_;
        ++listings_;
    }
    if (hook) hook();
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<int64_t> pids;
    for (const auto& p : processes_) pids.push_back(p.pid);
    return pids;
}

std::optional<FakeProcessTable::Process> FakeProcessTable::find(int64_t pid) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& p : processes_)
        if (p.pid == pid) return p;
    return std::nullopt;
}

std::optional<ProcessTable::Status> FakeProcessTable::status(int64_t pid) {
    auto p = find(pid);
    if (!p || !p->statusReadable) return std::nullopt;
    return Status{p->parentPID, p->task};
}

std::optional<std::string> FakeProcessTable::argumentArea(int64_t pid) {
    auto p = find(pid);
    return p ? p->argumentArea : std::nullopt;
}

std::optional<std::string> FakeProcessTable::shortName(int64_t pid) {
    auto p = find(pid);
    return p ? p->shortName : std::nullopt;
}

std::optional<std::string> FakeProcessTable::workingDirectory(int64_t pid) {
    auto p = find(pid);
    return p ? p->workingDirectory : std::nullopt;
}

std::optional<uint64_t> FakeProcessTable::startTicks(int64_t pid) {
    auto p = find(pid);
    return p && p->statusReadable ? p->startTicks : std::nullopt;
}

int FakeProcessTable::listingCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return listings_;
}

} // namespace brindleaf
