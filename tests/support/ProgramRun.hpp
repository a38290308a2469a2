#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace brindleaf::testing {

// What a finished program left behind.
struct ProgramRun {
    int exitStatus = -1; // the exit status, or 128 + the signal that ended it
    std::string standardOutput;
    std::string standardError;
};

// Runs a program to completion with exactly the given arguments (argument 0
// is the program's path) and environment ("NAME=value" entries), with an
// empty standard input, and collects both output streams.
ProgramRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment);

} // namespace brindleaf::testing
