#include "core/FileStat.hpp"

#include <sys/stat.h>

namespace brindleaf::FileStat {

std::optional<Info> info(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    Info result;
    result.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    result.modifiedAt = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
    return result;
}

std::optional<Date> modificationDate(const std::string& path) {
    if (auto stat = info(path)) return stat->modifiedAt;
    return std::nullopt;
}

} // namespace brindleaf::FileStat
