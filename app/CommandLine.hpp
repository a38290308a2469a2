#pragma once

#include <string>
#include <vector>

namespace brindleaf {

// What the command line asks for when it names no headless mode (those are
// looked for first, BrindleafBarApp): the usage, the version, a refusal of an
// option nobody knows, or the tray application.
namespace CommandLine {

struct Decision {
    enum class Kind { runApplication, printUsage, printVersion, refuseOption };
    Kind kind = Kind::runApplication;
    // refuseOption: the option as given.
    std::string option;
};

// Looks at the arguments after argument 0 in their order; the first that
// decides wins: "--help" or "-h", "--version", or an argument beginning with
// "-" that is neither a launch flag, a headless mode nor one of Qt's own
// options (whose value, when they take one, is passed over as the next
// argument). Other arguments are left alone.
Decision decide(const std::vector<std::string>& arguments);

// The texts printed for each decision; every line ends with "\n".
std::string usage();
std::string version();
std::string refusal(const std::string& option);

} // namespace CommandLine

} // namespace brindleaf
