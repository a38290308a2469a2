#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// Runs a program (looked up on PATH) with standard input and error on
// /dev/null and returns what it wrote to standard output when it exited with
// status 0 within `seconds`. A program still running then is killed and
// reaped; it, a failure to start and any other exit give nothing.
class BoundedCommand {
public:
    static std::optional<std::string> run(const std::vector<std::string>& arguments, double seconds);
};

} // namespace brindleaf
