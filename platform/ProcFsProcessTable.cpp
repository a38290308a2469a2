#include "platform/ProcFsProcessTable.hpp"

#include <cerrno>
#include <charconv>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace brindleaf {

namespace {

// Reads a whole /proc file into `out` (reused between calls). Most fit the
// stack buffer of one read; longer ones are appended chunk by chunk. A short
// read is the end: procfs hands out as much as asked while content remains,
// which spares a second read per file. False when it cannot be opened or read.
bool readWhole(const char* path, std::string& out) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    char buffer[4096];
    out.clear();
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < sizeof(buffer)) break;
    }
    ::close(fd);
    return ok;
}

// "/proc/PID/NAME" into a stack buffer.
struct ProcPath {
    char buffer[PATH_MAX];
    ProcPath(const std::string& root, int64_t pid, const char* name) {
        std::size_t length = root.size();
        if (length > sizeof(buffer) - 64) length = sizeof(buffer) - 64;
        root.copy(buffer, length);
        buffer[length++] = '/';
        auto [end, ec] = std::to_chars(buffer + length, buffer + length + 24, pid);
        (void)ec;
        length = static_cast<std::size_t>(end - buffer);
        buffer[length++] = '/';
        for (const char* c = name; *c && length < sizeof(buffer) - 1; ++c) buffer[length++] = *c;
        buffer[length] = '\0';
    }
    const char* c_str() const { return buffer; }
};

thread_local std::string scratch;

} // namespace

std::shared_ptr<ProcessTable> ProcessTable::system() {
    static const std::shared_ptr<ProcessTable> table = std::make_shared<ProcFsProcessTable>();
    return table;
}

ProcFsProcessTable::ProcFsProcessTable(std::string root)
    : root_(std::move(root)), ticksPerSecond_(::sysconf(_SC_CLK_TCK)), pageSize_(::sysconf(_SC_PAGESIZE)) {
    if (ticksPerSecond_ <= 0) ticksPerSecond_ = 100;
    if (pageSize_ <= 0) pageSize_ = 4096;
}

std::vector<int64_t> ProcFsProcessTable::allPIDs() {
    std::vector<int64_t> pids;
    DIR* dir = ::opendir(root_.c_str());
    if (!dir) return pids;
    pids.reserve(512);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (*name < '1' || *name > '9') continue;
        int64_t pid = 0;
        const char* end = name + std::char_traits<char>::length(name);
        auto [ptr, ec] = std::from_chars(name, end, pid);
        if (ec != std::errc() || ptr != end || pid < 1) continue;
        pids.push_back(pid);
    }
    ::closedir(dir);
    return pids;
}

std::optional<ProcessTable::Status> ProcFsProcessTable::parseStat(std::string_view contents, long ticksPerSecond,
                                                                  long pageSize) {
    // "pid (name) state ppid ..." — the name may hold anything, so fields are
    // counted from the last ')'.
    const std::size_t close = contents.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view rest = contents.substr(close + 1);
    // Field 3 (state) is the first after the name; we need 4, 14, 15 and 24.
    int64_t values[25] = {};
    int field = 2;
    std::size_t i = 0;
    while (field < 24) {
        while (i < rest.size() && rest[i] == ' ') ++i;
        if (i >= rest.size()) return std::nullopt;
        std::size_t start = i;
        while (i < rest.size() && rest[i] != ' ' && rest[i] != '\n') ++i;
        ++field;
        if (field == 4 || field == 14 || field == 15 || field == 24) {
            int64_t value = 0;
            auto [ptr, ec] = std::from_chars(rest.data() + start, rest.data() + i, value);
            if (ec != std::errc() || ptr != rest.data() + i) return std::nullopt;
            values[field] = value;
        }
    }
    Status status;
    status.parentPID = values[4];
    const int64_t ticks = values[14] + values[15];
    if (ticks >= 0 && values[24] >= 0) {
        TaskInfo task;
        task.cpuTimeNanoseconds =
            static_cast<uint64_t>(ticks) * (1000000000ULL / static_cast<uint64_t>(ticksPerSecond));
        task.residentMemoryBytes = values[24] * static_cast<int64_t>(pageSize);
        status.task = task;
    }
    return status;
}

std::optional<uint64_t> ProcFsProcessTable::parseStartTicks(std::string_view contents) {
    const std::size_t close = contents.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view rest = contents.substr(close + 1);
    // Fields are counted from 3, the first after the name.
    int field = 2;
    std::size_t i = 0;
    while (true) {
        while (i < rest.size() && rest[i] == ' ') ++i;
        if (i >= rest.size() || rest[i] == '\n') return std::nullopt;
        const std::size_t start = i;
        while (i < rest.size() && rest[i] != ' ' && rest[i] != '\n') ++i;
        if (++field < 22) continue;
        uint64_t ticks = 0;
        auto [ptr, ec] = std::from_chars(rest.data() + start, rest.data() + i, ticks);
        if (ec != std::errc() || ptr != rest.data() + i) return std::nullopt;
        return ticks;
    }
}

std::optional<uint64_t> ProcFsProcessTable::startTicks(int64_t pid) {
    ProcPath path(root_, pid, "stat");
    if (!readWhole(path.c_str(), scratch)) return std::nullopt;
    return parseStartTicks(scratch);
}

std::optional<ProcessTable::Status> ProcFsProcessTable::status(int64_t pid) {
    ProcPath path(root_, pid, "stat");
    if (!readWhole(path.c_str(), scratch)) return std::nullopt;
    return parseStat(scratch, ticksPerSecond_, pageSize_);
}

std::optional<std::string> ProcFsProcessTable::argumentArea(int64_t pid) {
    ProcPath path(root_, pid, "cmdline");
    if (!readWhole(path.c_str(), scratch)) return std::nullopt;
    return scratch;
}

std::optional<std::string> ProcFsProcessTable::shortName(int64_t pid) {
    ProcPath path(root_, pid, "comm");
    if (!readWhole(path.c_str(), scratch)) return std::nullopt;
    if (!scratch.empty() && scratch.back() == '\n') scratch.pop_back();
    return scratch;
}

std::optional<std::string> ProcFsProcessTable::workingDirectory(int64_t pid) {
    ProcPath path(root_, pid, "cwd");
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof(target));
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof(target)) return std::nullopt;
    return std::string(target, static_cast<std::size_t>(n));
}

} // namespace brindleaf
