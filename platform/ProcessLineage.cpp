#include "platform/ProcessLineage.hpp"

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace brindleaf {

namespace {

std::optional<std::string> readAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

ProcessLineage::ProcessLineage(std::string procRoot) : root_(std::move(procRoot)) {}

std::string ProcessLineage::path(int64_t pid, const char* leaf) const {
    return root_ + "/" + std::to_string(pid) + "/" + leaf;
}

bool ProcessLineage::isRunning(int64_t pid) const {
    struct stat info {};
    return pid > 0 && stat(path(pid, "").c_str(), &info) == 0;
}

std::optional<uint32_t> ProcessLineage::ownerOf(int64_t pid) const {
    struct stat info {};
    if (pid <= 0 || stat(path(pid, "").c_str(), &info) != 0) return std::nullopt;
    return info.st_uid;
}

std::optional<int64_t> ProcessLineage::parentOf(int64_t pid) const {
    const auto status = readAll(path(pid, "status"));
    if (!status) return std::nullopt;
    const auto at = status->find("\nPPid:");
    if (at == std::string::npos) return std::nullopt;
    try {
        const int64_t parent = std::stoll(status->substr(at + 6));
        if (parent <= 0) return std::nullopt;
        return parent;
    } catch (...) {
        return std::nullopt;
    }
}

std::vector<int64_t> ProcessLineage::ancestry(int64_t pid) const {
    std::vector<int64_t> chain;
    for (std::optional<int64_t> at = pid; at && *at > 1 && chain.size() < 64; at = parentOf(*at)) {
        if (!isRunning(*at)) break;
        chain.push_back(*at);
    }
    return chain;
}

bool ProcessLineage::hasTerminal(int64_t pid) const {
    const auto stat = readAll(path(pid, "stat"));
    if (!stat) return false;
    const auto close = stat->rfind(')');
    if (close == std::string::npos) return false;
    // After the name: state, ppid, pgrp, session, tty_nr.
    std::istringstream fields(stat->substr(close + 1));
    std::string state;
    long long ppid = 0, group = 0, session = 0, tty = 0;
    if (!(fields >> state >> ppid >> group >> session >> tty)) return false;
    return tty != 0;
}

std::string ProcessLineage::nameOf(int64_t pid) const {
    auto name = readAll(path(pid, "comm")).value_or("");
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
}

std::optional<std::map<std::string, std::string>> ProcessLineage::environmentOf(int64_t pid) const {
    const auto owner = ownerOf(pid);
    if (!owner || *owner != getuid()) return std::nullopt;
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::optional<std::string> text;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, file = path(pid, "environ")] {
        auto text = readAll(file);
        std::lock_guard lock(shared->mutex);
        shared->text = std::move(text);
        shared->finished = true;
        shared->done.notify_all();
    }).detach();
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, std::chrono::seconds(1), [&] { return shared->finished; })) return std::nullopt;
    if (!shared->text) return std::nullopt;
    std::map<std::string, std::string> environment;
    std::size_t start = 0;
    const std::string& text = *shared->text;
    while (start < text.size()) {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        const std::string entry = text.substr(start, end - start);
        if (const auto equals = entry.find('='); equals != std::string::npos && equals > 0)
            environment.emplace(entry.substr(0, equals), entry.substr(equals + 1));
        start = end + 1;
    }
    return environment;
}

} // namespace brindleaf
