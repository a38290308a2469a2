#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

// Helpers shared by the fuzz harnesses.
namespace brindleaf::fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Stops the run with a message: libFuzzer keeps the input that did it.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

// A private file for parsers that read from a path, rewritten with each input
// and removed at exit.
class ScratchFile {
public:
    ScratchFile() {
        // In memory where possible: a disk file costs more than the parse.
        std::string name =
            ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/brindleaf-fuzz-XXXXXX" : "/tmp/brindleaf-fuzz-XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd < 0) fail("cannot create a scratch file");
        ::close(fd);
        path_ = name;
    }
    ~ScratchFile() { ::unlink(path_.c_str()); }

    const std::string& write(std::string_view contents) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) fail("cannot open the scratch file");
        std::size_t done = 0;
        while (done < contents.size()) {
            const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
            if (n <= 0) fail("cannot write the scratch file");
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
        return path_;
    }

private:
    std::string path_;
};

} // namespace brindleaf::fuzz
