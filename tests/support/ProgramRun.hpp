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

// The texts as the NULL-ended array of C strings that exec and spawn take; it
// points into `texts`, which must outlive it.
std::vector<char*> cStringArray(std::vector<std::string>& texts);

// What a shell command line printed on standard output; empty when it could
// not be run.
std::string shellOutput(const std::string& command);

} // namespace brindleaf::testing
