#include "app/BrindleafBarApp.hpp"
#include "app/shell/TrayApplication.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace brindleaf;
    if (!BrindleafBarApp::headlessMode(std::vector<std::string>(argv, argv + argc)))
        return TrayApplication::run(argc, argv);
    return BrindleafBarApp::main(argc, argv);
}
