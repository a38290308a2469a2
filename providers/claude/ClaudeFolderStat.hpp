#pragma once

#include "core/FileStat.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <optional>

namespace brindleaf::claudefolder {

// FileStat::info of an entry of an open folder, looked up relative to the
// folder (one path component instead of the whole path). Links are followed
// unless `flags` holds AT_SYMLINK_NOFOLLOW.
inline std::optional<FileStat::Info> infoAt(int folderFD, const char* name, struct stat& st, int flags = 0) {
    if (::fstatat(folderFD, name, &st, flags) != 0) return std::nullopt;
    FileStat::Info result;
    result.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    result.modifiedAt = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
    return result;
}

inline std::optional<FileStat::Info> infoAt(int folderFD, const char* name) {
    struct stat st {};
    return infoAt(folderFD, name, st);
}

} // namespace brindleaf::claudefolder
