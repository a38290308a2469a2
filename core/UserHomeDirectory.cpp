#include "core/UserHomeDirectory.hpp"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace brindleaf::UserHomeDirectory {

namespace {

std::optional<std::string> passwordDatabaseHome() {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::size_t size = suggested > 0 ? static_cast<std::size_t>(suggested) : 16384;
    for (int attempt = 0; attempt < 6; ++attempt) {
        std::vector<char> buffer(size);
        struct passwd entry {};
        struct passwd* found = nullptr;
        const int rc = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE) {
            size *= 4;
            continue;
        }
        if (rc != 0 || !found || !found->pw_dir) return std::nullopt;
        return std::string(found->pw_dir);
    }
    return std::nullopt;
}

std::optional<std::string> environmentHome() {
    if (const char* home = std::getenv("HOME")) return std::string(home);
    return std::nullopt;
}

} // namespace

std::string choose(const std::optional<std::string>& passwordHome, const std::optional<std::string>& environmentHome) {
    if (passwordHome && !passwordHome->empty()) return *passwordHome;
    return environmentHome.value_or(std::string());
}

const std::string& path() {
    static const std::string home = choose(passwordDatabaseHome(), environmentHome());
    return home;
}

std::string url() {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string result = "file://";
    for (unsigned char c : path()) {
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '/' || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            result += static_cast<char>(c);
        } else {
            result += '%';
            result += hex[c >> 4];
            result += hex[c & 15];
        }
    }
    if (result.back() != '/') result += '/';
    return result;
}

} // namespace brindleaf::UserHomeDirectory
