#include "platform/FileEventSource.hpp"

#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brindleaf {

namespace {

constexpr uint32_t kWatchMask = IN_ONLYDIR | IN_DONT_FOLLOW | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

constexpr uint32_t kPathMask =
    IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

constexpr size_t kBufferSize = 64 * 1024;
// A folder changing faster than it is read must not keep read() busy forever:
// past this many full buffers the rest counts as lost.
constexpr int kMaxReadsPerCall = 32;

} // namespace

// Local file systems whose every change goes through this kernel, so inotify
// reports it. Network and FUSE file systems change behind its back; those that
// fold the case of names (vfat, exfat) report entries as stored, not as asked.
bool FileEventSource::reportsAllChanges(const std::string& path) {
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53UL:     // ext2, ext3, ext4
    case 0x58465342UL: // xfs
    case 0x9123683EUL: // btrfs
    case 0x01021994UL: // tmpfs
    case 0x858458F6UL: // ramfs
    case 0xF2F52010UL: // f2fs
    case 0x2FC12FC1UL: // zfs
    case 0xCA451A4EUL: // bcachefs
    case 0x794C7630UL: // overlayfs
    case 0x52654973UL: // reiserfs
    case 0x3153464AUL: // jfs
    case 0x3434UL:     // nilfs2
    case 0x73717368UL: // squashfs
    case 0x7366746EUL: // ntfs3
        return true;
    default:
        return false;
    }
}

std::unique_ptr<InotifyFileEventSource> InotifyFileEventSource::create() {
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::unique_ptr<InotifyFileEventSource>(new InotifyFileEventSource(fd));
}

InotifyFileEventSource::InotifyFileEventSource(int fd) : fd_(fd), buffer_(new char[kBufferSize]) {}

InotifyFileEventSource::~InotifyFileEventSource() {
    ::close(fd_);
}

std::optional<int> InotifyFileEventSource::watchFolder(const std::string& path) {
    if (!reportsAllChanges(path)) return std::nullopt;
    int watch = ::inotify_add_watch(fd_, path.c_str(), kWatchMask);
    if (watch < 0) return std::nullopt;
    return watch;
}

std::optional<int> InotifyFileEventSource::watchPath(const std::string& path) {
    if (!reportsAllChanges(path)) return std::nullopt;
    int watch = ::inotify_add_watch(fd_, path.c_str(), kPathMask);
    if (watch < 0) return std::nullopt;
    return watch;
}

void InotifyFileEventSource::unwatch(int watch) {
    ::inotify_rm_watch(fd_, watch);
}

FileEventSource::ReadResult InotifyFileEventSource::read() {
    ReadResult result;
    char* buffer = buffer_.get();
    for (int reads = 0;; ++reads) {
        if (reads == kMaxReadsPerCall) {
            result.overflowed = true;
            break;
        }
        ++readCalls_;
        ssize_t got = ::read(fd_, buffer, kBufferSize);
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) result.overflowed = true;
            break;
        }
        if (got == 0) {
            result.overflowed = true;
            break;
        }
        size_t offset = 0;
        const size_t length = static_cast<size_t>(got);
        while (offset + sizeof(inotify_event) <= length) {
            inotify_event header;
            std::memcpy(&header, buffer + offset, sizeof header);
            const char* namePtr = buffer + offset + sizeof(inotify_event);
            const size_t next = offset + sizeof(inotify_event) + header.len;
            if (next > length) {
                // A truncated record cannot come from the kernel; treat it as lost events.
                result.overflowed = true;
                break;
            }
            offset = next;
            if (header.mask & IN_Q_OVERFLOW) {
                result.overflowed = true;
                continue;
            }
            Event event;
            event.watch = header.wd;
            if (header.len > 0) event.name.assign(namePtr, ::strnlen(namePtr, header.len));
            if (header.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED)) {
                event.kind = Kind::FolderGone;
                event.name.clear();
                event.watchEnded = (header.mask & IN_IGNORED) != 0;
            } else if (header.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) {
                event.kind = Kind::EntryMoved;
            } else if (header.mask & (IN_MODIFY | IN_ATTRIB)) {
                event.kind = event.name.empty() ? Kind::FolderChanged : Kind::EntryChanged;
            } else {
                continue;
            }
            result.events.push_back(std::move(event));
        }
    }
    return result;
}

} // namespace brindleaf
