#pragma once

#include "bench/generator/HomeRecipe.hpp"
#include "core/Date.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf::bench {

// One process a synthetic home expects to be running: what the process table
// should show for it (arguments, working directory) and, for an engine with
// shell tasks, the child it should hold.
struct LiveProcessPlan {
    std::string kind;                 // "claude-engine", "codex-app", "hermes-worker", "hermes-child", "hermes-gateway"
    std::vector<std::string> argv;    // argv[0] included
    std::string cwd;                  // empty: inherit
    std::string sessionId;            // the session or thread it serves
    std::vector<std::string> childArgv;  // empty: no child
};

// What a generator run wrote, enough to start its processes later.
struct GeneratedHome {
    std::filesystem::path root;       // the user's home folder
    HomeSize size = HomeSize::small;
    Date generatedAt = 0;
    uint64_t bytesWritten = 0;
    uint64_t filesWritten = 0;
    std::vector<LiveProcessPlan> processes;

    std::filesystem::path claudeHome() const { return root / ".claude"; }
    std::filesystem::path claudeDesktopHome() const { return root / ".config" / "Claude"; }
    std::filesystem::path codexHome() const { return root / ".codex"; }
    std::filesystem::path hermesHome() const { return root / ".hermes"; }
    std::filesystem::path manifestPath() const { return root / ".brindleaf-bench-home.json"; }

    // The manifest lets a later process (the benchmark, the tool) start the
    // processes of a home it did not write.
    void saveManifest() const;
    static std::optional<GeneratedHome> loadManifest(const std::filesystem::path& root);
};

// Writes a synthetic home in the agents' own file formats: Claude Code
// transcripts with sub-agent transcripts and the engines' session registry,
// the Codex state and log databases (write-ahead-log mode), rollouts, session
// index and managed process list, the Hermes session database, gateway state,
// process list and agent log. The same seed and time give the same home.
class HomeGenerator {
public:
    explicit HomeGenerator(HomeRecipe recipe, uint64_t seed = 0x5eed);

    // Writes below `root` (created; existing agent folders are replaced) with
    // every date relative to `now`. Files that name process ids get ids of no
    // running process until LiveProcessSet starts the planned processes.
    GeneratedHome write(const std::filesystem::path& root, Date now) const;

private:
    HomeRecipe spec_;
    uint64_t seed_;
};

// Writes the files that name the planned processes by process id: the Claude
// engines' session registry, Codex's managed chat-process list, Hermes's
// process list and gateway state. `pids[i]` belongs to `home.processes[i]`;
// 0 stands for a process that is not running (a long-gone id is written).
void writeProcessFiles(const GeneratedHome& home, const std::vector<int>& pids, Date now);

// The project key Claude Code names a project folder by: every character
// that is not an ASCII letter or digit becomes "-".
std::string claudeProjectKey(std::string_view path);

} // namespace brindleaf::bench
