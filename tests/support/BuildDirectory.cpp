#include "tests/support/BuildDirectory.hpp"

#include <cstdlib>
#include <system_error>

namespace brindleaf::testing {

std::filesystem::path buildDirectory() {
    if (const char* dir = std::getenv("BRINDLEAF_BINARY_DIR"); dir && *dir) return dir;
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return self.parent_path().parent_path();
}

} // namespace brindleaf::testing
