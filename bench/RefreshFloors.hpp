#pragma once

#include "bench/generator/HomeGenerator.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace brindleaf::bench {

// The floor of a refresh: the raw stat, read and /proc calls that a refresh of
// the same home cannot avoid, done with plain system calls and no parsing.
// What to touch is worked out once, outside the measurement.
struct RefreshFloorPlan {
    // Claude Code
    std::string claudeProjects;
    std::vector<std::string> claudeProjectFolders;  // first level of "projects"
    std::vector<std::string> claudeNewest;           // the 80 newest transcripts
    std::vector<std::string> claudeDeepPass;         // of those, the ones active within 8 hours
    std::string claudeSessions;                      // the engines' registry folder
    std::string claudeDesktop;                       // the desktop app's session folders
    // Codex
    std::vector<std::string> codexDatabases;          // state and log database with their "-wal" files
    std::string codexStateDatabase;
    std::string codexLogDatabase;
    std::vector<std::string> codexRollouts;           // rollouts of the threads a scan considers
    std::string codexSessionIndex;
    std::string codexManagedProcesses;
    // Hermes
    std::vector<std::string> hermesStatFiles;         // state.db, its "-wal", the agent log
    std::string hermesStateDatabase;
    std::string hermesAgentLog;
    std::vector<std::string> hermesSmallFiles;        // gateway_state.json, processes.json

    static RefreshFloorPlan forHome(const GeneratedHome& home, Date now);
};

// Each returns a count of what it touched, so the work cannot be optimised away.
uint64_t processTableFloor();                        // one /proc walk: stat, cmdline, cwd of each process
uint64_t claudeWarmFloor(const RefreshFloorPlan& plan);
uint64_t claudeWalkFloor(const RefreshFloorPlan& plan);   // warm, when the listing is walked again
uint64_t claudeColdFloor(const RefreshFloorPlan& plan);   // without the process table
uint64_t codexWarmFloor(const RefreshFloorPlan& plan);
uint64_t codexColdFloor(const RefreshFloorPlan& plan, Date now);
uint64_t hermesWarmFloor(const RefreshFloorPlan& plan);
uint64_t hermesColdFloor(const RefreshFloorPlan& plan);

} // namespace brindleaf::bench
