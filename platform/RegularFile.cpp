#include "platform/RegularFile.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf {

std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const std::uint64_t size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    if (size > maxBytes) return std::nullopt;

    // Reading one byte more than allowed tells a file that grew past the cap since fstat.
    const std::size_t want = maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1;
    constexpr std::size_t growthStep = 64 * 1024;
    std::string contents(std::min(static_cast<std::size_t>(size) + 1, want), '\0');
    std::size_t done = 0;
    while (done < want) {
        if (done == contents.size()) contents.resize(done + std::min(growthStep, want - done));
        const ssize_t got = ::read(fd, contents.data() + done, contents.size() - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    if (done > maxBytes) return std::nullopt;
    contents.resize(done);
    return contents;
}

} // namespace brindleaf
