#include "presentation/ScreenshotMode.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace brindleaf {

bool screenshotModeFromArguments(const std::vector<std::string>& arguments) {
    return std::find(arguments.begin(), arguments.end(), "--screenshot-mode") != arguments.end();
}

namespace {

// The arguments of this process, NUL-separated in /proc/self/cmdline.
std::vector<std::string> processArguments() {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    std::string::size_type start = 0;
    while (start < all.size()) {
        auto end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        arguments.emplace_back(all, start, end - start);
        start = end + 1;
    }
    return arguments;
}

} // namespace

bool isScreenshotMode() {
    static const bool flag = screenshotModeFromArguments(processArguments());
    return flag;
}

} // namespace brindleaf
