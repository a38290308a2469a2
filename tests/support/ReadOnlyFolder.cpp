#include "tests/support/ReadOnlyFolder.hpp"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace brindleaf::testing {

namespace {

// Whether the calling thread's effective set holds CAP_DAC_OVERRIDE; turns it
// on or off when `change` is given. The raw calls act on this thread alone.
bool dacOverride(const bool* change = nullptr) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    const std::uint32_t bit = CAP_TO_MASK(CAP_DAC_OVERRIDE);
    const bool held = (data[CAP_TO_INDEX(CAP_DAC_OVERRIDE)].effective & bit) != 0;
    if (!change) return held;
    if (*change)
        data[CAP_TO_INDEX(CAP_DAC_OVERRIDE)].effective |= bit;
    else
        data[CAP_TO_INDEX(CAP_DAC_OVERRIDE)].effective &= ~bit;
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace

ReadOnlyFolder::ReadOnlyFolder(std::filesystem::path folder) : folder_(std::move(folder)) {
    mode_ = std::filesystem::status(folder_).permissions();
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                              std::filesystem::perms::group_read | std::filesystem::perms::group_exec |
                                              std::filesystem::perms::others_read |
                                              std::filesystem::perms::others_exec);
    const bool off = false;
    if (dacOverride()) droppedOverride_ = dacOverride(&off);
}

ReadOnlyFolder::~ReadOnlyFolder() {
    const bool on = true;
    if (droppedOverride_) dacOverride(&on);
    std::error_code ignored;
    std::filesystem::permissions(folder_, mode_, ignored);
}

bool ReadOnlyFolder::holds() const {
    const auto probe = folder_ / ".read-only-probe";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return true;
    ::close(fd);
    ::unlink(probe.c_str());
    return false;
}

ReadOnlyFile::ReadOnlyFile(std::filesystem::path file) : file_(std::move(file)) {
    mode_ = std::filesystem::status(file_).permissions();
    std::filesystem::permissions(file_, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                            std::filesystem::perms::others_read);
    const bool off = false;
    if (dacOverride()) droppedOverride_ = dacOverride(&off);
}

ReadOnlyFile::~ReadOnlyFile() {
    const bool on = true;
    if (droppedOverride_) dacOverride(&on);
    std::error_code ignored;
    std::filesystem::permissions(file_, mode_, ignored);
}

bool ReadOnlyFile::holds() const {
    const int writable = ::open(file_.c_str(), O_RDWR | O_CLOEXEC);
    if (writable >= 0) {
        ::close(writable);
        return false;
    }
    const int readable = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (readable < 0) return false;
    ::close(readable);
    return true;
}

} // namespace brindleaf::testing
