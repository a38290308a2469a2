#include "platform/AtomicFile.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf::AtomicFile {

namespace {

constexpr std::string_view temporaryInfix = ".tmp-";

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

} // namespace brindleaf::AtomicFile
