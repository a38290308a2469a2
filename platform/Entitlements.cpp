#include "platform/Entitlements.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf {

namespace {

constexpr off_t maximumEntitlementsSize = 1024 * 1024;

std::optional<std::string> readSmall(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maximumEntitlementsSize) {
        ::close(fd);
        return std::nullopt;
    }
    std::string contents(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    while (done < contents.size()) {
        ssize_t got = ::read(fd, contents.data() + done, contents.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    ::close(fd);
    contents.resize(done);
    return contents;
}

} // namespace

Entitlements Entitlements::current() {
    std::error_code ec;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || executable.empty()) return Entitlements();
    return loadFromFolder(executable.parent_path());
}

Entitlements Entitlements::loadFromFolder(const std::filesystem::path& folder) {
    Entitlements entitlements;
    auto text = readSmall(folder / fileName);
    if (!text) return entitlements;
    auto document = nlohmann::json::parse(*text, nullptr, false);
    if (document.is_object()) entitlements.document_ = std::move(document);
    return entitlements;
}

std::optional<nlohmann::json> Entitlements::value(const std::string& key) const {
    if (!document_.is_object()) return std::nullopt;
    auto it = document_.find(key);
    if (it == document_.end() || it->is_null()) return std::nullopt;
    return *it;
}

} // namespace brindleaf
