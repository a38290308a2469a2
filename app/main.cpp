#include "app/BrindleafBarApp.hpp"
#include "app/CommandLine.hpp"
#include "app/shell/TrayApplication.hpp"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace brindleaf;
    const std::vector<std::string> arguments(argv, argv + argc);
    const auto decision = CommandLine::decide(arguments);
    switch (decision.kind) {
    case CommandLine::Decision::Kind::printUsage:
        std::fputs(CommandLine::usage().c_str(), stdout);
        return 0;
    case CommandLine::Decision::Kind::printVersion:
        std::fputs(CommandLine::version().c_str(), stdout);
        return 0;
    case CommandLine::Decision::Kind::refuseOption:
        std::fputs(CommandLine::refusal(decision.option).c_str(), stderr);
        return 2;
    case CommandLine::Decision::Kind::refuseWatchFormat:
        std::fputs(CommandLine::watchFormatRefusal(decision.option).c_str(), stderr);
        return 2;
    case CommandLine::Decision::Kind::runHeadlessMode:
        return BrindleafBarApp::main(argc, argv);
    case CommandLine::Decision::Kind::runApplication:
        break;
    }
    return TrayApplication::run(argc, argv);
}
