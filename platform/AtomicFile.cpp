#include "platform/AtomicFile.hpp"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf::AtomicFile {

namespace {

constexpr std::string_view temporaryInfix = ".tmp-";
constexpr std::size_t temporarySuffixLength = 6; // mkostemp's XXXXXX

bool writeAll(int fd, std::string_view text, const WriteFunction& write) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write ? write(fd, text.data() + written, text.size() - written)
                                : ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

std::string temporaryPrefix(const std::filesystem::path& path) {
    std::string prefix = ".";
    prefix.append(path.filename().string()).append(temporaryInfix);
    return prefix;
}

bool isTemporaryName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + temporarySuffixLength || !name.starts_with(prefix)) return false;
    for (char c : name.substr(prefix.size())) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit) return false;
    }
    return true;
}

} // namespace

std::optional<Failure> replaceContents(const std::filesystem::path& path, std::string_view contents,
                                       const WriteFunction& write) {
    std::string temporary = (path.parent_path() / (temporaryPrefix(path) + "XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return Failure{Failure::Step::createTemporary, errno};
    std::optional<Failure> failure;
    if (::fchmod(fd, 0600) != 0 || !writeAll(fd, contents, write) || ::fsync(fd) != 0)
        failure = Failure{Failure::Step::write, errno};
    if (::close(fd) != 0 && !failure) failure = Failure{Failure::Step::write, errno};
    if (!failure && ::rename(temporary.c_str(), path.c_str()) != 0) failure = Failure{Failure::Step::replace, errno};
    if (failure) ::unlink(temporary.c_str());
    return failure;
}

std::size_t removeAbandonedTemporaries(const std::filesystem::path& path, std::chrono::system_clock::time_point now,
                                       std::chrono::seconds minimumAge) {
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    const std::string prefix = temporaryPrefix(path);
    const int folderFD = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFD < 0) return 0;
    DIR* listing = ::fdopendir(folderFD);
    if (!listing) {
        ::close(folderFD);
        return 0;
    }
    const auto latest = now - minimumAge;
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (!isTemporaryName(entry->d_name, prefix)) continue;
        struct stat info {};
        if (::fstatat(folderFD, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
        const auto modified =
            std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
        if (modified >= latest) continue;
        if (::unlinkat(folderFD, entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(listing);
    return removed;
}

} // namespace brindleaf::AtomicFile
