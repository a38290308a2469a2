#pragma once

#include <string>
#include <vector>

namespace brindleaf {

// What the command line asks for: a headless mode (looked for first, in
// BrindleafBarApp's order), the usage, the version, a refusal of an option
// nobody knows, or the tray application.
namespace CommandLine {

struct Decision {
    enum class Kind { runApplication, runHeadlessMode, printUsage, printVersion, refuseOption, refuseWatchFormat };
    Kind kind = Kind::runApplication;
    // refuseOption, refuseWatchFormat: the option as given.
    std::string option;
};

// Looks at the arguments after argument 0 in their order. An argument
// beginning with "-" that is neither "--help", "-h", "--version", a launch
// flag, a headless mode nor one of Qt's own options (whose value, when they
// take one, is passed over as the next argument) is refused, beside a mode
// too, and so is a --watch whose value is neither "json" nor "text"
// (refuseWatchFormat). With a headless mode among the arguments, that mode runs (whatever
// "--help" or "--version" stand beside it); without one, the first of
// "--help"/"-h", "--version" or an unknown option decides. Other arguments are
// left alone.
Decision decide(const std::vector<std::string>& arguments);

// The texts printed for each decision; every line ends with "\n".
std::string usage();
std::string version();
std::string refusal(const std::string& option);
std::string watchFormatRefusal(const std::string& option);

} // namespace CommandLine

} // namespace brindleaf
