#include "presentation/WorkspacePathDisplay.hpp"

namespace brindleaf::WorkspacePathDisplay {

Parts parts(std::string_view path) {
    while (path.size() >= 2 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    if (path.size() >= 2 && slash != std::string_view::npos)
        return {std::string(path.substr(0, slash + 1)), std::string(path.substr(slash + 1))};
    return {std::string(), std::string(path)};
}

std::vector<Run> text(std::string_view path) {
    Parts split = parts(path);
    std::vector<Run> runs;
    if (!split.parent.empty()) runs.push_back({std::move(split.parent), false});
    runs.push_back({std::move(split.name), true});
    return runs;
}

} // namespace brindleaf::WorkspacePathDisplay
