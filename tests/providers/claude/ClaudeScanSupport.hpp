#pragma once

// A Claude home in a temporary folder, and process readers for scans.

#include "core/Date.hpp"
#include "core/ProcessResourceSampler.hpp"
#include "core/ProcessTree.hpp"
#include "providers/claude/ClaudeEngineLivenessIndex.hpp"
#include "providers/claude/ClaudeProviderConfig.hpp"
#include "tests/providers/claude/ClaudeFixtures.hpp"
#include "tests/support/TempDir.hpp"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace brindleaf::claudefixtures {

class ClaudeHome {
public:
    // The home lies below a folder named "subagents", as a user's may: only
    // folders below the projects folder make a transcript a sub-agent's.
    ClaudeHome() : root_(dir_ / "subagents" / "home") { std::filesystem::create_directories(root_); }

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path claudeHome() const { return root_ / ".claude"; }
    std::filesystem::path projects() const { return claudeHome() / "projects"; }
    std::filesystem::path tasksTemp() const { return root_ / "tmp"; }

    // A working directory that exists, so that processes can run in it.
    std::string workDir(const std::string& name) const {
        auto path = root_ / "work" / name;
        std::filesystem::create_directories(path);
        return path.string();
    }
    std::filesystem::path projectDir(const std::string& cwd) const {
        return projects() / ClaudeEngineLivenessIndex::projectKey(cwd);
    }

    std::filesystem::path write(const std::filesystem::path& path, const std::string& contents,
                                std::optional<Date> modifiedAt = std::nullopt) const {
        testing::writeFile(path, contents);
        if (modifiedAt) testing::setFileTime(path, *modifiedAt);
        return path;
    }

    std::filesystem::path transcript(const std::string& cwd, const std::string& sessionID, const Transcript& t,
                                     Date modifiedAt) const {
        return write(projectDir(cwd) / (sessionID + ".jsonl"), t.text(), modifiedAt);
    }

    void registerEngine(int64_t pid, const std::string& sessionID) const {
        write(claudeHome() / "sessions" / (std::to_string(pid) + ".json"),
              json{{"pid", pid}, {"sessionId", sessionID}, {"cwd", "/x"}, {"startedAt", 1}}.dump());
    }

    ClaudeProviderConfig config(double rescanInterval = 0) const {
        auto config = ClaudeProviderConfig::standard(root_.string(), rescanInterval);
        config.tasksTempRoot = tasksTemp().string();
        return config;
    }

private:
    testing::TempDir dir_;
    std::filesystem::path root_;
};

// The real process table cut down to this test process and its descendants,
// so engines elsewhere on the machine do not take part.
inline std::vector<ProcessResourceSample> ownProcesses() {
    const auto all = ProcessResourceSampler::sampleAll();
    const ProcessTree tree(all);
    std::vector<ProcessResourceSample> kept;
    for (const auto& sample : all) {
        int64_t pid = sample.pid;
        for (int depth = 0; depth < 20 && pid > 1; ++depth) {
            if (pid == getpid()) {
                kept.push_back(sample);
                break;
            }
            auto it = tree.byPID.find(pid);
            if (it == tree.byPID.end()) break;
            pid = it->second.parentPID;
        }
    }
    return kept;
}

// Waits until a process whose command begins with `prefix` is in the table.
inline bool waitForCommand(const std::string& prefix, int timeoutMs = 5000) {
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        for (const auto& sample : ownProcesses()) {
            if (sample.command.rfind(prefix, 0) == 0) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Whole seconds, so that timestamps written with milliseconds compare exactly.
inline Date wholeNow() { return std::floor(currentDate()); }

} // namespace brindleaf::claudefixtures
