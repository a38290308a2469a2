#include "app/InstanceName.hpp"

#include <cstdint>
#include <cstdio>

namespace brindleaf::InstanceName {

namespace fs = std::filesystem;

std::string forUser(uid_t user, const fs::path& home) {
    // One home, however it is written: through its links when it exists, else
    // without "." and ".." steps and without a trailing slash.
    std::error_code error;
    fs::path same = fs::canonical(home, error);
    if (error) same = home.lexically_normal();
    std::string text = same.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    // FNV-1a: the same on every start and every build.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "brindleaf-instance-%u-%016llx", static_cast<unsigned>(user),
                  static_cast<unsigned long long>(hash));
    return name;
}

} // namespace brindleaf::InstanceName
