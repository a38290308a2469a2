#include "core/SafeFileReader.hpp"

#include "platform/RegularFile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf::SafeFileReader {

namespace {

// An open descriptor of a regular file, closed on every path.
class RegularFile {
public:
    explicit RegularFile(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0) return;
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        size_ = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    ~RegularFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    uint64_t size() const { return size_; }

    // Reads up to `length` bytes at `offset` into `out` (resized to what was
    // read). False on a read error.
    bool readAt(uint64_t offset, std::size_t length, std::string& out) const {
        out.resize(length);
        std::size_t done = 0;
        while (done < length) {
            ssize_t n = ::pread(fd_, out.data() + done, length - done, static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        out.resize(done);
        return true;
    }

    // Reads up to `length` bytes at `offset` into `destination`; `done` is what was read.
    bool readInto(uint64_t offset, std::size_t length, char* destination, std::size_t& done) const {
        done = 0;
        while (done < length) {
            ssize_t n = ::pread(fd_, destination + done, length - done, static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

} // namespace

std::optional<Tail> readTail(const std::string& path, std::size_t maxBytes) {
    RegularFile file(path);
    if (!file.isOpen()) return std::nullopt;
    Tail tail;
    tail.fileSize = file.size();
    tail.offset = tail.fileSize > maxBytes ? tail.fileSize - maxBytes : 0;
    const std::size_t length = static_cast<std::size_t>(tail.fileSize - tail.offset);
    if (!file.readAt(tail.offset, length, tail.bytes)) return std::nullopt;
    return tail;
}

std::optional<std::string> readSmallFile(const std::string& path, std::size_t maxBytes) {
    return readRegularFile(path, maxBytes);
}

std::optional<Range> readRange(const std::string& path, uint64_t offset, std::size_t length, char* destination) {
    RegularFile file(path);
    if (!file.isOpen()) return std::nullopt;
    Range range;
    range.fileSize = file.size();
    if (!file.readInto(offset, length, destination, range.bytesRead)) return std::nullopt;
    return range;
}

} // namespace brindleaf::SafeFileReader
